#include "app/termination_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace vistaro {
namespace {

int pipeEnds[2] = {-1, -1};
constexpr unsigned char kStop = 0;

void handle(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  // A full pipe already holds signals enough to end the process.
  [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(Executor& main, std::function<void(int)> arrived)
    : main_(main), deliver_(guard_.wrap(std::move(arrived))) {
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for the termination signals");
  fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  reader_ = std::thread([this] { read(); });
  struct sigaction action {};
  action.sa_handler = handle;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kSignals) sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  for (const int number : kSignals) std::signal(number, SIG_DFL);
  guard_.end();
  const unsigned char stop = kStop;
  [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &stop, 1);
  reader_.join();
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void TerminationSignals::read() {
  pthread_setname_np(pthread_self(), "vistaro.signals");
  for (;;) {
    unsigned char byte = kStop;
    const ssize_t count = ::read(pipeEnds[0], &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0 || byte == kStop) return;
    main_.post([deliver = deliver_, number = int(byte)]() mutable { deliver(number); });
  }
}

}  // namespace vistaro
