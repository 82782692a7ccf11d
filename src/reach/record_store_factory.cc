#include "reach/record_store_factory.h"

#include <cstdlib>

#include "reach/directory_record_store.h"
#include "reach/webdav_record_store.h"

namespace vistaro {

std::shared_ptr<RecordStore> makeRecordStore(const RecordStoreSettings& settings, std::string& problem) {
  if (settings.kind == "webdav") {
    if (settings.location.rfind("http://", 0) != 0 && settings.location.rfind("https://", 0) != 0) {
      problem = "a WebDAV store needs an http:// or https:// URL, not \"" + settings.location + "\"";
      return nullptr;
    }
    return std::make_shared<WebDavRecordStore>(settings.location, settings.credentialsFile);
  }
  if (settings.kind != "directory") {
    problem = "unknown record store \"" + settings.kind + "\" (directory or webdav)";
    return nullptr;
  }
  std::filesystem::path folder = settings.location;
  if (folder.empty()) {
    const char* home = std::getenv("HOME");
    folder = std::filesystem::path(home ? home : "/") / "Sync" / "vistaro-host";
  }
  return std::make_shared<DirectoryRecordStore>(folder);
}

RecordStoreSettings recordStoreAt(const std::string& location, std::optional<std::filesystem::path> credentialsFile) {
  const bool url = location.rfind("http://", 0) == 0 || location.rfind("https://", 0) == 0;
  return {url ? "webdav" : "directory", location, std::move(credentialsFile)};
}

}  // namespace vistaro
