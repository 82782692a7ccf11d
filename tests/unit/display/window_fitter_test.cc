#include "display/window_fitter.h"

#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/display/fake_window_service.h"

using namespace std::chrono_literals;

namespace vistaro {
namespace {

TEST(WindowFitterGeometry, WindowsAreMovedInAndShrunkOnlyAsFarAsTheyMust) {
  const Rect target{0, 25, 1180, 795};
  EXPECT_EQ(fittedFrame({100, 50, 1600, 1000}, target), (Rect{0, 25, 1180, 795}));
  EXPECT_EQ(fittedFrame({1000, 700, 400, 300}, target), (Rect{780, 520, 400, 300}));
  EXPECT_EQ(fittedFrame({10, 30, 400, 300}, target), (Rect{10, 30, 400, 300}));
  struct Case {
    Rect frame;
    bool reachable;
  } cases[] = {
      {{1130, 100, 600, 900}, false},  // 50 points of its width inside
      {{1100, 100, 600, 900}, true},   // 80 points
      {{-520, 100, 600, 900}, true},
      {{-530, 100, 600, 900}, false},
      {{100, 23, 600, 900}, false},    // title bar above the area
      {{100, 24, 600, 900}, true},
      {{100, 790, 600, 900}, true},    // 30 points of it still inside at the bottom
      {{100, 791, 600, 900}, false},
      {{1150, 100, 40, 900}, false},   // a narrow one must be wholly inside
  };
  for (const Case& c : cases) EXPECT_EQ(isReachable(c.frame, target), c.reachable) << c.frame;
}

class WindowFitterTest : public ::testing::Test {
 protected:
  WindowFitterTest() {
    desktop.add(1, "XTerm", "shell", {100, 50, 1600, 1000});
    desktop.add(2, "XTerm", "", {1000, 700, 400, 300});
    desktop.add(3, "Big", "needs room", {0, 0, 900, 900}, 900, 900);
  }
  void settle() {
    while (queue.runUntilIdle() + main.runUntilIdle() > 0) {
    }
  }
  void remember() {
    bool done = false;
    fitter.remember([&] { done = true; });
    settle();
    ASSERT_TRUE(done);
  }
  void restore() { fitter.restore({}), settle(); }

  ManualExecutor main;
  ManualExecutor queue;
  testing::FakeWindowService desktop;
  testing::FakeStoredWindowFrames stored;
  WindowFitter fitter{{main, queue, desktop, stored}};
};

TEST_F(WindowFitterTest, FitsKeepsAndPutsBackEveryWindow) {
  remember();
  ASSERT_TRUE(stored.frames);
  EXPECT_EQ(stored.frames->size(), 3u);
  EXPECT_EQ((*stored.frames)[1], (StoredFrame{"XTerm", "", 1, {1000, 700, 400, 300}}));
  desktop.frameOf(2) = {10, 30, 400, 300};
  remember();  // remembered already: the frames from before fit mode stay
  EXPECT_EQ(stored.writes, 1);

  desktop.active = 1;
  fitter.fit(1, true);
  settle();
  EXPECT_EQ(desktop.frameOf(1), desktop.area);
  EXPECT_EQ(desktop.frameOf(2), (Rect{10, 30, 400, 300}));  // inside already
  EXPECT_EQ(desktop.frameOf(3), (Rect{0, 25, 900, 900}));   // cannot be smaller
  fitter.fit(7, true);  // no such display
  const int writes = desktop.writes;
  settle();
  EXPECT_EQ(desktop.writes, writes);

  // A pass leaves what is inside, learns what refuses to shrink and stops asking it.
  fitter.keep(1), settle();
  EXPECT_EQ(desktop.writes, writes + 1);
  fitter.keep(1), settle();
  EXPECT_EQ(desktop.writes, writes + 1);
  desktop.frameOf(3).x = 1130;  // dragged until 50 points are inside
  fitter.keep(1), settle();
  EXPECT_EQ(desktop.frameOf(3), (Rect{280, 25, 900, 900}));
  desktop.frameOf(3).x = 1100;  // 80 points: the user can still reach it
  fitter.keep(1), settle();
  EXPECT_EQ(desktop.frameOf(3).x, 1100);

  desktop.add(4, "Gedit", "notes", {900, 600, 500, 400});  // opened during fit mode
  fitter.keep(1), settle();
  EXPECT_EQ(desktop.frameOf(4), (Rect{680, 420, 500, 400}));
  EXPECT_EQ(stored.frames->back(), (StoredFrame{"Gedit", "notes", 0, {900, 600, 500, 400}}));

  restore();
  EXPECT_EQ(desktop.frameOf(1), (Rect{100, 50, 1600, 1000}));
  EXPECT_EQ(desktop.frameOf(2), (Rect{1000, 700, 400, 300}));
  EXPECT_EQ(desktop.frameOf(3), (Rect{0, 0, 900, 900}));
  EXPECT_EQ(desktop.frameOf(4), (Rect{900, 600, 500, 400}));
  EXPECT_FALSE(stored.frames);
  EXPECT_FALSE(fitter.hasStoredFrames());
  fitter.keep(1), settle();  // nothing remembered: nothing kept
  EXPECT_EQ(desktop.frameOf(1), (Rect{100, 50, 1600, 1000}));
}

// After a crash the record is all there is: windows are found by title, else by place.
TEST_F(WindowFitterTest, ARecordFromAnEarlierRunFindsItsWindows) {
  desktop.close(3);
  desktop.add(5, "XTerm", "shell", {5, 5, 50, 50});
  stored.frames = std::vector<StoredFrame>{{"XTerm", "shell", 0, {1, 1, 11, 11}},
                                           {"XTerm", "", 1, {3, 3, 33, 33}},
                                           {"XTerm", "shell", 2, {2, 2, 22, 22}},
                                           {"Gone", "", 0, {4, 4, 44, 44}}};
  EXPECT_TRUE(fitter.hasStoredFrames());
  restore();
  EXPECT_EQ(desktop.frameOf(1), (Rect{1, 1, 11, 11}));
  EXPECT_EQ(desktop.frameOf(2), (Rect{3, 3, 33, 33}));  // untitled: by its place
  EXPECT_EQ(desktop.frameOf(5), (Rect{2, 2, 22, 22}));  // the second of that title
  EXPECT_FALSE(stored.frames);

  stored.frames = std::vector<StoredFrame>{};  // could not be read: matches nothing, and goes
  restore();
  EXPECT_FALSE(stored.frames);
}

// A window that closes during fit mode leaves the record, and the windows after it move up a place:
// after a crash, no other window is put where the closed one was.
TEST_F(WindowFitterTest, AClosedWindowLeavesTheRecordWithItsPlace) {
  desktop.close(3);
  desktop.desktop[0].window.title = "";
  remember();
  desktop.close(1);
  fitter.keep(1), settle();
  ASSERT_TRUE(stored.frames);
  EXPECT_EQ(*stored.frames, (std::vector<StoredFrame>{{"XTerm", "", 0, {1000, 700, 400, 300}}}));
  desktop.frameOf(2) = {0, 0, 10, 10};
  WindowFitter relaunched{{main, queue, desktop, stored}};
  relaunched.restore({}), settle();
  EXPECT_EQ(desktop.frameOf(2), (Rect{1000, 700, 400, 300}));
}

TEST_F(WindowFitterTest, APutBackThatHangsEndsAfterTheLimit) {
  remember();
  bool done = false;
  fitter.restore([&] { done = true; });
  main.advance(WindowFitter::kRestoreLimit - 1ms);  // the queue never gets to run: a program hangs
  EXPECT_FALSE(done);
  main.advance(1ms);
  EXPECT_TRUE(done);
  settle();  // the late end does not report twice, and still clears the record
  EXPECT_FALSE(stored.frames);
}

}  // namespace
}  // namespace vistaro
