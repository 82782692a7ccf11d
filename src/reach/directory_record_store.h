#pragma once

#include <filesystem>

#include "reach/record_store.h"

namespace vistaro {

// Records as NAME.json files in a folder the user syncs between devices (Syncthing, Nextcloud's
// client, a network share). A missing folder is an account that is not available.
class DirectoryRecordStore final : public RecordStore {
 public:
  explicit DirectoryRecordStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

  std::optional<RecordProblem> checkAccount() override;
  FetchResult fetch(const std::string& name) override;
  std::optional<RecordProblem> save(const std::string& name, const Record& record) override;

 private:
  std::filesystem::path folder_;
};

}  // namespace vistaro
