#include "input/focus_tracker.h"

#include <gtest/gtest.h>

#include "core/manual_executor.h"
#include "fakes/input/fake_accessibility.h"

namespace vistaro::testing {
namespace {

using std::chrono::milliseconds;
using Request = AccessibilityRequest;
using Answers = std::vector<std::pair<milliseconds, bool>>;

constexpr Rect kField{100, 100, 200, 30};  // the click lands at (150, 115) unless a case says

class FocusTrackerTest : public ::testing::Test {
 protected:
  // The answers to one click, each with its time after the click; the queue left idle.
  Answers click(Point point = {150, 115}) {
    Answers answers;
    const TimePoint start = queue.now();
    tracker.checkFocusAfterClick(point, [&](bool editable) {
      answers.emplace_back(std::chrono::duration_cast<milliseconds>(queue.now() - start), editable);
    });
    queue.advance(std::chrono::seconds(2));
    return answers;
  }

  ManualExecutor queue;
  FakeAccessibility accessibility;
  FocusTracker tracker{queue, accessibility};
};

TEST_F(FocusTrackerTest, AFieldAtTheClickAnswersAtOnceAndAnythingElseOnlyAfterTheSecondLook) {
  accessibility.focused = fakeElement({.role = "AXTextField", .frame = kField});
  EXPECT_EQ(click(), (Answers{{milliseconds(200), true}}));
  EXPECT_EQ(accessibility.looks, 1);

  // A button clicked while a field elsewhere keeps the focus, and no focus at all.
  for (auto focused : {fakeElement({.role = "AXTextField", .frame = Rect{600, 100, 200, 30}}),
                       std::shared_ptr<FakeElement>()}) {
    accessibility.focused = focused;
    accessibility.looks = 0;
    EXPECT_EQ(click(), (Answers{{milliseconds(600), false}}));
    EXPECT_EQ(accessibility.looks, 2);
  }
}

TEST_F(FocusTrackerTest, TheCandidatesFrameGrownByTheMarginDecidesElseTheFocusedOnesElseItIsEditable) {
  const auto field = [](std::optional<Rect> frame) { return fakeElement({.role = "AXComboBox", .frame = frame}); };
  const auto content = [](std::optional<Rect> frame, std::optional<Rect> ancestorFrame) {
    return fakeElement({.role = "AXGroup", .editableAncestor = fakeElement({.frame = ancestorFrame}), .frame = frame});
  };
  const Rect far{600, 600, 50, 50};
  const struct {
    const char* what;
    std::shared_ptr<FakeElement> focused;
    Point click;
    bool editable;
  } cases[] = {
      {"10 points left of the field", field(kField), {90, 115}, true},
      {"10 points below the field", field(kField), {150, 140}, true},
      {"13 points right of the field", field(kField), {313, 115}, false},
      {"a field of no size has no frame", field(Rect{100, 100, 0, 30}), {900, 900}, true},
      {"a field with no frame", field(std::nullopt), {900, 900}, true},
      {"the ancestor's frame at the click", content(far, kField), {150, 115}, true},
      {"the ancestor's frame away from it", content(kField, far), {150, 115}, false},
      {"no ancestor frame: the focused one", content(kField, std::nullopt), {150, 115}, true},
      {"no ancestor frame: the focused one, away", content(far, std::nullopt), {150, 115}, false},
      {"an editable ancestor and no frame at all", content(std::nullopt, std::nullopt), {900, 900}, true},
      {"no role and no editable ancestor", fakeElement({.frame = kField}), {150, 115}, false},
  };
  for (const auto& c : cases) {
    accessibility.focused = c.focused;
    EXPECT_EQ(tracker.isEditableElement(c.click), c.editable) << c.what;
  }
}

TEST_F(FocusTrackerTest, EachProcessIsAskedOnceAndOnlyTheListedBrowsersForTheirWebContent) {
  accessibility.bundles = {{7, "Google-chrome"}, {8, "Gedit"}};
  accessibility.focused = fakeElement({.role = "AXTextField"});
  for (int32_t pid : {7, 7, 8, 9, 8}) {
    accessibility.application = fakeElement({.pid = pid});
    click();
  }
  accessibility.application = fakeElement({});  // no process ID: nothing to ask
  click();
  EXPECT_EQ(accessibility.requests,
            (std::vector<std::pair<int32_t, Request>>{{7, Request::manualAccessibility},
                                                      {7, Request::enhancedUserInterface},
                                                      {8, Request::manualAccessibility},
                                                      {9, Request::manualAccessibility}}));
}

}  // namespace
}  // namespace vistaro::testing
