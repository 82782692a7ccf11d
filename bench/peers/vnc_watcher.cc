#include "bench/peers/vnc_watcher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <rfb/rfbclient.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "bench/peers/tcp_bytes.h"

namespace vistaro::peers {
namespace {

using namespace std::chrono_literals;

// Coarse level 5 is JPEG quality 77 with 4:2:0 on both TigerVNC and libvncserver, the nearest to 72.
constexpr int kCoarseQuality = 5;
constexpr uint32_t kFineQuality = 72;

int tag;  // the address keys our object in the client's data

VncWatcher& owner(rfbClient* client) { return *static_cast<VncWatcher*>(rfbClientGetClientData(client, &tag)); }

void quiet(const char*, ...) {}

bool listening(uint16_t port) {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return connected;
}

// The encodings a TigerVNC or TurboVNC viewer sends for "Tight, JPEG 72, 4:2:0", and the pseudo-encodings
// libvncclient announced before: a server may already have an answer to one of them on its way.
bool askForTightJpeg(rfbClient* client) {
  const uint32_t encodings[] = {rfbEncodingTight,
                                rfbEncodingCopyRect,
                                rfbEncodingFineQualityLevel0 + kFineQuality,
                                rfbEncodingSubsamp2X,
                                rfbEncodingQualityLevel0 + kCoarseQuality,
                                rfbEncodingCompressLevel0 + static_cast<uint32_t>(client->appData.compressLevel),
                                rfbEncodingLastRect,
                                rfbEncodingNewFBSize,
                                rfbEncodingExtDesktopSize,
                                rfbEncodingKeyboardLedState,
                                rfbEncodingQemuExtendedKeyEvent};
  std::string message{char(rfbSetEncodings), 0, 0, char(std::size(encodings))};
  for (uint32_t encoding : encodings) {
    const uint32_t wire = htonl(encoding);
    message.append(reinterpret_cast<const char*>(&wire), sizeof wire);
  }
  return WriteToRFBServer(client, message.data(), static_cast<unsigned>(message.size()));
}

}  // namespace

VncWatcher::VncWatcher(uint16_t port) {
  rfbClientLog = quiet;
  if (!testing::eventually([&] { return listening(port); })) {
    throw std::runtime_error("no VNC server on port " + std::to_string(port));
  }
  client_ = rfbGetClient(8, 3, 4);
  rfbClientSetClientData(client_, &tag, this);
  client_->serverHost = strdup("127.0.0.1");
  client_->serverPort = port;
  client_->appData.encodingsString = "tight copyrect";
  client_->appData.enableJPEG = TRUE;
  client_->appData.qualityLevel = kCoarseQuality;
  client_->appData.useRemoteCursor = FALSE;
  client_->GotFrameBufferUpdate = [](rfbClient* c, int x, int y, int w, int h) { owner(c).regionArrived(x, y, w, h); };
  client_->FinishedFrameBufferUpdate = [](rfbClient* c) { owner(c).updateFinished(); };
  if (!rfbInitClient(client_, nullptr, nullptr)) {  // it has freed the client
    client_ = nullptr;
    throw std::runtime_error("no RFB session on port " + std::to_string(port));
  }
  askForTightJpeg(client_);
  shown_.assign(client_->frameBuffer, client_->frameBuffer + size_t(client_->width) * client_->height * 4);
  bytesBefore_ = tcpBytesReceived(client_->sock);
  thread_ = std::thread([this] { run(); });
}

VncWatcher::~VncWatcher() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (client_) {
    free(client_->frameBuffer);
    rfbClientCleanup(client_);
  }
}

Clock::time_point VncWatcher::pressKey(char letter) {
  std::promise<Clock::time_point> sent;
  auto when = sent.get_future();
  keys_.put({letter, std::move(sent)});
  if (when.wait_for(testing::kPatience) != std::future_status::ready) throw std::runtime_error("the VNC session ended");
  return when.get();
}

// libvncclient is not thread-safe: keys go out between messages, on this thread.
void VncWatcher::run() {
  while (!stop_) {
    sendPendingKey();
    const int ready = WaitForMessage(client_, 2000);
    if (ready < 0 || (ready > 0 && !HandleRFBServerMessage(client_))) break;
  }
}

void VncWatcher::sendPendingKey() {
  auto key = keys_.take(0ms);
  if (!key) return;
  const auto at = Clock::now();
  SendKeyEvent(client_, static_cast<uint32_t>(key->letter), TRUE);
  SendKeyEvent(client_, static_cast<uint32_t>(key->letter), FALSE);
  key->sent.set_value(at);
}

void VncWatcher::regionArrived(int x, int y, int w, int h) {
  const size_t stride = size_t(client_->width) * 4;
  for (int row = y; row < y + h; ++row) {
    const size_t offset = row * stride + size_t(x) * 4;
    uint8_t* now = client_->frameBuffer + offset;
    if (std::memcmp(now, shown_.data() + offset, size_t(w) * 4) != 0) {
      changed_ = true;
      std::memcpy(shown_.data() + offset, now, size_t(w) * 4);
    }
  }
}

void VncWatcher::updateFinished() {
  const uint64_t bytes = tcpBytesReceived(client_->sock);
  updates.put({Clock::now(), bytes - bytesBefore_, std::exchange(changed_, false)});
  bytesBefore_ = bytes;
}

}  // namespace vistaro::peers
