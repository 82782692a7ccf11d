#include "display/window_fitter.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "core/log.h"

namespace vistaro {
namespace {

// Window managers round frames to whole pixels and hints: closer than this is the same frame.
constexpr double kSlack = 1.0;
// Enough of a too-large window stays inside to grab its title bar and move it.
constexpr double kReachableTop = 30;
constexpr double kReachableWidth = 80;

bool near(double a, double b) { return std::abs(a - b) <= kSlack; }
bool near(const Rect& a, const Rect& b) {
  return near(a.x, b.x) && near(a.y, b.y) && near(a.width, b.width) && near(a.height, b.height);
}

// A window too large to fit: its top-left corner inside, as far as its size allows.
Point pushedInside(const Rect& frame, const Rect& target) {
  return {std::max(target.minX(), std::min(frame.minX(), target.maxX() - frame.width)),
          std::max(target.minY(), std::min(frame.minY(), target.maxY() - frame.height))};
}

struct IndexedWindow {
  DesktopWindow window;
  int64_t index;  // among the fittable windows of its application
};

std::vector<IndexedWindow> indexed(std::vector<DesktopWindow> windows) {
  std::map<std::string, int64_t> counts;
  std::vector<IndexedWindow> result;
  for (DesktopWindow& window : windows) {
    const int64_t index = counts[window.application]++;
    result.push_back({std::move(window), index});
  }
  return result;
}

std::optional<StoredFrame> storedFrameOf(const IndexedWindow& w) {
  if (w.window.application.empty()) return std::nullopt;
  return StoredFrame{w.window.application, w.window.title, w.index, w.window.frame};
}

}  // namespace

Rect fittedFrame(const Rect& frame, const Rect& target) {
  const double width = std::min(frame.width, target.width);
  const double height = std::min(frame.height, target.height);
  return {std::min(std::max(frame.minX(), target.minX()), target.maxX() - width),
          std::min(std::max(frame.minY(), target.minY()), target.maxY() - height), width, height};
}

bool isReachable(const Rect& frame, const Rect& target) {
  const double grip = std::min(frame.width, kReachableWidth);
  return frame.minY() >= target.minY() - kSlack && frame.minY() + kReachableTop <= target.maxY() &&
         target.minX() <= frame.maxX() - grip && frame.minX() + grip <= target.maxX();
}

// The queue's side: what is remembered, and the record on disk as it should be.
struct WindowFitter::Passes {
  struct SavedFrame {
    uint64_t window;
    Rect frame;
    std::optional<StoredFrame> stored;  // its entry in the record
  };
  struct Unshrinkable {
    uint64_t window;
    double width;
    double height;
  };

  explicit Passes(WindowService& w) : windows(w) {}

  // Each entry serves one window: the same title first, else the same place in its application.
  std::vector<SavedFrame> match(const std::vector<StoredFrame>& stored) {
    std::map<std::string, std::vector<StoredFrame>> groups;
    for (const StoredFrame& entry : stored) groups[entry.bundleID].push_back(entry);
    std::vector<SavedFrame> matched;
    for (const IndexedWindow& w : indexed(windows.windows())) {
      auto group = groups.find(w.window.application);
      if (w.window.application.empty() || group == groups.end()) continue;
      std::vector<StoredFrame>& entries = group->second;
      auto entry = entries.end();
      if (!w.window.title.empty()) {
        entry = std::find_if(entries.begin(), entries.end(),
                             [&](const StoredFrame& e) { return e.title == w.window.title; });
      }
      if (entry == entries.end()) {
        entry = std::find_if(entries.begin(), entries.end(), [&](const StoredFrame& e) { return e.index == w.index; });
      }
      if (entry == entries.end()) continue;
      matched.push_back({w.window.id, entry->frame, *entry});
      entries.erase(entry);
    }
    return matched;
  }

  // A window that closed takes its entry along, and the later windows of its application move up
  // a place, as they do on the desktop: after a crash no other window is taken for it.
  void forget(const StoredFrame& gone) {
    std::erase(record, gone);
    auto renumber = [&](StoredFrame& entry) {
      if (entry.bundleID == gone.bundleID && entry.index > gone.index) --entry.index;
    };
    std::for_each(record.begin(), record.end(), renumber);
    for (SavedFrame& saved : *this->saved) {
      if (saved.stored) renumber(*saved.stored);
    }
  }

  const Unshrinkable* unshrinkableAt(uint64_t window, const Rect& frame) const {
    auto it = std::find_if(unshrinkable.begin(), unshrinkable.end(), [&](const Unshrinkable& u) {
      return u.window == window && near(u.width, frame.width) && near(u.height, frame.height);
    });
    return it == unshrinkable.end() ? nullptr : &*it;
  }

  // Returns whether the record changed.
  bool keep(const Rect& target) {
    std::set<uint64_t> seen;
    bool changed = false;
    for (const IndexedWindow& w : indexed(windows.windows())) {
      const uint64_t id = w.window.id;
      const Rect& frame = w.window.frame;
      seen.insert(id);
      if (std::none_of(saved->begin(), saved->end(), [&](const SavedFrame& s) { return s.window == id; })) {
        // Opened during fit mode: put back where it first appeared.
        saved->push_back({id, frame, storedFrameOf(w)});
        if (saved->back().stored) record.push_back(*saved->back().stored), changed = true;
      }
      const Rect fitted = fittedFrame(frame, target);
      if (near(frame, fitted)) continue;
      if (unshrinkableAt(id, frame)) {
        // Refused before at this size: not asked again until the user resizes it.
        if (!isReachable(frame, target)) windows.setPosition(id, pushedInside(frame, target));
        continue;
      }
      windows.setFrame(id, fitted);
      std::erase_if(unshrinkable, [&](const Unshrinkable& u) { return u.window == id; });
      const std::optional<Rect> now = windows.frame(id);
      if (!now || (now->width <= fitted.width + kSlack && now->height <= fitted.height + kSlack)) continue;
      unshrinkable.push_back({id, now->width, now->height});
      const Point inside = pushedInside(*now, target);
      if (!near(inside.x, now->x) || !near(inside.y, now->y)) windows.setPosition(id, inside);
    }
    auto gone = [&](uint64_t window) { return !seen.contains(window) && !windows.exists(window); };
    std::vector<StoredFrame> closed;
    std::erase_if(*saved, [&](const SavedFrame& s) {
      if (!gone(s.window)) return false;
      if (s.stored) closed.push_back(*s.stored);
      return true;
    });
    for (const StoredFrame& entry : closed) forget(entry), changed = true;
    std::erase_if(unshrinkable, [&](const Unshrinkable& u) { return gone(u.window); });
    return changed;
  }

  WindowService& windows;
  std::optional<std::vector<SavedFrame>> saved;
  std::vector<Unshrinkable> unshrinkable;
  std::vector<StoredFrame> record;
};

WindowFitter::WindowFitter(Dependencies d)
    : main_(d.main), queue_(d.queue), stored_(d.stored), passes_(std::make_shared<Passes>(d.windows)) {}

bool WindowFitter::hasStoredFrames() { return stored_.load().has_value(); }

void WindowFitter::noteRecord(std::optional<std::vector<StoredFrame>> record) {
  if (auto problem = stored_.store(record)) logWarning("fit", "{}", *problem);
}

void WindowFitter::remember(std::function<void()> done) {
  queue_.post([passes = passes_, stored = stored_.load(), &main = main_,
               finished = guard_.wrap([this, done = std::move(done)](std::optional<std::vector<StoredFrame>> record) {
                 if (record) noteRecord(std::move(record));
                 if (done) done();
               })]() mutable {
    std::optional<std::vector<StoredFrame>> changed;
    if (!passes->saved && stored) {
      // An earlier fit was never put back: its frames are the ones from before.
      passes->record = *stored;
      passes->saved = passes->match(*stored);
    } else if (!passes->saved) {
      passes->saved.emplace();
      for (const IndexedWindow& w : indexed(passes->windows.windows())) {
        passes->saved->push_back({w.window.id, w.window.frame, storedFrameOf(w)});
        if (passes->saved->back().stored) passes->record.push_back(*passes->saved->back().stored);
      }
      if (!passes->record.empty()) changed = passes->record;
    }
    main.post([finished = std::move(finished), changed = std::move(changed)]() mutable { finished(std::move(changed)); });
  });
}

void WindowFitter::fit(DisplayID display, bool fillWindow) {
  queue_.post([passes = passes_, display, fillWindow] {
    WindowService& windows = passes->windows;
    const std::optional<Rect> target = windows.workArea(display);
    if (!target) return;
    const std::optional<uint64_t> active = fillWindow ? windows.activeWindow() : std::nullopt;
    for (const DesktopWindow& w : windows.windows()) windows.setFrame(w.id, w.id == active ? *target : fittedFrame(w.frame, *target));
  });
}

void WindowFitter::keep(DisplayID display) {
  if (keeping_) return;
  keeping_ = true;
  queue_.post([passes = passes_, display, &main = main_, finished = guard_.wrap([this](std::optional<std::vector<StoredFrame>> record) {
                 keeping_ = false;
                 if (record) noteRecord(std::move(record));
               })]() mutable {
    std::optional<std::vector<StoredFrame>> changed;
    const std::optional<Rect> target = passes->saved ? passes->windows.workArea(display) : std::nullopt;
    if (target && passes->keep(*target)) changed = passes->record;
    main.post([finished = std::move(finished), changed = std::move(changed)]() mutable { finished(std::move(changed)); });
  });
}

void WindowFitter::restore(std::function<void()> done) {
  auto finish = std::make_shared<std::function<void()>>(std::move(done));
  auto once = [finish] {
    if (auto done = std::exchange(*finish, nullptr)) done();
  };
  main_.postAfter(kRestoreLimit, once);
  queue_.post([passes = passes_, stored = stored_.load(), &main = main_,
               restored = guard_.wrap([this, once] {
                 noteRecord(std::nullopt);
                 once();
               })] {
    WindowService& windows = passes->windows;
    const std::vector<Passes::SavedFrame> saved =
        passes->saved ? *passes->saved : (stored ? passes->match(*stored) : std::vector<Passes::SavedFrame>{});
    for (const Passes::SavedFrame& s : saved) {
      if (windows.frame(s.window)) windows.setFrame(s.window, s.frame);
    }
    passes->saved.reset();
    passes->unshrinkable.clear();
    passes->record.clear();
    main.post(restored);
  });
}

}  // namespace vistaro
