#include "unit/hub/hub_fixture.h"

#include <fmt/format.h>

namespace vistaro::testing {

std::vector<Received> receivedBy(const MemoryStream& stream) {
  const Bytes& bytes = stream.written();
  std::vector<Received> messages;
  for (size_t at = 0; at + 5 <= bytes.size();) {
    const uint32_t length = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                            uint32_t{bytes[at + 2]} << 8 | uint32_t{bytes[at + 3]};
    messages.push_back({*messageTypeFromCode(bytes[at + 4]),
                        std::string(bytes.begin() + at + 5, bytes.begin() + at + 4 + length)});
    at += 4 + length;
  }
  return messages;
}

HubFixture::HubFixture() {
  hub = StreamHub::create({queue, encodeQueue, encoder, listeners, advertiser, desktop});
  StreamHub::Events e;
  e.clientsChanged = [this](std::vector<std::string> list) { names.push_back(std::move(list)); };
  e.listenerState = [this](std::string status, std::optional<uint16_t> port) {
    listenerStates.emplace_back(std::move(status), port);
  };
  e.selectDisplay = [this](DisplayID id) { events.push_back(fmt::format("select {}", id)); };
  e.setHeadless = [this](bool on) { events.push_back(fmt::format("headless {}", on)); };
  e.setFit = [this](bool on) { events.push_back(fmt::format("fit {}", on)); };
  e.clientDisplay = [this](const ClientDisplayMessage& m) { events.push_back(fmt::format("screen {}x{}", m.pixelW, m.pixelH)); };
  e.inputPermissionMissing = [this] { events.push_back("prompt"); };
  e.authFailures = [this](const AuthFailures& failures) { authFailures.push_back(failures); };
  hub->setEvents(std::move(e));
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
  const auto length = static_cast<uint32_t>(body.size() + 1);
  Bytes bytes{uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), wireCode(type)};
  bytes.insert(bytes.end(), body.begin(), body.end());
  stream.injectBytes(std::move(bytes));
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

void HubFixture::settle() {
  while (queue.runUntilIdle() + encodeQueue.runUntilIdle() > 0) {
  }
}

}  // namespace vistaro::testing
