#include "app/host.h"

#include "input/key_modifiers.h"

namespace vistaro {
namespace {

CmdModifier cmdModifierFrom(const SettingsStore& settings) {
  return settings.cmdModifier() == "super" ? CmdModifier::super : CmdModifier::ctrl;
}

}  // namespace

Host::Host(AsioExecutor& main, HostOptions options)
    : settings_(options.settingsFile),
      desktopInput_(main, cmdModifierFrom(settings_), options.displayName),
      captureSource_(main, captureQueue_, options.displayName),
      capturer_(main, captureSource_),
      hub_(StreamHub::create(
          {hubQueue_, encodeQueue_, encoder_, main, listeners_, advertiser_, desktopInput_.hubInput()})),
      hubPort_(hub_),
      platform_(main, options.displayName, desktopInput_.hubInput().isInputTrusted) {
  controller_ = ServerController::create({main, settings_, hubPort_, capturer_, platform_});
}

Host::~Host() {
  controller_.reset();
  hubQueue_.shutdown();
  encodeQueue_.shutdown();
  captureQueue_.shutdown();
}

}  // namespace vistaro
