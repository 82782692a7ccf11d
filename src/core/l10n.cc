#include "core/l10n.h"

#include <libintl.h>

#include <clocale>

namespace vistaro {
namespace {
constexpr const char* kDomain = "vistaro-host";
}

void initLocalization(const std::string& localeDirectory) {
  std::setlocale(LC_ALL, "");
  bindtextdomain(kDomain, localeDirectory.c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
}

std::string localized(const char* literal) { return dgettext(kDomain, literal); }

}  // namespace vistaro
