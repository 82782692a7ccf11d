#include "platform/linux/gmain_executor.h"

#include <glib.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace vistaro {
namespace {

gboolean runOnce(gpointer data) {
  (*static_cast<Executor::Task*>(data))();
  return G_SOURCE_REMOVE;
}

void dropTask(gpointer data) { delete static_cast<Executor::Task*>(data); }

}  // namespace

GMainExecutor::GMainExecutor(std::string label) : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  thread_ = std::thread([this, label = std::move(label)] {
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
  });
}

GMainExecutor::~GMainExecutor() {
  post([loop = loop_] { g_main_loop_quit(loop); });
  if (thread_.joinable()) thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);  // tasks still waiting for their time are dropped with it
}

void GMainExecutor::post(Task task) { attach(0, std::move(task)); }

Cancellable GMainExecutor::postAfter(Duration delay, Task task) {
  auto flag = std::make_shared<std::atomic<bool>>(false);
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero())).count();
  attach(static_cast<unsigned>(std::min<int64_t>(ms, G_MAXUINT)), [flag, task = std::move(task)] {
    if (!flag->load()) task();
  });
  return Cancellable(flag);
}

void GMainExecutor::attach(unsigned delayMs, Task task) {
  // Idle sources of one priority run in the order they were attached: the queue stays serial.
  GSource* source = delayMs == 0 ? g_idle_source_new() : g_timeout_source_new(delayMs);
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, runOnce, new Task(std::move(task)), dropTask);
  g_source_attach(source, context_);
  g_source_unref(source);
}

}  // namespace vistaro
