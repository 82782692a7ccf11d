// vistaro-client: connects to a host, says hello and prints every message that comes back, one per line.
#include <asio/signal_set.hpp>
#include <cstdio>
#include <iostream>

#include "client/client_connection.h"
#include "client/command_line.h"
#include "client/message_printer.h"

namespace {

enum ExitCode { kClosed = 0, kBadUsage = 64, kConnectionFailed = 1, kRefused = 2 };

}  // namespace

int main(int argc, char** argv) {
  using namespace vistaro;
  using namespace vistaro::client;

  std::string error;
  const std::optional<ClientOptions> options =
      parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::cerr << "vistaro-client: " << error << "\n" << kUsage;
    return kBadUsage;
  }

  AsioExecutor executor("vistaro-client", AsioExecutor::Thread::caller);
  auto connection = ClientConnection::create(executor, *options);
  int exitCode = kClosed;
  auto print = [](const std::string& line) {
    std::cout << line << std::endl;  // flushed per line: scripts read it as it comes
  };
  connection->onHelloSent = [&] { std::cerr << "connected to " << options->host << ":" << options->port << "\n"; };
  connection->onWelcome = [&](const WelcomeMessage& message) { print(describeWelcome(message)); };
  connection->onFocus = [&](const FocusMessage& message) { print(describeFocus(message)); };
  connection->onFrame = [&](const Bytes& body) { print(describeFrame(body)); };
  connection->onUnexpected = [&](MessageType type, const Bytes& body) { print(describeUnexpected(type, body)); };
  connection->onError = [&](const ErrorMessage& message) {
    print(describeError(message));
    if (message.code == "auth") exitCode = kRefused;
  };
  connection->onClose = [&](std::optional<std::error_code> closeError) {
    if (closeError) {
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
  return exitCode;
}
