// vistaro-client: connects to a host, says hello and prints every message that comes back, one per line;
// with an input command it sends that once welcomed and leaves; with watch it pulls frames and keeps the layers.
#include <asio/signal_set.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "client/client_connection.h"
#include "client/command_line.h"
#include "client/frame_watcher.h"
#include "client/input_command.h"
#include "client/message_printer.h"

namespace {

enum ExitCode { kClosed = 0, kBadUsage = 64, kConnectionFailed = 1, kRefused = 2, kUnreachable = 3 };

// --help anywhere: the usage of the command it follows (all of it when none), on stdout, and status 0.
bool printedHelp(const std::vector<std::string>& arguments, size_t commandAt) {
  using namespace vistaro::client;
  const auto help = std::find_if(arguments.begin(), arguments.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
  if (help == arguments.end()) return false;
  std::cout << kUsage;
  if (help - arguments.begin() <= static_cast<std::ptrdiff_t>(commandAt) || commandAt == arguments.size()) {
    std::cout << kInputUsage << kWatchUsage;
  } else {
    std::cout << (arguments[commandAt] == "watch" ? kWatchUsage : kInputUsage);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vistaro;
  using namespace vistaro::client;

  std::string error;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const size_t commandAt = findInputCommand(arguments);
  if (printedHelp(arguments, commandAt)) return kClosed;
  std::optional<ClientOptions> options =
      parseCommandLine(std::vector<std::string>(arguments.begin(), arguments.begin() + commandAt), error);
  std::optional<InputCommand> command;
  std::optional<WatchCommand> watch;
  if (options && commandAt < arguments.size()) {
    const std::vector<std::string> words(arguments.begin() + commandAt, arguments.end());
    if (words[0] == "watch") {
      watch = parseWatchCommand(words, error);
    } else {
      command = parseInputCommand(words, error);
    }
  }
  if (!options || (commandAt < arguments.size() && !command && !watch)) {
    std::cerr << "vistaro-client: " << error << "\n" << kUsage << kInputUsage << kWatchUsage;
    return kBadUsage;
  }
  if (watch && watch->patch && std::ranges::find(options->features, "patch") == options->features.end()) {
    options->features.push_back("patch");
  }

  if (options->direct) {
    // The rendezvous first: it finds the host's endpoint and the local port that leads there.
    AsioExecutor dialing("vistaro-dial", AsioExecutor::Thread::caller);
    std::string problem;
    auto dial = DirectDial::start(dialing, *options->direct, [&](std::optional<DirectDial::Reached> reached, std::string why) {
      if (reached) {
        options->quic = reached->hostEndpoint;
        options->quicLocalPort = reached->localPort;
      }
      problem = std::move(why);
      dialing.stop();
    });
    dialing.run();
    if (!options->quic) {
      std::cerr << "vistaro-client: " << problem << "\n";
      return kUnreachable;
    }
  }

  AsioExecutor executor("vistaro-client", AsioExecutor::Thread::caller);
  auto connection = ClientConnection::create(executor, *options);
  bool helloSent = false;
  int exitCode = kClosed;
  auto print = [](const std::string& line) {
    std::cout << line << std::endl;  // flushed per line: scripts read it as it comes
  };
  connection->onHelloSent = [&] {
    helloSent = true;
    std::cerr << "connected to " << options->quic.value_or(options->host + ":" + std::to_string(options->port))
              << (options->quic ? " over QUIC" : "") << "\n";
  };
  std::optional<FrameWatcher> watcher;
  bool awaitingFocus = false;
  if (watch) {
    watcher.emplace(
        executor, *watch, [&](const RequestMessage& request) { connection->request(request); }, print);
  }
  connection->onWelcome = [&](const WelcomeMessage& message) {
    print(describeWelcome(message));
    if (watcher) watcher->start();
    if (!command) return;
    if (command->pointer) {
      if (!command->displayGiven) command->pointer->displayID = message.current;
      connection->input(*command->pointer);
    }
    if (command->key) connection->key(*command->key);
    if (command->headless) connection->setHeadless(*command->headless);
    if (command->clientDisplay) connection->clientDisplay(*command->clientDisplay);
    if (command->fit) connection->setFit(*command->fit);
    // A left click is answered with where the keyboard focus went, up to about a second later.
    awaitingFocus = command->pointer && command->pointer->kind == InputMessage::Kind::click;
    command.reset();
    // A one-shot command: give the host a moment to act (and answer an error) before leaving.
    executor.postAfter(std::chrono::milliseconds(awaitingFocus ? 1500 : 500), [&] { connection->close(); });
  };
  connection->onFocus = [&](const FocusMessage& message) {
    print(describeFocus(message));
    if (std::exchange(awaitingFocus, false)) connection->close();
  };
  connection->onFrame = [&](const Bytes& body) {
    if (!watcher) return print(describeFrame(body));
    watcher->onFrame(body);
    if (watcher->finished()) connection->close();
  };
  connection->onUnexpected = [&](MessageType type, const Bytes& body) { print(describeUnexpected(type, body)); };
  connection->onError = [&](const ErrorMessage& message) {
    print(describeError(message));
    if (message.code == "auth") exitCode = kRefused;
  };
  connection->onClose = [&](std::optional<std::error_code> closeError) {
    if (closeError && options->direct && !helloSent) {
      std::cerr << "the host answered, but no QUIC connection got through to " << *options->quic
                << ": a router that changes ports per destination (symmetric NAT) defeats hole punching ("
                << closeError->message() << ")\n";
      exitCode = kUnreachable;
    } else if (closeError) {
      std::cerr << "connection failed: " << closeError->message() << "\n";
      if (exitCode == kClosed) exitCode = kConnectionFailed;
    } else {
      std::cerr << "closed\n";
    }
    executor.stop();
  };

  asio::signal_set signals(executor.context(), SIGINT, SIGTERM);
  signals.async_wait([&](std::error_code signalError, int) {
    if (!signalError) connection->close();
  });
  connection->start();
  executor.run();
  if (watcher && !watcher->writeLayers()) {
    std::cerr << "could not write the layers\n";
    if (exitCode == kClosed) exitCode = kConnectionFailed;
  }
  return exitCode;
}
