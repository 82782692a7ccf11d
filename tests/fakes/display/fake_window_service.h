#pragma once

#include <algorithm>
#include <map>

#include "display/stored_window_frames.h"
#include "display/window_service.h"

namespace vistaro::testing {

// A desktop of windows that obey frames down to their minimum size, on displays that all have `area`.
class FakeWindowService final : public WindowService {
 public:
  struct Window {
    DesktopWindow window;
    double minWidth = 0;
    double minHeight = 0;
  };
  std::vector<Window> desktop;
  std::optional<uint64_t> active;
  Rect area{0, 25, 1180, 795};
  DisplayID absentDisplay = 7;
  int writes = 0;
  std::function<void()> onWrite;  // e.g. a program that hangs the caller

  void add(uint64_t id, std::string application, std::string title, Rect frame, double minW = 0, double minH = 0) {
    desktop.push_back({{id, std::move(application), std::move(title), frame}, minW, minH});
  }
  void close(uint64_t id) {
    std::erase_if(desktop, [&](const Window& w) { return w.window.id == id; });
  }
  Rect& frameOf(uint64_t id) { return find(id)->window.frame; }

  std::vector<DesktopWindow> windows() override {
    std::vector<DesktopWindow> result;
    for (const Window& w : desktop) result.push_back(w.window);
    return result;
  }
  std::optional<uint64_t> activeWindow() override { return active; }
  std::optional<Rect> workArea(DisplayID display) override {
    return display == absentDisplay ? std::nullopt : std::optional(area);
  }
  void setFrame(uint64_t window, const Rect& frame) override {
    if (onWrite) onWrite();
    ++writes;
    if (Window* w = find(window)) {
      w->window.frame = {frame.x, frame.y, std::max(frame.width, w->minWidth), std::max(frame.height, w->minHeight)};
    }
  }
  void setPosition(uint64_t window, Point origin) override {
    ++writes;
    if (Window* w = find(window)) w->window.frame.x = origin.x, w->window.frame.y = origin.y;
  }
  std::optional<Rect> frame(uint64_t window) override {
    const Window* w = find(window);
    return w ? std::optional(w->window.frame) : std::nullopt;
  }
  bool exists(uint64_t window) override { return find(window) != nullptr; }
  void observeDesktopSwitches(std::function<void()> switched) override { desktopSwitched = std::move(switched); }
  std::function<void()> desktopSwitched;

 private:
  Window* find(uint64_t id) {
    auto it = std::find_if(desktop.begin(), desktop.end(), [&](const Window& w) { return w.window.id == id; });
    return it == desktop.end() ? nullptr : &*it;
  }
};

// The record as the settings would keep it.
class FakeStoredWindowFrames final : public StoredWindowFrames {
 public:
  std::optional<std::vector<StoredFrame>> frames;
  int writes = 0;
  std::optional<std::vector<StoredFrame>> load() override { return frames; }
  std::optional<std::string> store(const std::optional<std::vector<StoredFrame>>& f) override {
    ++writes;
    frames = f;
    return std::nullopt;
  }
};

}  // namespace vistaro::testing
