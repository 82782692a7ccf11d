#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "input/clipboard.h"
#include "platform/x11/x11_connection.h"

namespace vistaro::x11 {

// One selection (CLIPBOARD, or PRIMARY), owned from a hidden window on a thread of its
// own, which must answer other clients' requests at any time. Calls from other threads
// wait for that thread: owning is quick, copying another owner's contents is bounded by
// kCopyBudget. Entries are X targets by name ("UTF8_STRING", "image/png", ...); large ones
// travel in INCR chunks both ways.
class X11Clipboard final : public Clipboard {
 public:
  explicit X11Clipboard(const std::string& displayName = {}, const std::string& selection = "CLIPBOARD");
  ~X11Clipboard() override;
  X11Clipboard(const X11Clipboard&) = delete;
  X11Clipboard& operator=(const X11Clipboard&) = delete;

  // False for good once the server is lost; calls then do nothing.
  bool usable() const { return thread_.joinable() && live(connection_.get()); }
  // The server went away (or was never there); a new clipboard is needed once it is back.
  bool lost() const { return !live(connection_.get()); }

  // Every target of the current owner that holds contents; absent when one of them cannot
  // be had within the bounds (the owner refusing a target it lists is no loss).
  std::optional<ClipboardContents> copyContents() override;
  void writeConcealedText(std::string_view text) override;
  uint64_t changeCount() override { return changeCount_.load(); }
  void replaceContents(const ClipboardContents& contents) override;

  static constexpr auto kCopyBudget = std::chrono::milliseconds(800);
  static constexpr auto kConversionTimeout = std::chrono::milliseconds(200);
  static constexpr size_t kMaxEntryBytes = 32 << 20;
  static constexpr size_t kMaxCopyBytes = 64 << 20;
  // Larger entries are served in INCR chunks of this size.
  static constexpr size_t kChunkBytes = 256 << 10;
  // Requestors that stop asking for chunks are dropped after this, and the oldest beyond this many.
  static constexpr auto kTransferPatience = std::chrono::seconds(10);
  static constexpr size_t kMaxTransfers = 8;

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  struct Served {
    Atom type = 0;
    int format = 8;
    std::shared_ptr<const std::string> data;
  };
  struct Transfer {
    Window requestor = 0;
    Atom property = 0;
    Served entry;
    size_t sent = 0;
    Deadline lastStep;
  };
  struct Received {
    enum class Result { ok, refused, failed } result = Result::failed;
    Atom type = 0;
    int format = 0;
    std::string bytes;
  };
  void run();
  void call(std::function<void()> work);
  void handle(XEvent& event);
  std::optional<XEvent> waitFor(const std::function<bool(const XEvent&)>& wanted, Deadline deadline);
  Time freshTimestamp();
  bool own(const ClipboardContents& contents);
  void disown();
  void serve(const XSelectionRequestEvent& request);
  bool serveEntry(const XSelectionRequestEvent& request, Atom property, const Served& entry);
  void continueTransfer(const XPropertyEvent& event);
  std::optional<ClipboardContents> readFromOwner();
  Received convert(Atom target, Deadline deadline);
  Received receiveIncrementally(Deadline deadline);
  ::Display* display() const { return connection_->get(); }
  Atom atom(const char* name);
  std::string atomName(Atom atom);

  std::unique_ptr<Connection> connection_;
  Window window_ = 0;
  size_t chunkBytes_ = kChunkBytes;  // no larger than the server takes in one request
  int fixesEventBase_ = 0;
  int wakeFd_ = -1;
  Atom selection_ = 0, targets_ = 0, timestamp_ = 0, utf8_ = 0, string_ = 0, text_ = 0, incr_ = 0, transfer_ = 0;
  std::map<Atom, Served> served_;  // what we answer with while we own the selection
  std::deque<Transfer> transfers_;
  Time ownedSince_ = CurrentTime;
  std::atomic<uint64_t> changeCount_{0};

  std::mutex mutex_;
  std::deque<std::function<void()>> commands_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vistaro::x11
