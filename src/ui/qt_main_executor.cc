#include "ui/qt_main_executor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace vistaro {

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()) {}

QtMainExecutor::~QtMainExecutor() = default;

void QtMainExecutor::post(Task task) {
  QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

Cancellable QtMainExecutor::postAfter(Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  // A Qt timer belongs to the thread that starts it: from elsewhere it is started in the loop.
  if (isCurrent()) {
    startTimer(delay, cancelled, std::move(task));
  } else {
    post([this, delay, cancelled, task = std::move(task)]() mutable { startTimer(delay, cancelled, std::move(task)); });
  }
  return Cancellable(cancelled);
}

void QtMainExecutor::startTimer(Duration delay, std::shared_ptr<std::atomic<bool>> cancelled, Task task) {
  // Rounded up: work that waits for a time never runs before it.
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero()));
  QTimer::singleShot(milliseconds, Qt::PreciseTimer, context_.get(),
                     [cancelled = std::move(cancelled), task = std::move(task)] {
                       if (!cancelled->load()) task();
                     });
}

bool QtMainExecutor::isCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace vistaro
