#pragma once

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "input/accessibility.h"

namespace vistaro::testing {

// An element of the fake tree: absent attributes are reads that fail.
struct FakeAttributes {
  std::optional<std::string> role;
  ElementRef editableAncestor;
  std::optional<Rect> frame;
  std::optional<int32_t> pid;
};
struct FakeElement final : AccessibleElement {
  explicit FakeElement(FakeAttributes attributes) : attributes(std::move(attributes)) {}
  FakeAttributes attributes;
};

inline std::shared_ptr<FakeElement> fakeElement(FakeAttributes attributes) {
  return std::make_shared<FakeElement>(std::move(attributes));
}

// The desktop's accessibility as plain records, and what the host asked of it.
class FakeAccessibility final : public Accessibility {
 public:
  std::shared_ptr<FakeElement> application;
  std::shared_ptr<FakeElement> focused;
  std::map<int32_t, std::string> bundles;
  std::vector<std::pair<int32_t, AccessibilityRequest>> requests;
  int looks = 0;  // reads of the focused element

  ElementRef focusedApplication() override { return application; }
  ElementRef focusedElement() override {
    ++looks;
    return focused;
  }
  std::optional<std::string> role(const ElementRef& element) override { return fake(element).role; }
  ElementRef editableAncestor(const ElementRef& element) override { return fake(element).editableAncestor; }
  std::optional<Rect> frame(const ElementRef& element) override { return fake(element).frame; }
  std::optional<int32_t> processID(const ElementRef& element) override { return fake(element).pid; }
  std::optional<std::string> bundleIdentifier(int32_t pid) override {
    auto found = bundles.find(pid);
    return found == bundles.end() ? std::nullopt : std::optional(found->second);
  }
  void request(const ElementRef& application, AccessibilityRequest request) override {
    requests.emplace_back(*fake(application).pid, request);
  }

 private:
  static const FakeAttributes& fake(const ElementRef& element) {
    return static_cast<const FakeElement&>(*element).attributes;
  }
};

}  // namespace vistaro::testing
