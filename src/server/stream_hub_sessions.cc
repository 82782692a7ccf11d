// The hub's sessions: who gets in, who is turned away, and what their owner hears of them.
#include <algorithm>

#include "core/log.h"
#include "server/stream_hub.h"

namespace vistaro {

template <typename Message>
void StreamHub::sendToAuthed(MessageType type, const Message& message) {
  for (auto& [id, session] : sessions_) {
    if (session->authenticated()) session->send(type, message);
  }
}

template void StreamHub::sendToAuthed(MessageType, const WelcomeMessage&);
template void StreamHub::sendToAuthed(MessageType, const ErrorMessage&);

// A copy: what is done to each may end a session and change the map.
std::vector<std::shared_ptr<ClientSession>> StreamHub::sessions() const {
  std::vector<std::shared_ptr<ClientSession>> all;
  for (const auto& [id, session] : sessions_) all.push_back(session);
  return all;
}

void StreamHub::accept(std::shared_ptr<ByteStream> stream) {
  const PeerAddress peer = stream->peer();
  if (!throttle_.admits(peer.source, queue_.now())) {
    // Held off: not even a TLS handshake is spent on it.
    stream->cancel();
    return;
  }
  makeRoomFor(peer);
  const ClientSession::ID id = nextSessionID_++;
  // The owner is the hub itself; sessions hold it weakly, as everything handed out does.
  std::weak_ptr<ClientSession::Owner> owner =
      std::shared_ptr<ClientSession::Owner>(shared_from_this(), static_cast<ClientSession::Owner*>(this));
  sessions_.emplace(id, ClientSession::start(id, std::move(stream), queue_, std::move(owner), input_));
}

// Idle or half-open connections cost a descriptor each: one source gets a few of them, all
// sources together a few hundred, and the oldest makes way, so a new client always gets in.
void StreamHub::makeRoomFor(const PeerAddress& peer) {
  size_t pending = 0;
  size_t fromPeer = 0;
  ClientSession::ID oldest = 0;
  ClientSession::ID oldestFromPeer = 0;
  for (const auto& [id, session] : sessions_) {
    if (session->authenticated()) continue;
    if (pending++ == 0) oldest = id;
    if (session->peer().source == peer.source && fromPeer++ == 0) oldestFromPeer = id;
  }
  std::optional<ClientSession::ID> drop;
  if (fromPeer >= kMaxPendingPerSource) {
    drop = oldestFromPeer;
  } else if (pending >= kMaxPending) {
    drop = oldest;
  }
  if (!drop) return;
  auto found = sessions_.find(*drop);
  std::shared_ptr<ClientSession> dropped = found->second;
  sessions_.erase(found);
  dropped->cancel();
}

bool StreamHub::pinMatches(const std::string& pin) const {
  // Exact equality: no trimming, no case folding; an unset PIN admits no one.
  return !pin_.empty() && pin == pin_;
}

void StreamHub::authenticated(const std::shared_ptr<ClientSession>& session) {
  throttle_.recordSuccess(session->peer().source);
  if (welcome_) session->send(MessageType::welcome, *welcome_);
  reportClientNames();
  fanout_->trySend(session);
}

void StreamHub::closed(const ClientSession& session, const std::optional<std::error_code>& error) {
  if (sessions_.erase(session.id()) == 0) return;
  if (!session.authenticated() && error == make_error_code(StreamError::keyRejected)) authFailed(session);
  if (!session.authenticated()) return;
  // Keys it queued and that were not typed yet go with it.
  input_.dropKeys(session.id());
  reportClientNames();
}

void StreamHub::reportClientNames() {
  if (!events_.clientsChanged) return;
  std::vector<std::string> names;
  for (const auto& [id, session] : sessions_) {
    if (session->authenticated()) names.push_back(session->name());
  }
  std::sort(names.begin(), names.end());
  events_.clientsChanged(std::move(names));
}

void StreamHub::authFailed(const ClientSession& session) {
  throttle_.recordFailure(session.peer().source, queue_.now());
  authFailures_.count += 1;
  authFailures_.lastAddress = session.peer().address;
  scheduleFailureReport();
}

// A guessing attack fails a thousand times a second: the owner hears of it once a second,
// the journal once every ten.
void StreamHub::scheduleFailureReport() {
  if (failureReportPending_) return;
  failureReportPending_ = true;
  failureReport_.schedule(queue_, kFailureReportInterval, [weak = weak_from_this()] {
    if (auto hub = weak.lock()) hub->reportAuthFailures();
  });
}

void StreamHub::reportAuthFailures() {
  failureReportPending_ = false;
  const TimePoint now = queue_.now();
  authFailures_.heldSources = throttle_.heldSources(now);
  if (events_.authFailures) events_.authFailures(authFailures_);
  if (authFailures_.count == authFailuresLogged_) return;
  if (lastFailureLog_ && now - *lastFailureLog_ < kFailureLogInterval) return scheduleFailureReport();
  logWarning("auth", "{} failed PIN attempts so far, the latest from {}; {} sources are held off",
             authFailures_.count, authFailures_.lastAddress, authFailures_.heldSources);
  authFailuresLogged_ = authFailures_.count;
  lastFailureLog_ = now;
}

}  // namespace vistaro
