#include "i18n/font_folder_win.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "common/debug_log.h"

namespace i18n {

std::string systemFontsFolder() {
  PWSTR path = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, &path);
  std::string folder;
  if (SUCCEEDED(hr) && path != nullptr) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
      folder.assign(static_cast<std::size_t>(bytes), '\0');
      WideCharToMultiByte(CP_UTF8, 0, path, -1, folder.data(), bytes, nullptr, nullptr);
      folder.resize(static_cast<std::size_t>(bytes) - 1);  // the terminator
      if (folder.back() != '\\') folder += '\\';
    }
  }
  CoTaskMemFree(path);  // owed even when the call failed
  if (folder.empty()) logLine("[font] Windows names no fonts folder (0x%08lX)\n", static_cast<unsigned long>(hr));
  return folder;
}

}  // namespace i18n
