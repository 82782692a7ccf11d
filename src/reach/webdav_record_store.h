#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "reach/record_store.h"

namespace vistaro {

// Records as NAME.json files in a WebDAV folder (Nextcloud, ownCloud, any server with WebDAV),
// through libcurl. 404 is an unknown record, 401 and 403 an account that cannot be used, 429 and
// 503 throttling (with the server's Retry-After). The account is "USER:PASSWORD" on the first
// line of a file only its owner may read; the password never reaches the journal.
class WebDavRecordStore final : public RecordStore {
 public:
  // Waits longer than this are the server's mistake, not a reason to stop for days.
  static constexpr Duration kLongestRetryAfter = std::chrono::hours(1);

  WebDavRecordStore(std::string folderURL, std::optional<std::filesystem::path> credentialsFile);

  std::optional<RecordProblem> checkAccount() override;
  FetchResult fetch(const std::string& name) override;
  std::optional<RecordProblem> save(const std::string& name, const Record& record) override;

 private:
  struct Response;
  Response request(const char* method, const std::string& url, const std::string* body);
  std::optional<RecordProblem> readCredentials();

  std::string folderURL_;
  std::optional<std::filesystem::path> credentialsFile_;
  std::string user_, password_;
};

}  // namespace vistaro
