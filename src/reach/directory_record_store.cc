#include "reach/directory_record_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "reach/record_json.h"
#include "reach/random_hex_id.h"

namespace vistaro {
namespace {

constexpr off_t kLongestRecord = 64 * 1024;

RecordProblem problem(RecordProblem::Kind kind, std::string description) {
  return {.kind = kind, .retryAfter = std::nullopt, .description = std::move(description)};
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::optional<RecordProblem> DirectoryRecordStore::checkAccount() {
  std::error_code error;
  if (std::filesystem::is_directory(folder_, error)) return std::nullopt;
  return problem(RecordProblem::Kind::accountUnavailable, "no folder " + folder_.string());
}

FetchResult DirectoryRecordStore::fetch(const std::string& name) {
  const std::filesystem::path file = folder_ / (name + ".json");
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) {
    const auto kind = errno == ENOENT ? RecordProblem::Kind::unknownItem : RecordProblem::Kind::other;
    return {std::nullopt, problem(kind, systemError(file.string()))};
  }
  if (!S_ISREG(status.st_mode) || status.st_size > kLongestRecord) {
    return {std::nullopt, problem(RecordProblem::Kind::other, file.string() + " is no record")};
  }
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  auto record = recordFromJson(text.str());
  if (!record) return {std::nullopt, problem(RecordProblem::Kind::other, file.string() + " is no JSON object")};
  // The inode's change time is this machine's own: a sync tool may copy the writer's
  // modification time, but whatever wrote the file here set the change time now.
  const auto changed = WallClock::from_time_t(status.st_ctim.tv_sec) + std::chrono::nanoseconds(status.st_ctim.tv_nsec);
  record->age = std::chrono::duration_cast<Duration>(WallClock::now() - changed);
  return {std::move(record), std::nullopt};
}

std::optional<RecordProblem> DirectoryRecordStore::save(const std::string& name, const Record& record) {
  // Written beside the record and renamed over it: a syncing peer never reads half a record.
  const std::filesystem::path file = folder_ / (name + ".json");
  const std::filesystem::path temporary = folder_ / ("." + name + "." + randomHexID().substr(0, 8) + ".tmp");
  const std::string text = recordToJson(record);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return problem(RecordProblem::Kind::other, systemError(temporary.string()));
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
    const std::string description = systemError(file.string());
    ::unlink(temporary.c_str());
    return problem(RecordProblem::Kind::other, description);
  }
  return std::nullopt;
}

}  // namespace vistaro
