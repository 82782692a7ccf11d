#include "unit/hub/hub_fixture.h"

namespace vistaro::testing {

Bytes framed(MessageType type, const std::string& body) {
  const uint32_t length = static_cast<uint32_t>(body.size() + 1);
  Bytes bytes{static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
              static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), wireCode(type)};
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<Received> receivedBy(const MemoryStream& stream) {
  const Bytes& bytes = stream.written();
  std::vector<Received> messages;
  size_t at = 0;
  while (at + 5 <= bytes.size()) {
    const uint32_t length = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                            uint32_t{bytes[at + 2]} << 8 | uint32_t{bytes[at + 3]};
    const auto type = messageTypeFromCode(bytes[at + 4]);
    EXPECT_TRUE(type.has_value());
    EXPECT_LE(at + 4 + length, bytes.size());
    messages.push_back({*type, std::string(bytes.begin() + at + 5, bytes.begin() + at + 4 + length)});
    at += 4 + length;
  }
  EXPECT_EQ(at, bytes.size());
  return messages;
}

HubFixture::HubFixture() {
  HubInput input;
  input.injectPointerInput = [this](const InputMessage& message) {
    if (trusted) injected.push_back(message);
    return trusted;
  };
  input.displayPoint = [](const InputMessage& message) -> std::optional<Point> {
    if (message.displayID != 1) return std::nullopt;
    return Point{message.x * 1000, message.y * 500};
  };
  input.isInputTrusted = [this] { return trusted; };
  input.enqueueKey = [this](uint64_t, const KeyMessage& message) {
    if (keyQueueFull) return false;
    typed.push_back(message);
    return true;
  };
  input.dropKeys = [this](uint64_t client) { droppedKeysOf.push_back(client); };
  input.checkFocusAfterClick = [this](Point point, std::function<void(bool)> answer) {
    focusChecks.emplace_back(point, std::move(answer));
  };
  hub = StreamHub::create({queue, encodeQueue, encoder, mainQueue, listeners, advertiser, std::move(input)});
  hub->onClientsChanged = [this](std::vector<std::string> names) { reportedNames.push_back(std::move(names)); };
  hub->onListenerState = [this](std::string status, std::optional<uint16_t> port) {
    listenerStates.emplace_back(std::move(status), port);
  };
  hub->onInputPermissionMissing = [this] { ++permissionPrompts; };
  hub->onAuthFailures = [this](const StreamHub::AuthFailures& failures) { authFailures.push_back(failures); };
  hub->setPin("123456");
  hub->start("Desk");
  queue.runUntilIdle();
  listeners.last().handlers.onReady(StreamHub::kPreferredPort);
}

std::shared_ptr<MemoryStream> HubFixture::connect(const std::string& from) {
  auto stream = std::make_shared<MemoryStream>(queue);
  stream->setPeer({from, from});
  listeners.last().handlers.onAccept(stream);
  queue.runUntilIdle();
  return stream;
}

void HubFixture::send(MemoryStream& stream, MessageType type, const std::string& body) {
  stream.injectBytes(framed(type, body));
  queue.runUntilIdle();
}

std::string HubFixture::hello(const std::string& pin, const std::string& name, const std::string& features) {
  std::string body = R"({"pin":")" + pin + R"(","name":")" + name + R"(","version":1)";
  if (!features.empty()) body += R"(,"features":[")" + features + R"("])";
  return body + "}";
}

std::shared_ptr<MemoryStream> HubFixture::connectAuthed(const std::string& name, const std::string& features,
                                                       const std::string& from) {
  auto stream = connect(from);
  send(*stream, MessageType::hello, hello("123456", name, features));
  return stream;
}

const StreamHub::Client& HubFixture::onlyClient() const {
  EXPECT_EQ(hub->clientRecords().size(), 1u);
  return *hub->clientRecords().begin()->second;
}

}  // namespace vistaro::testing
