#include "platform/x11/randr_layout_codec.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace vistaro::x11 {
namespace {

using nlohmann::json;

constexpr int kVersion = 1;
constexpr int32_t kMaxScreenSide = 32767;  // X's coordinates are 16-bit

json toJson(const ModeTimings& m) {
  return {{"name", m.name},         {"width", m.width},       {"height", m.height},     {"dotClock", m.dotClock},
          {"hSyncStart", m.hSyncStart}, {"hSyncEnd", m.hSyncEnd}, {"hTotal", m.hTotal},   {"hSkew", m.hSkew},
          {"vSyncStart", m.vSyncStart}, {"vSyncEnd", m.vSyncEnd}, {"vTotal", m.vTotal},   {"flags", m.flags}};
}

json toJson(const CrtcLayout& c) {
  json crtc = {{"id", c.id}, {"x", c.x}, {"y", c.y}, {"rotation", c.rotation}, {"outputs", c.outputs},
               {"mode", c.mode ? toJson(*c.mode) : json()}, {"transform", json()}};
  if (c.transform) {
    crtc["transform"] = {{"matrix", c.transform->matrix}, {"filter", c.transform->filter},
                         {"parameters", c.transform->parameters}};
  }
  return crtc;
}

json toJson(const MonitorLayout& m) {
  return {{"name", m.name},   {"primary", m.primary}, {"x", m.x},           {"y", m.y},
          {"width", m.width}, {"height", m.height},   {"widthMm", m.widthMm}, {"heightMm", m.heightMm},
          {"outputs", m.outputs}};
}

struct Corrupt {};

const json& member(const json& object, const char* key) {
  if (!object.is_object()) throw Corrupt{};
  auto found = object.find(key);
  if (found == object.end()) throw Corrupt{};
  return *found;
}

template <typename T>
T number(const json& value) {
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (n > uint64_t(std::numeric_limits<T>::max())) throw Corrupt{};
    return T(n);
  }
  if (!value.is_number_integer()) throw Corrupt{};
  const int64_t n = value.get<int64_t>();
  if (n < int64_t(std::numeric_limits<T>::min()) ||
      (n > 0 && uint64_t(n) > uint64_t(std::numeric_limits<T>::max()))) {
    throw Corrupt{};
  }
  return T(n);
}

template <typename T>
T number(const json& object, const char* key) {
  return number<T>(member(object, key));
}

std::string text(const json& value) {
  if (!value.is_string()) throw Corrupt{};
  return value.get<std::string>();
}

std::string text(const json& object, const char* key) { return text(member(object, key)); }

template <typename T, typename Read>
std::vector<T> list(const json& object, const char* key, Read read) {
  const json& array = member(object, key);
  if (!array.is_array()) throw Corrupt{};
  std::vector<T> items;
  for (const json& item : array) items.push_back(read(item));
  return items;
}

std::vector<std::string> names(const json& object, const char* key) {
  return list<std::string>(object, key, [](const json& item) {
    std::string name = text(item);
    if (name.empty()) throw Corrupt{};
    return name;
  });
}

ModeTimings modeFrom(const json& m) {
  return {text(m, "name"),
          number<uint32_t>(m, "width"),
          number<uint32_t>(m, "height"),
          number<uint64_t>(m, "dotClock"),
          number<uint32_t>(m, "hSyncStart"),
          number<uint32_t>(m, "hSyncEnd"),
          number<uint32_t>(m, "hTotal"),
          number<uint32_t>(m, "hSkew"),
          number<uint32_t>(m, "vSyncStart"),
          number<uint32_t>(m, "vSyncEnd"),
          number<uint32_t>(m, "vTotal"),
          number<uint64_t>(m, "flags")};
}

CrtcTransform transformFrom(const json& t) {
  CrtcTransform transform;
  const std::vector<int32_t> matrix = list<int32_t>(t, "matrix", [](const json& v) { return number<int32_t>(v); });
  if (matrix.size() != transform.matrix.size()) throw Corrupt{};
  std::copy(matrix.begin(), matrix.end(), transform.matrix.begin());
  transform.filter = text(t, "filter");
  transform.parameters = list<int32_t>(t, "parameters", [](const json& v) { return number<int32_t>(v); });
  return transform;
}

CrtcLayout crtcFrom(const json& c) {
  CrtcLayout crtc{number<uint64_t>(c, "id")};
  if (const json& mode = member(c, "mode"); !mode.is_null()) crtc.mode = modeFrom(mode);
  crtc.x = number<int32_t>(c, "x");
  crtc.y = number<int32_t>(c, "y");
  crtc.rotation = number<uint16_t>(c, "rotation");
  crtc.outputs = names(c, "outputs");
  if (const json& transform = member(c, "transform"); !transform.is_null()) crtc.transform = transformFrom(transform);
  return crtc;
}

int32_t side(const json& object, const char* key) {
  const int32_t value = number<int32_t>(object, key);
  if (value < 1 || value > kMaxScreenSide) throw Corrupt{};
  return value;
}

MonitorLayout monitorFrom(const json& m) {
  const json& primary = member(m, "primary");
  if (!primary.is_boolean()) throw Corrupt{};
  MonitorLayout monitor{text(m, "name"),           primary.get<bool>(),     number<int32_t>(m, "x"),
                        number<int32_t>(m, "y"),   side(m, "width"),        side(m, "height"),
                        number<int32_t>(m, "widthMm"), number<int32_t>(m, "heightMm"), names(m, "outputs")};
  if (monitor.name.empty()) throw Corrupt{};
  return monitor;
}

}  // namespace

std::string encodeLayout(const ScreenLayout& layout) {
  json crtcs = json::array(), monitors = json::array();
  for (const CrtcLayout& crtc : layout.crtcs) crtcs.push_back(toJson(crtc));
  for (const MonitorLayout& monitor : layout.monitors) monitors.push_back(toJson(monitor));
  const json file = {
      {"version", kVersion},
      {"display", layout.display},
      {"server", layout.server},
      {"screen",
       {{"width", layout.width}, {"height", layout.height}, {"widthMm", layout.widthMm}, {"heightMm", layout.heightMm}}},
      {"crtcs", crtcs},
      {"primaryOutput", layout.primaryOutput},
      {"monitors", monitors}};
  return file.dump(1) + "\n";
}

std::optional<ScreenLayout> decodeLayout(std::string_view contents) {
  const json file = json::parse(contents, nullptr, /*allow_exceptions=*/false);
  if (file.is_discarded()) return std::nullopt;
  try {
    if (number<int>(file, "version") != kVersion) return std::nullopt;
    const json& screen = member(file, "screen");
    ScreenLayout layout{text(file, "display"),  text(file, "server"),
                        side(screen, "width"),  side(screen, "height"),
                        number<int32_t>(screen, "widthMm"), number<int32_t>(screen, "heightMm")};
    layout.crtcs = list<CrtcLayout>(file, "crtcs", crtcFrom);
    layout.primaryOutput = text(file, "primaryOutput");
    layout.monitors = list<MonitorLayout>(file, "monitors", monitorFrom);
    return layout;
  } catch (const Corrupt&) {
    return std::nullopt;
  }
}

}  // namespace vistaro::x11
