#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "core/executor.h"

namespace vistaro {

using WallClock = std::chrono::system_clock;

// One small record of the rendezvous: its string fields, and when it was written.
struct Record {
  std::map<std::string, std::string> strings;
  // The "at" field the writer put in, by the writer's clock.
  std::optional<WallClock::time_point> at;
  // How long ago the store itself saw the record change, by the store's own clock: a writer
  // whose clock is off cannot make a record look fresh or stale.
  std::optional<Duration> age;
};

struct RecordProblem {
  enum class Kind { unknownItem, accountUnavailable, throttled, other };
  Kind kind = Kind::other;
  std::optional<Duration> retryAfter;  // throttled: as the service asked
  std::string description;             // for the journal, never a credential
};

struct FetchResult {
  std::optional<Record> record;
  std::optional<RecordProblem> problem;  // exactly one of the two
};

// The rendezvous records live in a store that belongs to the user, reached from both ends:
// a folder synced between devices, or a WebDAV server. Calls block: they run on a queue of
// their own.
class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Absent when the store can be used; else why not.
  virtual std::optional<RecordProblem> checkAccount() = 0;
  virtual FetchResult fetch(const std::string& name) = 0;
  // Replaces the whole record at once; "at" is written as seconds since 1970.
  virtual std::optional<RecordProblem> save(const std::string& name, const Record& record) = 0;
};

}  // namespace vistaro
