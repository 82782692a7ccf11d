// The reference client, as a library and as the vistaro-client program, against a scripted host on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/client_connection.h"
#include "server/tls_listener.h"
#include "support/cross_thread_events.h"
#include "support/piped_process.h"

namespace vistaro {
namespace {

using client::ClientConnection;
using client::ClientOptions;
using ::testing::HasSubstr;
using testing::runOn;
using Events = testing::CrossThreadEvents;

constexpr char kPin[] = "428571";

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Answers hello with a welcome, a focus and a small frame (or, when told, with an auth error),
// then closes if told; reports every message as "host got <type> <body>".
class ScriptedHost {
 public:
  ScriptedHost(AsioExecutor& executor, Events& events) : executor_(executor), events_(events) {
    runOn(executor_, [&] {
      std::error_code error;
      listener_ = TlsListener::create(executor_, 0, makeTransportParameters(kPin), error);
      listener_->onAccept = [this](std::shared_ptr<ByteStream> stream) { accept(std::move(stream)); };
      listener_->start();
    });
  }
  ~ScriptedHost() {
    runOn(executor_, [&] {
      listener_->cancel();
      for (auto& connection : connections_) connection->close();
      connections_.clear();
      listener_.reset();
    });
  }
  uint16_t port() const { return listener_->port(); }

  bool refuseHello = false;
  bool closeAfterHello = false;

 private:
  void accept(std::shared_ptr<ByteStream> stream) {
    auto connection = FramedConnection::create(std::move(stream), executor_);
    std::weak_ptr<FramedConnection> weak = connection;
    connection->onMessage = [this, weak](MessageType type, Bytes body) {
      events_.add(std::string("host got ") + messageTypeName(type) + " " + text(body));
      auto connection = weak.lock();
      if (connection && type == MessageType::hello) answerHello(*connection);
    };
    connection->start();
    connections_.push_back(connection);
  }

  void answerHello(FramedConnection& connection) {
    if (refuseHello) {
      connection.send(MessageType::error, *encodeMessage(ErrorMessage{"auth", "PINが違います"}));
    } else {
      WelcomeMessage welcome{"desk", {{7, "Screen 1", 1920, 1080}}, 7, false, std::nullopt, std::nullopt, "id"};
      connection.send(MessageType::welcome, *encodeMessage(welcome));
      connection.send(MessageType::focus, *encodeMessage(FocusMessage{true}));
      connection.send(MessageType::frame, Bytes{1, 2, 3, 4, 5});
      connection.send(MessageType::welcome, Bytes{'[', ']'});
    }
    if (closeAfterHello || refuseHello) {
      std::weak_ptr<FramedConnection> weak = connection.weak_from_this();
      connection.send(MessageType::focus, *encodeMessage(FocusMessage{false}), [weak](std::error_code) {
        if (auto connection = weak.lock()) connection->cancelStream();
      });
    }
  }

  AsioExecutor& executor_;
  Events& events_;
  std::shared_ptr<TlsListener> listener_;
  std::vector<std::shared_ptr<FramedConnection>> connections_;
};

class ClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    runOn(executor, [&] {
      if (connection) connection->close();
      connection.reset();
    });
  }

  void connect(ClientOptions options) {
    runOn(executor, [&] {
      connection = ClientConnection::create(executor, std::move(options));
      connection->onWelcome = [this](const WelcomeMessage& welcome) {
        events.add("welcome from " + welcome.hostName + " streaming " + std::to_string(welcome.current));
      };
      connection->onFocus = [this](const FocusMessage& focus) { events.add(focus.editable ? "editable" : "not editable"); };
      connection->onFrame = [this](Bytes body) { events.add("frame of " + std::to_string(body.size())); };
      connection->onUnexpected = [this](MessageType type, const Bytes&) {
        events.add(std::string("unexpected ") + messageTypeName(type));
      };
      connection->onClose = [this](std::optional<std::error_code> error) {
        events.add(error ? "closed with error" : "closed");
      };
      connection->start();
    });
  }

  ClientOptions options(const std::string& pin) {
    ClientOptions options;
    options.host = "localhost";
    options.port = host.port();
    options.pin = pin;
    options.name = "Pixel";
    return options;
  }

  Events events;
  AsioExecutor executor{"client-test"};
  ScriptedHost host{executor, events};
  std::shared_ptr<ClientConnection> connection;
};

TEST_F(ClientTest, HelloThenTypedCallbacksThenEveryClientMessage) {
  ClientOptions withPatch = options(kPin);
  withPatch.features = {"patch"};
  connect(withPatch);
  EXPECT_TRUE(events.waitFor(R"(host got hello {"features":["patch"],"name":"Pixel","pin":"428571","version":1})"));
  EXPECT_TRUE(events.waitFor("welcome from desk streaming 7"));
  EXPECT_TRUE(events.waitFor("editable"));
  EXPECT_TRUE(events.waitFor("frame of 5"));
  EXPECT_TRUE(events.waitFor("unexpected welcome"));

  runOn(executor, [&] {
    connection->request(RequestMessage{std::nullopt, 800, 600, 1024, true});
    connection->selectDisplay(7);
    connection->input(InputMessage{InputMessage::Kind::rightClick, 0.5, 0.25, 1, 7, {}, {}, {}});
    connection->key(KeyMessage{"a", std::nullopt, std::nullopt, {}});
    connection->setHeadless(true);
    connection->setFit(false);
    connection->clientDisplay(ClientDisplayMessage{1080, 2400, "large", true});
  });
  EXPECT_TRUE(events.waitFor(R"(host got request {"baseMaxW":1024,"detailMaxH":600,"detailMaxW":800,"full":true})"));
  EXPECT_TRUE(events.waitFor(R"(host got selectDisplay {"id":7})"));
  EXPECT_TRUE(events.waitFor(
      R"(host got input {"clickCount":1,"displayID":7,"kind":"rightClick","x":0.5,"y":0.25})"));
  EXPECT_TRUE(events.waitFor(R"(host got key {"modifiers":[],"text":"a"})"));
  EXPECT_TRUE(events.waitFor(R"(host got setHeadless {"enabled":true})"));
  EXPECT_TRUE(events.waitFor(R"(host got setFit {"enabled":false})"));
  EXPECT_TRUE(events.waitFor(
      R"(host got clientDisplay {"fillWindow":true,"pixelH":2400,"pixelW":1080,"textSize":"large"})"));
}

TEST_F(ClientTest, AnotherPinNeverGetsPastTls) {
  connect(options("111111"));
  EXPECT_TRUE(events.waitFor("closed with error"));
  EXPECT_FALSE(events.seen("welcome from desk streaming 7"));
}

class ClientProgramTest : public ClientTest {
 protected:
  testing::PipedProcess run(const std::string& pin) {
    return testing::PipedProcess({VISTARO_BINARY_DIR "/client/vistaro-client", "--host", "127.0.0.1", "--port",
                                  std::to_string(host.port()), "--pin", pin, "--name=script"});
  }
};

TEST_F(ClientProgramTest, PrintsOneLinePerMessageUntilTheHostCloses) {
  host.closeAfterHello = true;
  auto program = run(kPin);
  EXPECT_EQ(program.waitForExit(Events::kPatience), 0) << program.output();
  const std::string& output = program.output();
  EXPECT_THAT(output, HasSubstr(R"(welcome {"current":7,"directID":"id","displays":[{"height":1080,)"));
  EXPECT_THAT(output, HasSubstr("focus {\"editable\":true}\nframe 5 bytes\nunexpected welcome 2 bytes\n"));
  EXPECT_THAT(output, HasSubstr("closed"));
  EXPECT_TRUE(events.seen(R"(host got hello {"name":"script","pin":"428571","version":1})"));
}

TEST_F(ClientProgramTest, ExitCodesTellRefusalFromFailure) {
  host.refuseHello = true;
  auto refused = run(kPin);
  EXPECT_EQ(refused.waitForExit(Events::kPatience), 2) << refused.output();
  EXPECT_THAT(refused.output(), HasSubstr(R"(error {"code":"auth","message":"PINが違います"})"));

  auto failed = run("999999");
  EXPECT_EQ(failed.waitForExit(Events::kPatience), 1) << failed.output();
  EXPECT_THAT(failed.output(), HasSubstr("connection failed"));
}

}  // namespace
}  // namespace vistaro
