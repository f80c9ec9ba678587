#include "ring/named_section.h"

#include <windows.h>

namespace ring {

static_assert(FILE_MAP_ALL_ACCESS == 0xF001F);

namespace {

// Size of the mapped view at `view`: the mapping's real extent, whatever its header claims.
std::uint64_t mappedBytes(const void* view) {
  MEMORY_BASIC_INFORMATION info = {};
  if (VirtualQuery(view, &info, sizeof(info)) != sizeof(info)) return 0;
  if (info.BaseAddress != view || info.State != MEM_COMMIT) return 0;
  return info.RegionSize;
}

}  // namespace

bool NamedSection::create(const std::string& objectName, std::uint64_t size) {
  close();
  // An existing section of this name (one a reader still holds) is returned as it is.
  HANDLE handle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                     static_cast<DWORD>(size), objectName.c_str());
  if (handle == nullptr) return false;
  void* view = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(size));
  if (view == nullptr || mappedBytes(view) < size) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  view_ = static_cast<std::uint8_t*>(view);
  size_ = size;
  return true;
}

bool NamedSection::open(const std::string& objectName) {
  close();
  HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, objectName.c_str());
  if (handle == nullptr) return false;
  void* view = MapViewOfFile(handle, FILE_MAP_READ, 0, 0, 0);
  std::uint64_t bytes = view != nullptr ? mappedBytes(view) : 0;
  if (bytes == 0) {
    if (view != nullptr) UnmapViewOfFile(view);
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  view_ = static_cast<std::uint8_t*>(view);
  size_ = bytes;
  return true;
}

void NamedSection::close() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
  view_ = nullptr;
  size_ = 0;
}

}  // namespace ring
