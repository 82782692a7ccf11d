#include "platform/x11/x11_sleep_inhibitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

namespace vistaro::x11 {

void X11SleepInhibitor::inhibit() {
  session_.hold();
  keepAwake();
}

void X11SleepInhibitor::release() {
  repeat_.cancel();
  session_.release();
}

void X11SleepInhibitor::keepAwake() {
  declareUserActivity();
  repeat_.schedule(main_, kActivityInterval, guard_.wrap([this] { keepAwake(); }));
}

void X11SleepInhibitor::declareUserActivity() {
  if (!live(connection_.get())) connection_ = Connection::open(displayName_);
  if (!live(connection_.get())) return;
  ::Display* d = connection_->get();
  XResetScreenSaver(d);
  int event = 0, error = 0;
  if (DPMSQueryExtension(d, &event, &error) && DPMSCapable(d)) DPMSForceLevel(d, DPMSModeOn);
  XSync(d, False);
  connection_->takeError();
}

}  // namespace vistaro::x11
