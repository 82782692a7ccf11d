#include "platform/x11/x11_clipboard.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

X11Clipboard::X11Clipboard(const std::string& displayName) : connection_(Connection::open(displayName)) {
  if (!connection_) return;
  ::Display* d = connection_->get();
  int errorBase = 0;
  if (!XFixesQueryExtension(d, &fixesEventBase_, &errorBase)) {
    logWarning("input", "no XFixes: clipboard changes by others cannot be seen, pasting is off");
    return;
  }
  clipboard_ = atom("CLIPBOARD");
  targets_ = atom("TARGETS");
  timestamp_ = atom("TIMESTAMP");
  utf8_ = atom("UTF8_STRING");
  string_ = XA_STRING;
  text_ = atom("TEXT");
  incr_ = atom("INCR");
  transfer_ = atom("VISTARO_SELECTION");
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                          CWEventMask, &attributes);
  XFixesSelectSelectionInput(d, DefaultRootWindow(d), clipboard_,
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
  if (event.type == SelectionRequest && event.xselectionrequest.selection == clipboard_) {
    serve(event.xselectionrequest);
  } else if (event.type == SelectionClear && event.xselectionclear.selection == clipboard_) {
    served_.clear();
  } else if (event.type == fixesEventBase_ + XFixesSelectionNotify) {
    auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
    // Our own changes are counted when we make them.
    if (notify.selection == clipboard_ && notify.owner != window_) ++changeCount_;
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

bool X11Clipboard::own(std::map<Atom, std::string> entries) {
  ::Display* d = connection_->get();
  // Count changes that happened before ours first, so that they are not taken for later ones.
  XSync(d, False);
  waitFor([](const XEvent&) { return false; }, steady_clock::now());
  Time now = freshTimestamp();
  XSetSelectionOwner(d, clipboard_, window_, now);
  if (XGetSelectionOwner(d, clipboard_) != window_) {
    logWarning("input", "could not take the clipboard");
    return false;
  }
  served_ = std::move(entries);
  ownedSince_ = now;
  ++changeCount_;
  return true;
}

void X11Clipboard::disown() {
  if (XGetSelectionOwner(connection_->get(), clipboard_) == window_) {
    XSetSelectionOwner(connection_->get(), clipboard_, None, freshTimestamp());
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
  size_t maxBytes = static_cast<size_t>(XExtendedMaxRequestSize(d) ? XExtendedMaxRequestSize(d) : XMaxRequestSize(d)) * 4 - 64;
  if (!served_.empty() && current) {
    if (request.target == targets_) {
      std::vector<long> list{static_cast<long>(targets_), static_cast<long>(timestamp_)};
      for (const auto& [target, data] : served_) list.push_back(static_cast<long>(target));
      XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
      reply.property = property;
    } else if (request.target == timestamp_) {
      long time = static_cast<long>(ownedSince_);
      XChangeProperty(d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(&time), 1);
      reply.property = property;
    } else if (auto it = served_.find(request.target); it != served_.end() && it->second.size() <= maxBytes) {
      // Larger contents would need the INCR protocol; such a request is refused.
      Atom type = request.target == text_ ? utf8_ : request.target;
      XChangeProperty(d, request.requestor, property, type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(it->second.data()), static_cast<int>(it->second.size()));
      reply.property = property;
    }
  }
  XSendEvent(d, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
  XFlush(d);
}

std::optional<std::string> X11Clipboard::convert(Atom target, Deadline deadline) {
  ::Display* d = connection_->get();
  XConvertSelection(d, clipboard_, target, transfer_, window_, CurrentTime);
  Deadline until = std::min(deadline, steady_clock::now() + kConversionTimeout);
  auto event = waitFor(
      [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == window_ && e.xselection.target == target;
      },
      until);
  if (!event || event->xselection.property == None) return std::nullopt;
  std::optional<Property> property = takeProperty(d, window_, transfer_, kMaxEntryBytes);
  if (!property) return std::nullopt;
  // Owners hand over large contents in chunks; deleting the property (done) asks for the next.
  if (property->type == incr_) return receiveIncrementally(deadline);
  if (target == targets_) return property->format == 32 ? std::optional(property->bytes) : std::nullopt;
  return property->format == 8 ? std::optional(property->bytes) : std::nullopt;
}

std::optional<std::string> X11Clipboard::receiveIncrementally(Deadline deadline) {
  std::string data;
  for (;;) {
    auto event = waitFor(
        [&](const XEvent& e) {
          return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == transfer_ &&
                 e.xproperty.state == PropertyNewValue;
        },
        deadline);
    if (!event) return std::nullopt;
    std::optional<Property> chunk = takeProperty(display(), window_, transfer_, kMaxEntryBytes);
    if (!chunk || chunk->format != 8 || data.size() + chunk->bytes.size() > kMaxEntryBytes) return std::nullopt;
    if (chunk->bytes.empty()) return data;
    data += chunk->bytes;
  }
}

ClipboardContents X11Clipboard::readFromOwner() {
  ::Display* d = connection_->get();
  Window owner = XGetSelectionOwner(d, clipboard_);
  ClipboardContents contents;
  if (owner == None) return contents;
  if (owner == window_) {
    for (const auto& [target, data] : served_) contents.push_back({atomName(target), data});
    return contents;
  }
  Deadline deadline = steady_clock::now() + kCopyBudget;
  std::optional<std::string> list = convert(targets_, deadline);
  if (!list) return contents;
  size_t total = 0;
  for (size_t offset = 0; offset + sizeof(long) <= list->size() && live(connection_.get()); offset += sizeof(long)) {
    long value = 0;
    std::memcpy(&value, list->data() + offset, sizeof value);
    std::string name = atomName(static_cast<Atom>(value));
    if (!isKeptClipboardTarget(name)) continue;
    std::optional<std::string> data = convert(static_cast<Atom>(value), deadline);
    if (!data || total + data->size() > kMaxCopyBytes) continue;
    total += data->size();
    contents.push_back({std::move(name), std::move(*data)});
  }
  return contents;
}

ClipboardContents X11Clipboard::copyContents() {
  ClipboardContents contents;
  call([&] { contents = readFromOwner(); });
  return contents;
}

void X11Clipboard::writeConcealedText(std::string_view text) {
  call([&] {
    std::map<Atom, std::string> entries;
    for (const ClipboardEntry& entry : concealedTextEntries(text)) entries[atom(entry.type.c_str())] = entry.data;
    own(std::move(entries));
  });
}

void X11Clipboard::replaceContents(const ClipboardContents& contents) {
  call([&] {
    if (contents.empty()) {
      disown();
      return;
    }
    std::map<Atom, std::string> entries;
    for (const ClipboardEntry& entry : contents) entries[atom(entry.type.c_str())] = entry.data;
    own(std::move(entries));
  });
}

}  // namespace vistaro::x11
