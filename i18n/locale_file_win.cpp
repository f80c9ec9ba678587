#include <windows.h>

#include <string>

#include "i18n/locale_file.h"

namespace i18n {

std::filesystem::path localesDirectory() {
  // Grow the buffer until the whole path fits: a cut path would name the wrong folder.
  std::wstring path(260, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  std::size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash);
  return std::filesystem::path(path) / L"locales";
}

}  // namespace i18n
