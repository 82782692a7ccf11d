#include "app/host_lifecycle.h"

#include <cstring>
#include <stdexcept>

#include "core/log.h"

namespace vistaro {

HostLifecycle::HostLifecycle(Executor& main, HostOptions options, std::FILE* console, std::function<void(int)> exitLoop)
    : main_(main), options_(std::move(options)), out_(console), exitLoop_(std::move(exitLoop)),
      signals_(main, guard_.wrap([this](int number) { end(std::string("SIG") + sigabbrev_np(number)); })) {}

HostLifecycle::~HostLifecycle() {
  guard_.end();
  console_.reset();
  host_.reset();
}

bool HostLifecycle::start() {
  try {
    host_ = std::make_unique<Host>(main_, options_);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "vistaro-host: %s\n", error.what());
    exitLoop_(1);
    return false;
  }
  console_ = std::make_unique<HeadlessConsole>(main_, host_->controller().hostName(), out_);
  console_->show(host_->controller().state().current());
  host_->controller().state().observe(guard_.wrap([this](const ControllerState& state) { console_->show(state); }));
  return true;
}

void HostLifecycle::end(const std::string& why) {
  if (ending_) return;
  ending_ = true;
  if (!host_) return exitLoop_(0);
  logInfo("app", "ending ({}): putting the desktop back", why);
  host_->controller().shutDown(guard_.wrap([this, why] {
    std::fprintf(out_, "vistaro-host: ended (%s); the desktop is as it was\n", why.c_str());
    std::fflush(out_);
    exitLoop_(0);
  }));
}

}  // namespace vistaro
