#include "platform/x11/x11_controller_platform.h"

#include <future>

#include "core/log.h"

namespace vistaro::x11 {
namespace {

bool sameLayout(const std::vector<Monitor>& a, const std::vector<Monitor>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Monitor& x, const Monitor& y) {
    return x.id == y.id && x.bounds == y.bounds && x.primary == y.primary;
  });
}

}  // namespace

X11ControllerPlatform::X11ControllerPlatform(Executor& main, std::string displayName)
    : main_(main), displayName_(std::move(displayName)) {
  // Shared: a server that answers after the patience still has somewhere to answer to.
  auto first = std::make_shared<std::promise<Answers>>();
  std::future<Answers> answered = first->get_future();
  session_.post([this, first] {
    first->set_value(probe());
    schedulePoll();
  });
  if (answered.wait_for(kFirstProbePatience) == std::future_status::ready) {
    answers_ = answered.get();
  } else {
    logWarning("x11", "the X server did not answer within {} s; carrying on without its answers",
               std::chrono::duration_cast<std::chrono::seconds>(kFirstProbePatience).count());
  }
}

X11ControllerPlatform::~X11ControllerPlatform() { session_.shutdown(); }

// A poll of the monitor list sees every way the layout changes (xrandr modes, --setmonitor,
// hotplug) without an event connection; RandR sends no event for --setmonitor anyway.
X11ControllerPlatform::Answers X11ControllerPlatform::probe() {
  if (!live(connection_.get())) connection_ = Connection::open(displayName_);
  Answers answers;
  if (!live(connection_.get())) return answers;
  answers.xtest = offersXTest(connection_.get());
  answers.monitors = listMonitors(connection_->get());
  answers.displayOpens = live(connection_.get());
  return answers;
}

void X11ControllerPlatform::schedulePoll() {
  session_.postAfter(kScreenPollInterval, [this] {
    main_.post(guard_.wrap([this, answers = probe()]() mutable { arrived(std::move(answers)); }));
    schedulePoll();
  });
}

void X11ControllerPlatform::arrived(Answers answers) {
  const bool changed = !sameLayout(answers.monitors, answers_.monitors);
  answers_ = std::move(answers);
  if (changed && screensChanged_) screensChanged_();
}

std::optional<DisplayID> X11ControllerPlatform::mainDisplayID() {
  for (const Monitor& monitor : answers_.monitors) {
    if (monitor.primary) return monitor.id;
  }
  if (answers_.monitors.empty()) return std::nullopt;
  return answers_.monitors.front().id;
}

void X11ControllerPlatform::promptForInputPermission() {
  logWarning("input", "the X server offers no XTest extension: clicks and keys from clients cannot be injected");
}

}  // namespace vistaro::x11
