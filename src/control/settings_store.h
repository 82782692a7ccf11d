#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vistaro {

// The host's settings: one JSON object in $XDG_CONFIG_HOME/vistaro-host/settings.json.
// Every write replaces the file atomically, so a crash never leaves half a file;
// a file that cannot be read is kept aside, never overwritten.
class SettingsStore {
 public:
  explicit SettingsStore(std::filesystem::path file);
  // $XDG_CONFIG_HOME/vistaro-host/settings.json, or ~/.config/... when unset.
  static std::filesystem::path defaultFile();

  // What went wrong while loading (a corrupt file, kept aside), once; absent when nothing did.
  const std::optional<std::string>& loadProblem() const { return loadProblem_; }

  std::optional<std::string> pin() const { return stringValue("pin"); }
  // Absent also for a stored value outside 32 bits: it cannot name a display.
  std::optional<uint32_t> displayID() const;
  std::optional<std::string> relayRoom() const { return stringValue("relayRoom"); }
  std::optional<std::string> directID() const { return stringValue("directID"); }
  std::optional<std::map<uint32_t, float>> headlessSavedBrightness() const;
  // The window fitter's own encoding of the frames it must put back.
  std::optional<nlohmann::json> windowFramesBeforeFit() const;
  // The key the client's "cmd" stands for: "ctrl" (default) or "super". Set by the user by hand.
  std::optional<std::string> cmdModifier() const { return stringValue("cmdModifier"); }
  // A PKCS #12 file the direct path's QUIC listener shows instead of its own key. Set by hand.
  std::optional<std::string> directIdentityFile() const { return stringValue("directIdentityFile"); }
  // Where the rendezvous records live, set by hand: "directory" (default) or "webdav", the folder
  // or URL, the file holding the WebDAV account; and the STUN servers ("host:port") to ask.
  std::optional<std::string> recordStore() const { return stringValue("recordStore"); }
  std::optional<std::string> recordLocation() const { return stringValue("recordLocation"); }
  std::optional<std::string> recordCredentialsFile() const { return stringValue("recordCredentialsFile"); }
  std::optional<std::vector<std::string>> stunServers() const;

  // Each returns the write error's text, absent on success. The value is kept
  // in memory either way, so the running host behaves as the user asked.
  std::optional<std::string> setPin(const std::string& pin) { return set("pin", pin); }
  std::optional<std::string> setDisplayID(uint32_t id) { return set("displayID", id); }
  std::optional<std::string> setRelayRoom(const std::string& room) { return set("relayRoom", room); }
  std::optional<std::string> setDirectID(const std::string& id) { return set("directID", id); }
  std::optional<std::string> setHeadlessSavedBrightness(const std::optional<std::map<uint32_t, float>>& levels);
  std::optional<std::string> setWindowFramesBeforeFit(const std::optional<nlohmann::json>& frames);

 private:
  std::optional<std::string> stringValue(const char* key) const;
  std::optional<std::string> set(const char* key, nlohmann::json value);
  std::optional<std::string> remove(const char* key);
  std::optional<std::string> write();
  void load();
  void setAside();

  std::filesystem::path file_;
  nlohmann::json values_ = nlohmann::json::object();
  std::optional<std::string> loadProblem_;
};

}  // namespace vistaro
