#include "core/asio_executor.h"

#include <pthread.h>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace vistaro {
namespace {

void nameThisThread(const std::string& label) {
  pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}

}  // namespace

AsioExecutor::AsioExecutor(std::string label, Thread thread)
    : label_(std::move(label)), context_(1) {
  guard_.emplace(asio::make_work_guard(context_));
  if (thread == Thread::own) {
    thread_ = std::thread([this] {
      nameThisThread(label_);
      context_.run();
    });
  }
}

AsioExecutor::~AsioExecutor() { shutdown(); }

void AsioExecutor::shutdown() {
  stop();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
}

void AsioExecutor::post(Task task) { asio::post(context_, std::move(task)); }

Cancellable AsioExecutor::postAfter(Duration delay, Task task) {
  auto flag = std::make_shared<std::atomic<bool>>(false);
  auto timer = std::make_shared<asio::steady_timer>(context_, delay);
  timer->async_wait([timer, flag, task = std::move(task)](const std::error_code& error) {
    if (!error && !flag->load()) task();
  });
  return Cancellable(flag);
}

bool AsioExecutor::isCurrent() const { return context_.get_executor().running_in_this_thread(); }

void AsioExecutor::run() {
  nameThisThread(label_);
  context_.run();
}

void AsioExecutor::stop() {
  guard_.reset();
  context_.stop();
}

}  // namespace vistaro
