#include "app/host.h"

#include "core/log.h"
#include "input/key_modifiers.h"
#include "platform/make_platform.h"
#include "reach/random_hex_id.h"
#include "reach/record_store_factory.h"

namespace vistaro {
namespace {

CmdModifier cmdModifierFrom(const SettingsStore& settings) {
  return settings.cmdModifier() == "super" ? CmdModifier::super : CmdModifier::ctrl;
}

// A stored ID is kept when it has the form the host makes; the one in use is stored back.
template <typename Store>
std::string reachID(const std::optional<std::string>& stored, Store store) {
  std::string id = stored && isHexID(*stored) ? *stored : randomHexID();
  store(id);
  return id;
}

std::shared_ptr<RecordStore> recordStoreFrom(const SettingsStore& settings) {
  RecordStoreSettings store;
  store.kind = settings.recordStore().value_or(store.kind);
  store.location = settings.recordLocation().value_or("");
  if (auto file = settings.recordCredentialsFile()) store.credentialsFile = *file;
  std::string problem;
  auto made = makeRecordStore(store, problem);
  if (!made) logWarning("direct", "no rendezvous: {}", problem);
  return made;
}

std::shared_ptr<DirectAgent> makeDirectAgent(SettingsStore& settings, const HostOptions& options, AsioExecutor& queue,
                                             Executor& main, Executor& records, RelayedPeers& relayedPeers) {
  std::string id = reachID(settings.directID(), [&](const std::string& value) { settings.setDirectID(value); });
  std::optional<std::filesystem::path> identityFile;
  if (auto file = settings.directIdentityFile()) identityFile = *file;
  DirectAgent::Dependencies dependencies{queue, main, options.settingsFile.parent_path(), identityFile, &relayedPeers};
  dependencies.records = &records;
  dependencies.store = recordStoreFrom(settings);
  if (auto servers = settings.stunServers()) dependencies.stunServers = *servers;
  return DirectAgent::create(std::move(id), std::move(dependencies));
}

}  // namespace

Host::Host(Executor& main, HostOptions options)
    : settings_(options.settingsFile),
      platform_(makePlatform({main, captureQueue_, options.displayName, options.settingsFile.parent_path()})),
      changes_(*platform_.capture),
      capturer_(main, changes_),
      keys_(main, *platform_.keyboard, *platform_.clipboard, *platform_.inputSources, cmdModifierFrom(settings_),
            {platform_.primarySelection.get(), platform_.focusedWindow.get()}),
      focus_(focusQueue_, *platform_.accessibility),
      input_(main, *platform_.pointer, keys_, &focus_),
      hub_(StreamHub::create({hubQueue_, encodeQueue_, encoder_, listeners_, *platform_.advertiser, input_})),
      relay_(relayQueue_, reachID(settings_.relayRoom(), [this](const std::string& room) { settings_.setRelayRoom(room); })),
      direct_(makeDirectAgent(settings_, options, directQueue_, main, recordsQueue_, relayedPeers_)),
      hubPort_(hub_, [this](uint16_t port) {
        relay_.setLocalPort(port);
        direct_->setLocalPort(port);
      }) {
  ServerController::Dependencies controller{main, settings_, hubPort_, capturer_, *platform_.session, &platform_.power,
                                          [this] { return keys_.injectedShortcutGraceUntil(); }, direct_->id()};
  controller.screen = platform_.virtualScreen.get();
  controller.windows = platform_.windows.get();
  controller.windowQueue = &windowQueue_;
  controller_ = ServerController::create(std::move(controller));
  direct_->onStatus = [weak = std::weak_ptr<ServerController>(controller_)](const std::string& text) {
    if (auto controller = weak.lock()) controller->setDirectStatus(text);
  };
  direct_->start();
}

Host::~Host() {
  controller_.reset();
  hubQueue_.shutdown();
  encodeQueue_.shutdown();
  captureQueue_.shutdown();
  directQueue_.shutdown();
  relayQueue_.shutdown();
  recordsQueue_.shutdown();
  focusQueue_.shutdown();
  windowQueue_.shutdown();
}

}  // namespace vistaro
