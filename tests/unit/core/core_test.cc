#include <gtest/gtest.h>

#include <algorithm>

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
  executor.advance(5999ms);
  EXPECT_EQ(runs, (std::vector<std::pair<int, Duration>>{{1, 0s}, {2, 1s}, {25, 1s}, {3, 2s}, {4, 3s}}));
  EXPECT_EQ(std::tuple(executor.now() - start, executor.pendingCount()), std::tuple(5999ms, 0u));
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
  EXPECT_EQ(std::tuple(unknown, absorbing, DirtyRegion::none() == DirtyRegion::unknown()),
            std::tuple(DirtyRegion::unknown(), unknown, false));
}

// Overlong forms and surrogates decode to nothing that could pass for a character.
TEST(DisplayableText, ShowsNoControlOrReorderingCharactersAndCapsTheLength) {
  const std::string bad = "\uFFFD";
  const std::tuple<std::string, size_t, std::string> cases[] = {
      {"Pixel 8 ☺ 日本", 40, "Pixel 8 ☺ 日本"},
      {"\x1b[31mPhone\nPIN\r\t\x7f 000000\u0085", 40, "[31mPhonePIN 000000"},
      {"a\u202eb\u2066c\u200bd\ufeffe\u00adf\u061cg\u200fh", 40, "abcdefgh"},
      {"a\x80z\xff", 40, "a" + bad + "z" + bad},
      {"\x1b\x1b\x1b日本語", 2, "日本…"},  // what is hidden does not count
      {std::string(40, 'x'), 40, std::string(40, 'x')}};
  for (const auto& [text, max, shown] : cases) EXPECT_EQ(displayableText(text, max), shown) << text;
  const std::string invalid = displayableText("\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82");
  EXPECT_TRUE(invalid.starts_with(bad) && invalid.find_first_not_of(bad) == std::string::npos) << invalid;
}

}  // namespace
}  // namespace vistaro
