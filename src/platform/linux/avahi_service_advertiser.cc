#include "platform/linux/avahi_service_advertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/log.h"

namespace vistaro {
namespace {

constexpr const char* kLog = "dnssd";
// Alternative names end in " #n"; past this many in a row something else is wrong.
constexpr int kMaxRenames = 100;

AvahiServiceAdvertiser* owner(void* self) { return static_cast<AvahiServiceAdvertiser*>(self); }

}  // namespace

AvahiServiceAdvertiser::AvahiServiceAdvertiser(std::function<void(const std::string&)> onUnavailable,
                                               std::chrono::milliseconds busRetryDelay)
    : onUnavailable_(std::move(onUnavailable)), busRetryDelay_(busRetryDelay) {
  poll_ = avahi_threaded_poll_new();
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (!poll_ || wakeFd_ < 0) {
    reportUnavailable("cannot set up the Avahi event loop");
    return;
  }
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  wakeWatch_ = api->watch_new(
      api, wakeFd_, AVAHI_WATCH_IN,
      [](AvahiWatch*, int fd, AvahiWatchEvent, void* self) {
        uint64_t count = 0;
        if (read(fd, &count, sizeof count) < 0) return;
        owner(self)->applyWanted();
      },
      this);
  retryTimer_ = api->timeout_new(api, nullptr, [](AvahiTimeout*, void* self) { owner(self)->connect(); }, this);
  connect();
  avahi_threaded_poll_start(poll_);
}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
  if (poll_) {
    avahi_threaded_poll_stop(poll_);
    dropClient();
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    if (wakeWatch_) api->watch_free(wakeWatch_);
    if (retryTimer_) api->timeout_free(retryTimer_);
    avahi_threaded_poll_free(poll_);
  }
  if (wakeFd_ >= 0) close(wakeFd_);
}

void AvahiServiceAdvertiser::advertise(const std::string& name, uint16_t port) { setWanted(Service{name, port}); }

void AvahiServiceAdvertiser::withdraw() { setWanted(std::nullopt); }

void AvahiServiceAdvertiser::setWanted(std::optional<Service> wanted) {
  std::lock_guard lock(wantedMutex_);
  wanted_ = std::move(wanted);
  const uint64_t one = 1;
  if (wakeFd_ >= 0 && write(wakeFd_, &one, sizeof one) < 0) logWarning(kLog, "cannot wake the Avahi thread");
}

void AvahiServiceAdvertiser::connect() {
  dropClient();
  int error = 0;
  // NO_FAIL: without a daemon the client waits for one, and follows its restarts.
  AvahiClient* client = avahi_client_new(
      avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
      [](AvahiClient* c, AvahiClientState state, void* self) { owner(self)->clientStateChanged(c, state); }, this,
      &error);
  if (!client) {
    // Without a system bus there is nothing to wait on: try again later.
    client_ = nullptr;
    reportUnavailable(avahi_strerror(error));
    scheduleReconnect(busRetryDelay_);
    return;
  }
  client_ = client;
}

void AvahiServiceAdvertiser::dropClient() {
  running_ = false;
  if (client_) avahi_client_free(client_);  // frees the entry group with it
  client_ = nullptr;
  group_ = nullptr;
}

void AvahiServiceAdvertiser::scheduleReconnect(std::chrono::milliseconds delay) {
  struct timeval when;
  avahi_elapse_time(&when, static_cast<unsigned>(delay.count()), 0);
  avahi_threaded_poll_get(poll_)->timeout_update(retryTimer_, &when);
}

void AvahiServiceAdvertiser::clientStateChanged(AvahiClient* client, int state) {
  // The first call can come from inside avahi_client_new, before client_ is set.
  client_ = client;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      running_ = true;
      if (unavailableReported_) logInfo(kLog, "Avahi daemon is back");
      unavailableReported_ = false;
      publish();
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      // The daemon is (re)naming the host; services follow once it runs again.
      running_ = false;
      if (group_) avahi_entry_group_reset(group_);
      break;
    case AVAHI_CLIENT_CONNECTING:
      running_ = false;
      reportUnavailable("Avahi daemon is not running");
      break;
    case AVAHI_CLIENT_FAILURE:
      running_ = false;
      reportUnavailable(avahi_strerror(avahi_client_errno(client)));
      // Not freed inside its own callback: a fresh client is made from the event loop.
      scheduleReconnect(std::chrono::milliseconds(0));
      break;
  }
}

void AvahiServiceAdvertiser::groupStateChanged(int state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      logInfo(kLog, "advertised \"{}\" on port {}", nameInUse_, applied_ ? applied_->port : 0);
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      rename();
      publish();
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      logWarning(kLog, "advertising failed: {}", avahi_strerror(avahi_client_errno(client_)));
      break;
    default:
      break;
  }
}

void AvahiServiceAdvertiser::applyWanted() {
  std::optional<Service> wanted;
  {
    std::lock_guard lock(wantedMutex_);
    wanted = wanted_;
  }
  if (wanted == applied_) return;
  // A renamed service keeps its alternative name while only its port moves.
  if (!wanted || !applied_ || wanted->name != applied_->name) nameInUse_ = wanted ? wanted->name : "";
  applied_ = wanted;
  publish();
}

void AvahiServiceAdvertiser::publish() {
  if (!running_) return;
  if (group_) avahi_entry_group_reset(group_);
  if (!applied_) return;
  if (!group_) {
    group_ = avahi_entry_group_new(
        client_, [](AvahiEntryGroup*, AvahiEntryGroupState state, void* self) { owner(self)->groupStateChanged(state); },
        this);
  }
  if (!group_) {
    logWarning(kLog, "cannot create an entry group: {}", avahi_strerror(avahi_client_errno(client_)));
    return;
  }
  for (int attempt = 0;; ++attempt) {
    const int error = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                    nameInUse_.c_str(), kServiceType, nullptr, nullptr,
                                                    applied_->port, nullptr);
    if (error == AVAHI_OK) break;
    if (error != AVAHI_ERR_COLLISION || attempt == kMaxRenames) {
      logWarning(kLog, "cannot advertise \"{}\": {}", nameInUse_, avahi_strerror(error));
      return;
    }
    rename();
  }
  const int error = avahi_entry_group_commit(group_);
  if (error != AVAHI_OK) logWarning(kLog, "cannot advertise \"{}\": {}", nameInUse_, avahi_strerror(error));
}

void AvahiServiceAdvertiser::rename() {
  char* alternative = avahi_alternative_service_name(nameInUse_.c_str());
  logInfo(kLog, "service name \"{}\" is taken, trying \"{}\"", nameInUse_, alternative);
  nameInUse_ = alternative;
  avahi_free(alternative);
}

void AvahiServiceAdvertiser::reportUnavailable(const std::string& reason) {
  if (unavailableReported_) return;
  unavailableReported_ = true;
  logWarning(kLog, "DNS-SD is unavailable ({}); clients can still connect by address", reason);
  if (onUnavailable_) onUnavailable_(reason);
}

}  // namespace vistaro
