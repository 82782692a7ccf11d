#include "platform/x11/randr_virtual_screen.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <fstream>

#include "control/atomic_file.h"
#include "core/log.h"
#include "platform/x11/randr_apply.h"
#include "platform/x11/randr_fit_layout.h"
#include "platform/x11/randr_layout_codec.h"
#include "platform/x11/session_scale.h"
#include "platform/x11/x11_monitors.h"

namespace vistaro::x11 {
namespace {

constexpr std::streamsize kMaxSavedFile = 1 << 20;

// A server started anew on the same display has a layout of its own; the saved one is not for it.
bool sameServer(const ScreenLayout& layout, ::Display* display) {
  return !layout.server.empty() && layout.server == serverInstance(display) && layout.display == DisplayString(display);
}

std::vector<std::string> litOutputs(const ScreenLayout& layout) {
  std::vector<std::string> outputs;
  for (const CrtcLayout& crtc : layout.crtcs) {
    if (crtc.mode) outputs.insert(outputs.end(), crtc.outputs.begin(), crtc.outputs.end());
  }
  return outputs;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string contents(kMaxSavedFile + 1, '\0');
  file.read(contents.data(), kMaxSavedFile + 1);
  if (file.gcount() > kMaxSavedFile) return std::nullopt;
  contents.resize(size_t(file.gcount()));
  return contents;
}

}  // namespace

RandrVirtualScreen::RandrVirtualScreen(Executor& main, std::string displayName, std::filesystem::path savedFile)
    : main_(main), displayName_(std::move(displayName)), savedFile_(std::move(savedFile)) {}

::Display* RandrVirtualScreen::display() {
  if (live(connection_.get())) return connection_->get();
  connection_ = Connection::open(displayName_);
  if (!live(connection_.get())) return nullptr;
  ::Display* d = connection_->get();
  // From now on the screen's size as Xlib keeps it follows every change, ours and others'.
  XRRSelectInput(d, DefaultRootWindow(d), RRScreenChangeNotifyMask);
  if (saved_ && !sameServer(*saved_, d)) {
    logWarning("fit", "the X server on {} was started anew: what fit mode had changed went with the old one",
               DisplayString(d));
    forget();
    std::error_code ignored;
    std::filesystem::remove(savedFile_, ignored);
  }
  return d;
}

double RandrVirtualScreen::pixelsPerPoint() {
  ::Display* d = display();
  return d ? sessionPointScale(d) : 1.0;
}

void RandrVirtualScreen::show(int64_t widthPx, int64_t heightPx, uint32_t serial, Done done) {
  std::optional<std::string> problem = refusal(widthPx, heightPx);
  if (!problem) problem = switchTo(uint32_t(widthPx), uint32_t(heightPx), serial);
  std::optional<DisplayID> id;
  if (!problem) id = monitorID(fitName(serial));
  main_.post(guard_.wrap([done = std::move(done), id, problem] { done(id, problem.value_or("")); }));
}

std::optional<std::string> RandrVirtualScreen::refusal(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return fmt::format("{} x {} pixels is not a screen size.", width, height);
  ::Display* d = display();
  if (!d) return fmt::format("The X display {} cannot be opened.", displayName_.empty() ? "$DISPLAY" : displayName_);
  int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  if (!XRRGetScreenSizeRange(d, DefaultRootWindow(d), &minWidth, &minHeight, &maxWidth, &maxHeight)) {
    return std::string("This X server cannot change the size of its screen (it lacks RandR).");
  }
  if (width > maxWidth || height > maxHeight || width < minWidth || height < minHeight) {
    return fmt::format("This X server's screen can be {} x {} to {} x {} pixels, not {} x {}.", minWidth, minHeight,
                       maxWidth, maxHeight, width, height);
  }
  return std::nullopt;
}

std::optional<std::string> RandrVirtualScreen::switchTo(uint32_t width, uint32_t height, uint32_t serial) {
  Connection& connection = *connection_;
  if (!saved_) {
    std::optional<ScreenLayout> now = readLayout(connection.get());
    if (!now) return std::string("This X server lacks RandR 1.5, which fit mode needs.");
    if (litOutputs(*now).empty()) return std::string("No screen of this X server is switched on.");
    if (auto error = writeFileAtomically(savedFile_, encodeLayout(*now))) {
      return "The screens' configuration could not be saved, so it is left as it is: " + *error;
    }
    saved_ = std::move(now);
  }
  const ModeTimings mode = fitMode(width, height, fitName(serial));
  const std::optional<std::vector<std::string>> refusing = offerMode(connection, mode, litOutputs(*saved_));
  const std::optional<ScreenLayout> fit = refusing ? fitLayout(*saved_, mode, *refusing) : std::nullopt;
  std::optional<std::string> problem;
  if (!refusing) {
    problem = "the X server would not make a mode of that size";
  } else if (!fit) {
    problem = fmt::format("{} cannot show that size and this X server cannot scale", fmt::join(*refusing, ", "));
  } else {
    problem = applyLayout(connection, *fit);
  }
  if (!problem) {
    shown_ = fit;
    removeUnusedModes(connection, kFitPrefix);
    return std::nullopt;
  }
  logWarning("fit", "switching the screen to {}x{}: {}", width, height, *problem);
  if (shown_) {
    if (auto again = applyLayout(connection, *shown_)) logWarning("fit", "back to the size before: {}", *again);
    removeUnusedModes(connection, kFitPrefix);
  } else {
    putBack(*saved_);
  }
  return fmt::format("The screen could not be switched to {} x {} pixels: {}.", width, height, *problem);
}

bool RandrVirtualScreen::putBack(const ScreenLayout& layout) {
  const std::optional<std::string> problem = applyLayout(*connection_, layout);
  removeUnusedModes(*connection_, kFitPrefix);
  if (problem) {
    logWarning("fit", "the screens could not be put back as they were: {}", *problem);
    return false;
  }
  forget();
  std::error_code error;
  std::filesystem::remove(savedFile_, error);
  if (error) logWarning("fit", "removing {}: {}", savedFile_.string(), error.message());
  return true;
}

void RandrVirtualScreen::forget() {
  saved_.reset();
  shown_.reset();
}

void RandrVirtualScreen::restore() {
  if (!saved_ || !display() || !saved_) return;  // a new server forgets the old one's layout
  putBack(*saved_);
}

void RandrVirtualScreen::restoreLeftovers() {
  std::error_code error;
  if (saved_ || !std::filesystem::exists(savedFile_, error)) return;
  auto drop = [&](std::string_view why) {
    logWarning("fit", "{} {}: removed", savedFile_.string(), why);
    std::filesystem::remove(savedFile_, error);
  };
  const std::optional<std::string> contents = readSmallFile(savedFile_);
  const std::optional<ScreenLayout> layout = contents ? decodeLayout(*contents) : std::nullopt;
  if (!layout) return drop("is not a screen configuration this host saved");
  ::Display* d = display();
  if (!d || !sameServer(*layout, d)) return drop("was saved on an X server that is no longer running");
  logInfo("fit", "putting the screens back as they were before an earlier run switched them");
  saved_ = layout;
  if (!putBack(*layout)) {
    forget();
    drop("does not fit this X server's screens");
  }
}

void RandrVirtualScreen::centreCursor(std::optional<DisplayID> display) {
  ::Display* d = this->display();
  if (!d) return;
  const std::vector<Monitor> monitors = listMonitors(d);  // never empty
  auto first = [&](auto wanted) -> const Monitor* {
    auto found = std::find_if(monitors.begin(), monitors.end(), wanted);
    return found == monitors.end() ? nullptr : &*found;
  };
  const Monitor* target = display ? first([&](const Monitor& m) { return m.id == *display; }) : nullptr;
  if (!target) target = first([](const Monitor& m) { return m.primary; });
  if (!target) target = &monitors.front();
  const Rect& b = target->bounds;
  XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, int(b.x + b.width / 2), int(b.y + b.height / 2));
  XFlush(d);
}

}  // namespace vistaro::x11
