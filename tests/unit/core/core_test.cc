#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "core/asio_executor.h"
#include "core/dirty_region.h"
#include "core/display_text.h"
#include "core/manual_executor.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

TEST(ManualExecutor, RunsTasksInTimeThenPostingOrderEachAtItsTimeAndNeverCancelledOnes) {
  ManualExecutor executor;
  const TimePoint start = executor.now();
  std::vector<std::pair<int, Duration>> runs;
  auto record = [&](int id) { return [&, id] { runs.emplace_back(id, executor.now() - start); }; };
  executor.postAfter(2s, record(3));
  executor.post(record(1));
  executor.postAfter(1s, [&] { record(2)(), executor.post(record(25)); });  // due at once, before the 2 s task
  executor.postAfter(1s, record(-1)).cancel();
  DelayedWork debounce;
  debounce.schedule(executor, 1s, record(-2));
  debounce.schedule(executor, 3s, record(4));  // replaces the one before
  EXPECT_EQ(executor.runUntilIdle(), 1u);
  EXPECT_EQ(executor.advance(999ms), 0u);
  executor.advance(5s);
  EXPECT_EQ(runs, (std::vector<std::pair<int, Duration>>{{1, 0s}, {2, 1s}, {25, 1s}, {3, 2s}, {4, 3s}}));
  EXPECT_EQ(std::tuple(executor.now() - start, executor.pendingCount()), std::tuple(5999ms, 0u));
}

TEST(AsioExecutor, RunsOnItsOwnNamedThreadAndCancelledTimersDoNotFire) {
  AsioExecutor executor("velmora.hub-and-more");
  std::atomic<int> fired{0};
  executor.postAfter(50ms, [&] { fired += 1; }).cancel();
  std::promise<std::string> name;
  executor.postAfter(100ms, [&] {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name.set_value(executor.isCurrent() ? buffer : "not current");
  });
  EXPECT_EQ(name.get_future().get(), "velmora.hub-and");  // the 15 bytes a thread name has
  EXPECT_EQ(std::tuple(executor.isCurrent(), fired.load()), std::tuple(false, 0));
}

TEST(Rect, IntegralWidensOutwardsAndTouchingIsNotDisjoint) {
  EXPECT_EQ(std::tuple(Rect{0.5, 1.25, 2.0, 3.5}.integral(), Rect{63.5, 0, 1, 1}.integral()),
            std::tuple(Rect{0, 1, 3, 4}, Rect{63, 0, 2, 1}));
  const Rect frame{0, 0, 100, 50};
  EXPECT_EQ(std::tuple(frame.intersection({90, 40, 20, 20}), frame.intersection({200, 0, 10, 10}).has_value()),
            std::tuple(Rect{90, 40, 10, 10}, false));
  EXPECT_TRUE(frame.intersection({100, 0, 10, 10}).value().isEmpty() && !frame.intersects({100, 0, 10, 10}));
  EXPECT_EQ((Rect{0, 0, 10, 10}.unionWith({20, 5, 5, 10})), (Rect{0, 0, 25, 15}));
}

TEST(DirtyRegion, UnknownAbsorbsAndLongListsAreMergedStillCoveringEverything) {
  DirtyRegion region = DirtyRegion::none();
  std::vector<Rect> added;
  for (int i = 0; i <= 64; ++i) {
    region.add(DirtyRegion::of({added.emplace_back(i * 40.0, i % 2 * 300.0, 10, 10)}));
    EXPECT_EQ(region.rects().size(), i < 64 ? added.size() : 8u);  // merged only past the limit
  }
  for (const Rect& rect : added) {
    EXPECT_TRUE(std::ranges::any_of(region.rects(), [&](const Rect& r) { return r.unionWith(rect) == r; })) << rect;
  }
  DirtyRegion unknown = region, absorbing = DirtyRegion::unknown();
  unknown.add(DirtyRegion::unknown());
  absorbing.add(region);
  EXPECT_EQ(std::tuple(unknown, absorbing, unknown.rects().size()), std::tuple(DirtyRegion::unknown(), unknown, 0u));
  EXPECT_NE(DirtyRegion::none(), DirtyRegion::unknown());
}

TEST(DisplayableText, ShowsNoControlOrReorderingCharactersAndCapsTheLength) {
  const std::string bad = "\uFFFD";
  const std::tuple<std::string, size_t, std::string> cases[] = {
      {"Pixel 8 ☺ 日本", 40, "Pixel 8 ☺ 日本"},
      {"\x1b[31mPhone\nPIN\r\t\x7f 000000\u0085", 40, "[31mPhonePIN 000000"},
      {"a\u202eb\u2066c\u200bd\ufeffe\u00adf\u061cg\u200fh", 40, "abcdefgh"},
      {"a\x80z\xff", 40, "a" + bad + "z" + bad},
      {"日本語", 2, "日本…"},
      {"\x1b\x1b\x1b日本", 2, "日本"},  // what is hidden does not count
      {std::string(41, 'x'), 40, std::string(40, 'x') + "…"}};
  for (const auto& [text, max, shown] : cases) EXPECT_EQ(displayableText(text, max), shown) << text;
  // Overlong forms and surrogates decode to nothing that could pass for a character.
  for (const char* invalid : {"\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    const std::string shown = displayableText(invalid);
    EXPECT_TRUE(shown.starts_with(bad) && shown.find_first_not_of(bad) == std::string::npos) << invalid;
  }
}

}  // namespace
}  // namespace vistaro
