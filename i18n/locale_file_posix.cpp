#include <system_error>

#include "i18n/locale_file.h"

namespace i18n {

std::filesystem::path localesDirectory() {
  std::error_code ec;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return program.parent_path() / "locales";
}

}  // namespace i18n
