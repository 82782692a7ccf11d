#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "reach/record_store.h"

namespace vistaro {

struct RecordStoreSettings {
  std::string kind = "directory";  // or "webdav"
  std::string location;            // the folder (empty: ~/Sync/vistaro-host), or the WebDAV folder's URL
  std::optional<std::filesystem::path> credentialsFile;  // WebDAV: USER:PASSWORD, mode 0600
};

// Absent, with the reason, when the settings name no store there can be.
std::shared_ptr<RecordStore> makeRecordStore(const RecordStoreSettings& settings, std::string& problem);
// A URL (http:// or https://) is a WebDAV folder, anything else a local one.
RecordStoreSettings recordStoreAt(const std::string& location, std::optional<std::filesystem::path> credentialsFile);

}  // namespace vistaro
