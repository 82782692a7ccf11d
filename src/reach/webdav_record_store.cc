#include "reach/webdav_record_store.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <charconv>
#include <fstream>
#include <mutex>

#include "reach/record_json.h"

namespace vistaro {
namespace {

using Kind = RecordProblem::Kind;
constexpr long kTimeoutSeconds = 10;
constexpr size_t kLongestBody = 64 * 1024;

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.erase(0, 1);
  return text;
}

}  // namespace

struct WebDavRecordStore::Response {
  long status = 0;
  std::string body;
  std::string transportError;
  std::optional<time_t> date, lastModified;
  std::string retryAfter;

  // What the status means for the store; absent for success.
  std::optional<RecordProblem> problem(const std::string& what) const {
    const std::string text = transportError.empty() ? what + ": HTTP " + std::to_string(status) : what + ": " + transportError;
    if (!transportError.empty()) return RecordProblem{.kind = Kind::other, .description = text};
    if (status >= 200 && status < 300) return std::nullopt;
    if (status == 404) return RecordProblem{.kind = Kind::unknownItem, .description = text};
    if (status == 401 || status == 403) return RecordProblem{.kind = Kind::accountUnavailable, .description = text};
    if (status == 429 || status == 503) {
      return RecordProblem{.kind = Kind::throttled, .retryAfter = retryAfterDelay(), .description = text};
    }
    return RecordProblem{.kind = Kind::other, .description = text};
  }

  // Retry-After: seconds, or an HTTP date measured against the server's own Date.
  std::optional<Duration> retryAfterDelay() const {
    if (retryAfter.empty()) return std::nullopt;
    long long seconds = 0;
    const auto [end, error] = std::from_chars(retryAfter.data(), retryAfter.data() + retryAfter.size(), seconds);
    if (error != std::errc() || end != retryAfter.data() + retryAfter.size()) {
      const time_t at = curl_getdate(retryAfter.c_str(), nullptr);
      if (at < 0) return std::nullopt;
      seconds = at - date.value_or(time(nullptr));
    }
    return std::clamp<Duration>(std::chrono::seconds(std::max(seconds, 0LL)), Duration::zero(), kLongestRetryAfter);
  }
};

WebDavRecordStore::WebDavRecordStore(std::string folderURL, std::optional<std::filesystem::path> credentialsFile)
    : folderURL_(std::move(folderURL)), credentialsFile_(std::move(credentialsFile)) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (folderURL_.empty() || folderURL_.back() != '/') folderURL_ += '/';
}

std::optional<RecordProblem> WebDavRecordStore::readCredentials() {
  user_.clear();
  password_.clear();
  if (!credentialsFile_) return std::nullopt;
  const std::string file = credentialsFile_->string();
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) return RecordProblem{.kind = Kind::accountUnavailable, .description = "no account file " + file};
  if ((status.st_mode & 077) != 0) {
    return RecordProblem{.kind = Kind::accountUnavailable,
                         .description = "account file " + file + " may be read by others: chmod 600 it"};
  }
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  const size_t colon = line.find(':');
  if (colon == std::string::npos) {
    return RecordProblem{.kind = Kind::accountUnavailable, .description = "account file " + file + " holds no USER:PASSWORD"};
  }
  user_ = line.substr(0, colon);
  password_ = trimmed(line.substr(colon + 1));
  return std::nullopt;
}

WebDavRecordStore::Response WebDavRecordStore::request(const char* method, const std::string& url, const std::string* body) {
  Response response;
  CURL* curl = curl_easy_init();
  if (!curl) {
    response.transportError = "no libcurl handle";
    return response;
  }
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Depth: 0");
  if (body) headers = curl_slist_append(headers, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  if (!user_.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
  }
  if (body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
  }
  using Sink = size_t (*)(char*, size_t, size_t, void*);
  Sink bodySink = [](char* data, size_t size, size_t count, void* out) -> size_t {
    auto& r = *static_cast<Response*>(out);
    if (r.body.size() + size * count > kLongestBody) return 0;
    r.body.append(data, size * count);
    return size * count;
  };
  Sink headerSink = [](char* data, size_t size, size_t count, void* out) -> size_t {
    auto& r = *static_cast<Response*>(out);
    const std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return size * count;
    const std::string name = lowercase(line.substr(0, colon));
    const std::string value = trimmed(line.substr(colon + 1));
    auto date = [&] {
      const time_t t = curl_getdate(value.c_str(), nullptr);
      return t < 0 ? std::nullopt : std::optional<time_t>(t);
    };
    if (name == "date") r.date = date();
    if (name == "last-modified") r.lastModified = date();
    if (name == "retry-after") r.retryAfter = value;
    return size * count;
  };
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, bodySink);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, headerSink);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  const CURLcode result = curl_easy_perform(curl);
  if (result != CURLE_OK) {
    response.transportError = curl_easy_strerror(result);
  } else {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return response;
}

std::optional<RecordProblem> WebDavRecordStore::checkAccount() {
  if (auto problem = readCredentials()) return problem;
  auto problem = request("PROPFIND", folderURL_, nullptr).problem("WebDAV folder " + folderURL_);
  // Whatever keeps the folder out of reach keeps the rendezvous out of reach.
  if (problem) problem->kind = Kind::accountUnavailable;
  return problem;
}

FetchResult WebDavRecordStore::fetch(const std::string& name) {
  const Response response = request("GET", folderURL_ + name + ".json", nullptr);
  if (auto problem = response.problem(name)) return {std::nullopt, std::move(problem)};
  auto record = recordFromJson(response.body);
  if (!record) return {std::nullopt, RecordProblem{.kind = Kind::other, .description = name + " is no JSON object"}};
  // Both times by the server's clock.
  if (response.date && response.lastModified) record->age = std::chrono::seconds(*response.date - *response.lastModified);
  return {std::move(record), std::nullopt};
}

std::optional<RecordProblem> WebDavRecordStore::save(const std::string& name, const Record& record) {
  const std::string body = recordToJson(record);
  return request("PUT", folderURL_ + name + ".json", &body).problem(name);
}

}  // namespace vistaro
