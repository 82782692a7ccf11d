#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vistaro {

// Replaces the file's contents all at once: temp file beside it, fsync,
// rename, fsync of the directory. Returns the error's text, absent on success.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, std::string_view contents);

}  // namespace vistaro
