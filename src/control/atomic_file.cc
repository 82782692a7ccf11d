#include "control/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vistaro {
namespace {

std::string describe(const char* step, const std::filesystem::path& path) {
  return std::string(step) + " " + path.string() + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    contents.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, std::string_view contents) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) return "create " + file.parent_path().string() + ": " + error.message();

  const std::filesystem::path temp = file.string() + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return describe("open", temp);
  if (!writeAll(fd, contents) || ::fsync(fd) != 0) {
    std::string problem = describe("write", temp);
    ::close(fd);
    ::unlink(temp.c_str());
    return problem;
  }
  ::close(fd);
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    std::string problem = describe("rename", temp);
    ::unlink(temp.c_str());
    return problem;
  }
  // The rename itself must survive a power cut too.
  const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return std::nullopt;
}

}  // namespace vistaro
