#include "app/host.h"

#include "input/key_modifiers.h"
#include "platform/make_platform.h"

namespace vistaro {
namespace {

CmdModifier cmdModifierFrom(const SettingsStore& settings) {
  return settings.cmdModifier() == "super" ? CmdModifier::super : CmdModifier::ctrl;
}

}  // namespace

Host::Host(AsioExecutor& main, HostOptions options)
    : settings_(options.settingsFile),
      platform_(makePlatform({main, captureQueue_, options.displayName})),
      changes_(*platform_.capture),
      capturer_(main, changes_),
      keys_(main, *platform_.keyboard, *platform_.clipboard, *platform_.inputSources, cmdModifierFrom(settings_)),
      input_(main, *platform_.pointer, keys_),
      hub_(StreamHub::create({hubQueue_, encodeQueue_, encoder_, listeners_, *platform_.advertiser, input_})),
      hubPort_(hub_) {
  controller_ = ServerController::create({main, settings_, hubPort_, capturer_, *platform_.session});
}

Host::~Host() {
  controller_.reset();
  hubQueue_.shutdown();
  encodeQueue_.shutdown();
  captureQueue_.shutdown();
}

}  // namespace vistaro
