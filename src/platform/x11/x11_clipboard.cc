#include "platform/x11/x11_clipboard.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <future>

#include "core/log.h"
#include "platform/x11/clipboard_targets.h"

namespace vistaro::x11 {
namespace {

using std::chrono::steady_clock;

struct Property {
  Atom type = None;
  int format = 0;
  std::string bytes;  // format 32: an array of longs, as Xlib hands them out
};

std::optional<Property> takeProperty(::Display* d, Window window, Atom name, size_t maxBytes) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, window, name, 0, static_cast<long>(maxBytes / 4 + 1), False, AnyPropertyType, &type,
                         &format, &items, &after, &data) != Success) {
    return std::nullopt;
  }
  XDeleteProperty(d, window, name);
  std::optional<Property> result;
  if (after == 0 && type != None) {
    size_t unit = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
    result = Property{type, format, std::string(reinterpret_cast<char*>(data), items * unit)};
  }
  if (data) XFree(data);
  return result;
}

}  // namespace

X11Clipboard::X11Clipboard(const std::string& displayName, const std::string& selection)
    : connection_(Connection::open(displayName)) {
  if (!connection_) return;
  ::Display* d = connection_->get();
  int errorBase = 0;
  if (!XFixesQueryExtension(d, &fixesEventBase_, &errorBase)) {
    logWarning("input", "no XFixes: selection changes by others cannot be seen, pasting is off");
    return;
  }
  selection_ = atom(selection.c_str());
  targets_ = atom("TARGETS");
  timestamp_ = atom("TIMESTAMP");
  utf8_ = atom("UTF8_STRING");
  string_ = XA_STRING;
  text_ = atom("TEXT");
  incr_ = atom("INCR");
  transfer_ = atom("VISTARO_SELECTION");
  long maxRequest = XExtendedMaxRequestSize(d) ? XExtendedMaxRequestSize(d) : XMaxRequestSize(d);
  chunkBytes_ = std::min(kChunkBytes, static_cast<size_t>(maxRequest) * 4 - 64);
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                          CWEventMask, &attributes);
  XFixesSelectSelectionInput(d, DefaultRootWindow(d), selection_,
                             XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                 XFixesSelectionClientCloseNotifyMask);
  XSync(d, False);
  // Lost already: this thread would keep the display's lock from the one we start.
  if (connection_->broken()) return;
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ >= 0) thread_ = std::thread([this] { run(); });
}

X11Clipboard::~X11Clipboard() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (wakeFd_ >= 0) close(wakeFd_);
}

Atom X11Clipboard::atom(const char* name) { return XInternAtom(connection_->get(), name, False); }

std::string X11Clipboard::atomName(Atom value) {
  char* name = XGetAtomName(connection_->get(), value);
  std::string result = name ? name : "";
  if (name) XFree(name);
  return result;
}

void X11Clipboard::run() {
  ::Display* d = connection_->get();
  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      work.swap(commands_);
    }
    for (auto& command : work) command();
    while (XPending(d)) {
      XEvent event;
      XNextEvent(d, &event);
      handle(event);
    }
    // A lost server leaves its socket readable forever: then only commands wake us.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {ConnectionNumber(d), POLLIN, 0}};
    poll(fds, connection_->broken() ? 1 : 2, -1);
    uint64_t count = 0;
    (void)!read(wakeFd_, &count, sizeof count);
  }
  if (connection_->broken()) return;
  disown();
  XDestroyWindow(d, window_);
  XSync(d, False);
}

void X11Clipboard::call(std::function<void()> work) {
  if (!usable()) return;
  // The server may be lost before this command's turn comes.
  std::packaged_task<void()> task([&] {
    if (live(connection_.get())) work();
  });
  std::future<void> done = task.get_future();
  {
    std::lock_guard lock(mutex_);
    commands_.push_back([&task] { task(); });
  }
  uint64_t one = 1;
  (void)!write(wakeFd_, &one, sizeof one);
  done.get();
}

void X11Clipboard::handle(XEvent& event) {
  if (event.type == SelectionRequest && event.xselectionrequest.selection == selection_) {
    serve(event.xselectionrequest);
  } else if (event.type == SelectionClear && event.xselectionclear.selection == selection_) {
    served_.clear();
  } else if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
    continueTransfer(event.xproperty);
  } else if (event.type == fixesEventBase_ + XFixesSelectionNotify) {
    auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
    // Our own changes are counted when we make them.
    if (notify.selection == selection_ && notify.owner != window_) ++changeCount_;
  }
}

std::optional<XEvent> X11Clipboard::waitFor(const std::function<bool(const XEvent&)>& wanted, Deadline deadline) {
  ::Display* d = connection_->get();
  for (;;) {
    while (XPending(d)) {
      XEvent event;
      XNextEvent(d, &event);
      if (wanted(event)) return event;
      handle(event);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    if (left <= 0 || connection_->broken() || poll(&fd, 1, static_cast<int>(left)) <= 0) return std::nullopt;
  }
}

// Selection owners ignore requests stamped before their ownership; a server time from an
// empty property append is a time they accept.
Time X11Clipboard::freshTimestamp() {
  XChangeProperty(connection_->get(), window_, transfer_, XA_STRING, 8, PropModeAppend, nullptr, 0);
  auto event = waitFor(
      [&](const XEvent& e) {
        return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == transfer_;
      },
      steady_clock::now() + kConversionTimeout);
  return event ? event->xproperty.time : CurrentTime;
}

bool X11Clipboard::own(const ClipboardContents& contents) {
  ::Display* d = connection_->get();
  std::map<Atom, Served> entries;
  for (const ClipboardEntry& entry : contents) {
    Atom type = atom(entry.dataType.empty() ? entry.type.c_str() : entry.dataType.c_str());
    entries[atom(entry.type.c_str())] = {type, entry.itemBits, std::make_shared<const std::string>(entry.data)};
  }
  // Count changes that happened before ours first, so that they are not taken for later ones.
  XSync(d, False);
  waitFor([](const XEvent&) { return false; }, steady_clock::now());
  Time now = freshTimestamp();
  XSetSelectionOwner(d, selection_, window_, now);
  if (XGetSelectionOwner(d, selection_) != window_) {
    logWarning("input", "could not take the clipboard");
    return false;
  }
  served_ = std::move(entries);
  ownedSince_ = now;
  ++changeCount_;
  return true;
}

void X11Clipboard::disown() {
  if (XGetSelectionOwner(connection_->get(), selection_) == window_) {
    XSetSelectionOwner(connection_->get(), selection_, None, freshTimestamp());
  }
  served_.clear();
  XFlush(connection_->get());
}

void X11Clipboard::serve(const XSelectionRequestEvent& request) {
  ::Display* d = connection_->get();
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = d;
  reply.requestor = request.requestor;
  reply.selection = request.selection;
  reply.target = request.target;
  reply.time = request.time;
  reply.property = None;
  Atom property = request.property == None ? request.target : request.property;  // obsolete requestors
  bool current = request.time == CurrentTime || request.time >= ownedSince_;
  if (!served_.empty() && current) {
    if (request.target == targets_) {
      std::vector<long> list{static_cast<long>(targets_), static_cast<long>(timestamp_)};
      for (const auto& [target, entry] : served_) list.push_back(static_cast<long>(target));
      XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
      reply.property = property;
    } else if (request.target == timestamp_) {
      long time = static_cast<long>(ownedSince_);
      XChangeProperty(d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&time), 1);
      reply.property = property;
    } else if (auto it = served_.find(request.target); it != served_.end() && serveEntry(request, property, it->second)) {
      reply.property = property;
    }
  }
  XSendEvent(d, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
  XFlush(d);
}

namespace {

size_t itemBytes(int format) { return format == 32 ? sizeof(long) : static_cast<size_t>(format / 8); }

void writeProperty(::Display* d, Window window, Atom property, Atom type, int format, const char* data, size_t bytes) {
  XChangeProperty(d, window, property, type, format, PropModeReplace, reinterpret_cast<const unsigned char*>(data),
                  static_cast<int>(bytes / itemBytes(format)));
}

}  // namespace

bool X11Clipboard::serveEntry(const XSelectionRequestEvent& request, Atom property, const Served& entry) {
  ::Display* d = connection_->get();
  if (itemBytes(entry.format) == 0) return false;
  if (entry.data->size() <= chunkBytes_) {
    writeProperty(d, request.requestor, property, entry.type, entry.format, entry.data->data(), entry.data->size());
    return true;
  }
  // Each chunk follows the requestor's deletion of the one before (the INCR protocol).
  const Deadline now = steady_clock::now();
  std::erase_if(transfers_, [&](const Transfer& t) { return now - t.lastStep > kTransferPatience; });
  if (transfers_.size() >= kMaxTransfers) transfers_.pop_front();
  XSelectInput(d, request.requestor, PropertyChangeMask);
  long size = static_cast<long>(entry.data->size());
  XChangeProperty(d, request.requestor, property, incr_, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&size), 1);
  transfers_.push_back({request.requestor, property, entry, 0, now});
  return true;
}

void X11Clipboard::continueTransfer(const XPropertyEvent& event) {
  auto it = std::find_if(transfers_.begin(), transfers_.end(),
                         [&](const Transfer& t) { return t.requestor == event.window && t.property == event.atom; });
  if (it == transfers_.end()) return;
  ::Display* d = connection_->get();
  const std::string& data = *it->entry.data;
  size_t unit = itemBytes(it->entry.format);
  size_t bytes = std::min(chunkBytes_ / unit * unit, (data.size() - it->sent) / unit * unit);
  // The last chunk is an empty one.
  writeProperty(d, it->requestor, it->property, it->entry.type, it->entry.format, data.data() + it->sent, bytes);
  it->sent += bytes;
  it->lastStep = steady_clock::now();
  if (bytes == 0) {
    XSelectInput(d, it->requestor, NoEventMask);
    transfers_.erase(it);
  }
  XFlush(d);
}

X11Clipboard::Received X11Clipboard::convert(Atom target, Deadline deadline) {
  ::Display* d = connection_->get();
  XConvertSelection(d, selection_, target, transfer_, window_, CurrentTime);
  Deadline until = std::min(deadline, steady_clock::now() + kConversionTimeout);
  auto event = waitFor(
      [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == window_ && e.xselection.target == target;
      },
      until);
  if (!event) return {};
  if (event->xselection.property == None) return {.result = Received::Result::refused};
  std::optional<Property> property = takeProperty(d, window_, transfer_, kMaxEntryBytes);
  if (!property) return {};
  // Owners hand over large contents in chunks; deleting the property (done) asks for the next.
  if (property->type == incr_) return receiveIncrementally(deadline);
  return {Received::Result::ok, property->type, property->format, std::move(property->bytes)};
}

X11Clipboard::Received X11Clipboard::receiveIncrementally(Deadline deadline) {
  Received received;
  for (;;) {
    auto event = waitFor(
        [&](const XEvent& e) {
          return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == transfer_ &&
                 e.xproperty.state == PropertyNewValue;
        },
        deadline);
    if (!event) return {};
    std::optional<Property> chunk = takeProperty(display(), window_, transfer_, kMaxEntryBytes);
    if (!chunk || (received.format != 0 && chunk->format != received.format) ||
        received.bytes.size() + chunk->bytes.size() > kMaxEntryBytes) {
      return {};
    }
    if (chunk->bytes.empty()) {
      received.result = Received::Result::ok;
      return received;
    }
    received.type = chunk->type;
    received.format = chunk->format;
    received.bytes += chunk->bytes;
  }
}

std::optional<ClipboardContents> X11Clipboard::readFromOwner() {
  ::Display* d = connection_->get();
  Window owner = XGetSelectionOwner(d, selection_);
  ClipboardContents contents;
  if (owner == None) return contents;
  if (owner == window_) {
    for (const auto& [target, entry] : served_) {
      contents.push_back({atomName(target), *entry.data, atomName(entry.type), entry.format});
    }
    return contents;
  }
  Deadline deadline = steady_clock::now() + kCopyBudget;
  Received list = convert(targets_, deadline);
  if (list.result != Received::Result::ok || list.format != 32) return std::nullopt;
  size_t total = 0;
  for (size_t offset = 0; offset + sizeof(long) <= list.bytes.size(); offset += sizeof(long)) {
    long value = 0;
    std::memcpy(&value, list.bytes.data() + offset, sizeof value);
    std::string name = atomName(static_cast<Atom>(value));
    if (!isKeptClipboardTarget(name)) continue;
    Received data = convert(static_cast<Atom>(value), deadline);
    if (data.result == Received::Result::refused) continue;
    total += data.bytes.size();
    if (data.result != Received::Result::ok || total > kMaxCopyBytes || !live(connection_.get())) return std::nullopt;
    std::string type = atomName(data.type);
    contents.push_back({std::move(name), std::move(data.bytes), type == name ? "" : std::move(type), data.format});
  }
  return contents;
}

std::optional<ClipboardContents> X11Clipboard::copyContents() {
  std::optional<ClipboardContents> contents;
  call([&] { contents = readFromOwner(); });
  return contents;
}

void X11Clipboard::writeConcealedText(std::string_view text) {
  call([&] { own(concealedTextEntries(text)); });
}

void X11Clipboard::replaceContents(const ClipboardContents& contents) {
  call([&] {
    if (contents.empty()) {
      disown();
    } else {
      own(contents);
    }
  });
}

}  // namespace vistaro::x11
