// What an attacker on the LAN gets out of a hub on loopback TLS: PIN guesses per second from
// one address while the owner connects from another, memory held by authenticated clients that
// announce huge messages and send nothing, and the owner's wait behind a flood of idle
// connections. Run it in a network namespace with 127.0.0.2 on lo (as the hub tests do):
//   tests/support/in_private_network.sh build/release/bench/hub/bench_hostile_network
#include <fmt/format.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "client/client_connection.h"
#include "core/asio_executor.h"
#include "server/tls_stream.h"
#include "support/live_hub.h"
#include "support/threads.h"

namespace vistaro {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::runOn;

constexpr char kPin[] = "123456";

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// A live hub on loopback TLS; the failed attempts it has reported so far.
struct Hub : testing::LiveHub {
  uint16_t port() {
    if (!port_) port_ = nextListeningPort();
    return port_;
  }
  uint64_t failures() {
    while (auto reported = authFailures.take(std::chrono::milliseconds(0))) failures_ = reported->count;
    return failures_;
  }

 private:
  uint16_t port_ = 0;
  uint64_t failures_ = 0;
};

// Seconds until a client from `host` with the right PIN is welcomed (negative: never, in 10 s).
double ownerWait(AsioExecutor& executor, const std::string& host, uint16_t port) {
  testing::Mailbox<bool> welcomed;
  std::shared_ptr<client::ClientConnection> owner;
  const auto start = Clock::now();
  runOn(executor, [&] {
    owner = client::ClientConnection::create(executor, {.host = host, .port = port, .pin = kPin, .name = "owner"});
    owner->onWelcome = [&](const WelcomeMessage&) { welcomed.put(true); };
    owner->start();
  });
  const bool inTime = welcomed.take().has_value();
  const double waited = seconds(Clock::now() - start);
  runOn(executor, [&] {
    owner->close();
    owner.reset();
  });
  return inTime ? waited : -1;
}

// 48 guessers at once from 127.0.0.1, each a wrong PIN's key, for `duration`.
void guessing(Clock::duration duration) {
  Hub hub;
  AsioExecutor executor{"guessers"};
  std::atomic<uint64_t> attempts{0};
  std::atomic<bool> running{true};
  std::function<void()> guess = [&] {
    if (!running) return;
    ++attempts;
    auto stream = TlsStream::connecting(executor, "127.0.0.1", hub.port(),
                                        makeTransportParameters(fmt::format("{:06d}", attempts % 1'000'000)));
    auto connection = FramedConnection::create(stream, executor);
    connection->onClose = [&guess, connection](std::optional<std::error_code>) mutable {
      connection.reset();  // breaks the cycle; the next guess takes its place
      guess();
    };
    connection->start();
  };
  runOn(executor, [&] {
    for (int i = 0; i < 48; ++i) guess();
  });
  std::this_thread::sleep_for(duration / 2);
  const double owner = ownerWait(executor, "127.0.0.2", hub.port());
  std::this_thread::sleep_for(duration / 2);
  running = false;
  std::this_thread::sleep_for(1500ms);  // the last report reaches us within a second
  const double perSecond = static_cast<double>(hub.failures()) / seconds(duration);
  fmt::print("guessing: {} connection attempts, {} PIN tests in {:.0f} s ({:.2f}/s); owner from 127.0.0.2 in {:.3f} s\n",
             attempts.load(), hub.failures(), seconds(duration), perSecond, owner);
}

// 16 authenticated clients, each announcing a 64 MiB message and sending 100 bytes of it.
void announcedLengths() {
  Hub hub;
  AsioExecutor executor{"announcers"};
  std::atomic<int> welcomed{0};
  std::vector<std::shared_ptr<FramedConnection>> connections;
  const std::string hello = R"({"pin":"123456","name":"big","version":1})";
  const size_t before = residentBytes();
  for (int i = 0; i < 16; ++i) {
    // One after another: a burst of unauthenticated connections from one address is cut to a few.
    std::this_thread::sleep_for(100ms);
    runOn(executor, [&] {
      auto stream = TlsStream::connecting(executor, "127.0.0.1", hub.port(), makeTransportParameters(kPin));
      auto connection = FramedConnection::create(stream, executor);
      // Once welcomed, the raw stream under the connection: a prefix for 2^26 bytes, then a trickle that stops.
      connection->onMessage = [&welcomed, stream](MessageType type, Bytes) {
        if (type != MessageType::welcome) return;
        auto announced = std::make_shared<Bytes>(105, ' ');
        (*announced)[0] = 0x04;
        (*announced)[1] = (*announced)[2] = (*announced)[3] = 0;
        (*announced)[4] = wireCode(MessageType::key);
        stream->write(announced, {});
        ++welcomed;
      };
      connection->start();
      connection->send(MessageType::hello, Bytes(hello.begin(), hello.end()));
      connections.push_back(connection);
    });
  }
  std::this_thread::sleep_for(2s);
  fmt::print("announced lengths: {} authenticated clients announcing 64 MiB each: resident +{:.1f} MiB\n",
             welcomed.load(), static_cast<double>(residentBytes() - before) / (1 << 20));
  runOn(executor, [&] {
    for (auto& connection : connections) connection->close();
    connections.clear();
  });
}

// `count` idle TCP connections from 127.0.0.1, then the owner from 127.0.0.2.
void idleFlood(int count) {
  Hub hub;
  asio::io_context context;
  std::vector<asio::ip::tcp::socket> flood;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    flood.emplace_back(context);
    std::error_code error;
    flood.back().connect({asio::ip::make_address("127.0.0.1"), hub.port()}, error);
    if (error) {
      flood.pop_back();
      break;
    }
  }
  const double opened = seconds(Clock::now() - start);
  AsioExecutor executor{"owner"};
  const double owner = ownerWait(executor, "127.0.0.2", hub.port());
  fmt::print("idle flood: {} connections opened in {:.2f} s; owner from 127.0.0.2 in {:.3f} s\n", flood.size(),
             opened, owner);
}

}  // namespace
}  // namespace vistaro

int main(int argc, char** argv) {
  const auto duration = std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 20);
  std::signal(SIGPIPE, SIG_IGN);
  vistaro::guessing(duration);
  vistaro::announcedLengths();
  vistaro::idleFlood(9000);
  return 0;
}
