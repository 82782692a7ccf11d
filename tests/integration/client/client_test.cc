// The reference client, as a library and as the vistaro-client program, against a scripted TLS peer.
#include <gtest/gtest.h>

#include "server/tls_listener.h"
#include "support/child_process.h"
#include "support/loopback_client.h"

namespace vistaro {
namespace {

using testing::runOn;
constexpr char kPin[] = "428571";

// Answers every hello with the script, then hangs up if told to; reports each message it gets as "type body".
class ScriptedHost {
 public:
  using Script = std::vector<std::pair<MessageType, Bytes>>;
  explicit ScriptedHost(Script script, bool hangUp = false) {
    runOn(executor_, [&] {
      std::error_code error;
      listener_ = TlsListener::create(executor_, 0, makeTransportParameters(kPin), error);
      listener_->onAccept = [this, script, hangUp](std::shared_ptr<ByteStream> stream) {
        auto connection = FramedConnection::create(std::move(stream), executor_);
        connection->onMessage = [this, script, hangUp, peer = connection.get()](MessageType type, Bytes body) {
          got.put(std::string(messageTypeName(type)) + " " + std::string(body.begin(), body.end()));
          if (type != MessageType::hello) return;
          for (const auto& [type, body] : script) peer->send(type, body);
          if (hangUp) peer->send(MessageType::focus, *encodeMessage(FocusMessage{}), [peer](auto) { peer->cancelStream(); });
        };
        connection->start();
        connections_.push_back(std::move(connection));
      };
      listener_->start();
    });
  }
  ~ScriptedHost() {
    runOn(executor_, [&] {
      listener_->cancel();
      for (const auto& connection : connections_) connection->close();
      connections_.clear();
    });
  }
  uint16_t port() const { return listener_->port(); }
  testing::Mailbox<std::string> got;

 private:
  AsioExecutor executor_{"scripted-host"};
  std::shared_ptr<TlsListener> listener_;
  std::vector<std::shared_ptr<FramedConnection>> connections_;
};

// What the program and the host tests do not show: a client that speaks only when told, and each
// message going out as its own type.
TEST(ClientConnection, SpeaksOnlyWhenToldAndSendsEachMessageAsItsOwnType) {
  ScriptedHost host({});
  testing::LoopbackClient client(
      {.client = {.port = host.port(), .pin = kPin, .name = "Pixel", .features = {"patch"}, .helloWhenReady = false}});
  client.send(MessageType::request, "not json");
  EXPECT_EQ(host.got.take(), "request not json");
  client.act([](client::ClientConnection& connection) {
    connection.key(KeyMessage{"a", std::nullopt, std::nullopt, {}});
    connection.setHeadless(true);
    connection.setFit(false);
    connection.clientDisplay(ClientDisplayMessage{1080, 2400, "large", true});
    connection.hello();
  });
  for (const char* sent : {R"(key {"modifiers":[],"text":"a"})", R"(setHeadless {"enabled":true})",
                           R"(setFit {"enabled":false})",
                           R"(clientDisplay {"fillWindow":true,"pixelH":2400,"pixelW":1080,"textSize":"large"})",
                           R"(hello {"features":["patch"],"name":"Pixel","pin":"428571","version":1})"}) {
    EXPECT_EQ(host.got.take(), sent);
  }
}

TEST(ClientProgram, PrintsOneLinePerMessageAndItsStatusTellsClosedFromRefusedFromFailed) {
  const WelcomeMessage welcome{"desk", {{7, "Screen 1", 1920, 1080}}, 7, false, std::nullopt, std::nullopt, "id"};
  ScriptedHost host({{MessageType::welcome, *encodeMessage(welcome)}, {MessageType::focus, *encodeMessage(FocusMessage{true})},
                     {MessageType::frame, Bytes{1, 2, 3, 4, 5}}, {MessageType::welcome, Bytes{'[', ']'}}}, true);
  ScriptedHost refusing({{MessageType::error, *encodeMessage(ErrorMessage{"auth", "PINが違います"})}}, true);
  const char* const closed = R"(welcome {"current":7,"directID":"id","displays":[{"height":1080,"id":7,"name":"Screen 1",)"
                             R"("width":1920}],"headless":false,"hostName":"desk"})" "\nfocus {\"editable\":true}\nframe 5 bytes\nunexpected welcome 2 bytes\n";
  for (const auto& [peer, pin, status, printed] :
       {std::tuple(&host, kPin, 0, closed), std::tuple(&host, "999999", 1, "connection failed"),
        std::tuple(&refusing, kPin, 2, R"(error {"code":"auth","message":"PINが違います"})")}) {
    testing::ChildProcess program({VISTARO_BINARY_DIR "/client/vistaro-client", "--port", std::to_string(peer->port()),
                                   "--pin", pin, "--name=script", "--features", "patch,,later"});
    EXPECT_EQ(program.waitForExit(), status) << program.output();
    EXPECT_NE(program.output().find(printed), std::string::npos) << program.output();
  }
  EXPECT_EQ(host.got.take(), R"(hello {"features":["patch","later"],"name":"script","pin":"428571","version":1})");
}

}  // namespace
}  // namespace vistaro
