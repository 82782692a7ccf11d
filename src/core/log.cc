#include "core/log.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cstdio>
#include <mutex>

namespace vistaro {
namespace {

bool journalAvailable() {
  static const bool available = [] {
    struct stat info {};
    return ::stat("/run/systemd/journal/socket", &info) == 0;
  }();
  return available;
}

int priorityOf(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return LOG_DEBUG;
    case LogLevel::info: return LOG_INFO;
    case LogLevel::warning: return LOG_WARNING;
    case LogLevel::error: return LOG_ERR;
  }
  return LOG_INFO;
}

const char* nameOf(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return "debug";
    case LogLevel::info: return "info";
    case LogLevel::warning: return "warning";
    case LogLevel::error: return "error";
  }
  return "info";
}

}  // namespace

void logMessage(LogLevel level, std::string_view category, std::string_view message) {
  if (journalAvailable()) {
    sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(),
                    "PRIORITY=%d", priorityOf(level), "SYSLOG_IDENTIFIER=vistaro-host",
                    "CATEGORY=%.*s", static_cast<int>(category.size()), category.data(), nullptr);
    return;
  }
  // One line per message even when several queues log at once.
  static std::mutex stderrLock;
  std::lock_guard<std::mutex> hold(stderrLock);
  std::fprintf(stderr, "vistaro-host [%.*s] %s: %.*s\n", static_cast<int>(category.size()),
               category.data(), nameOf(level), static_cast<int>(message.size()), message.data());
}

}  // namespace vistaro
