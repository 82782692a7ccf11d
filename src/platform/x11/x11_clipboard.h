#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "input/clipboard.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// The CLIPBOARD selection, owned from a hidden window on a thread of its own, which
// must answer other clients' requests at any time. Calls from other threads wait for
// that thread: owning is quick, copying another owner's contents is bounded by
// kCopyBudget. Entries are X targets by name ("UTF8_STRING", "text/plain", ...).
class X11Clipboard final : public Clipboard {
 public:
  explicit X11Clipboard(const std::string& displayName = {});
  ~X11Clipboard() override;
  X11Clipboard(const X11Clipboard&) = delete;
  X11Clipboard& operator=(const X11Clipboard&) = delete;

  // False for good once the server is lost; calls then do nothing.
  bool usable() const { return thread_.joinable() && live(connection_.get()); }
  // The server went away (or was never there); a new clipboard is needed once it is back.
  bool lost() const { return !live(connection_.get()); }

  // The text-like targets (and password-manager markers) of the current owner.
  ClipboardContents copyContents() override;
  void writeConcealedText(std::string_view text) override;
  uint64_t changeCount() override { return changeCount_.load(); }
  void replaceContents(const ClipboardContents& contents) override;

  static constexpr auto kCopyBudget = std::chrono::milliseconds(800);
  static constexpr auto kConversionTimeout = std::chrono::milliseconds(200);
  static constexpr size_t kMaxEntryBytes = 4 << 20;
  static constexpr size_t kMaxCopyBytes = 16 << 20;

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  void run();
  void call(std::function<void()> work);
  void handle(XEvent& event);
  std::optional<XEvent> waitFor(const std::function<bool(const XEvent&)>& wanted, Deadline deadline);
  Time freshTimestamp();
  bool own(std::map<Atom, std::string> entries);
  void disown();
  void serve(const XSelectionRequestEvent& request);
  ClipboardContents readFromOwner();
  std::optional<std::string> convert(Atom target, Deadline deadline);
  std::optional<std::string> receiveIncrementally(Deadline deadline);
  ::Display* display() const { return connection_->get(); }
  Atom atom(const char* name);
  std::string atomName(Atom atom);

  std::unique_ptr<Connection> connection_;
  Window window_ = 0;
  int fixesEventBase_ = 0;
  int wakeFd_ = -1;
  Atom clipboard_ = 0, targets_ = 0, timestamp_ = 0, utf8_ = 0, string_ = 0, text_ = 0, incr_ = 0, transfer_ = 0;
  std::map<Atom, std::string> served_;  // what we answer with while we own the clipboard
  Time ownedSince_ = CurrentTime;
  std::atomic<uint64_t> changeCount_{0};

  std::mutex mutex_;
  std::deque<std::function<void()>> commands_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vistaro::x11
