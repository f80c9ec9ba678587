#include "i18n/font_file_check.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace i18n {

namespace {

std::uint32_t be32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::uint32_t tag(const char (&t)[5]) { return be32(reinterpret_cast<const unsigned char*>(t)); }

bool readAt(std::ifstream& file, std::uint64_t fileSize, std::uint64_t offset, unsigned char* dst, std::size_t n) {
  if (offset > fileSize || n > fileSize - offset) return false;
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(n));
  return file.good();
}

bool directoryIsSound(std::ifstream& file, std::uint64_t fileSize) {
  unsigned char header[12];
  if (!readAt(file, fileSize, 0, header, sizeof(header))) return false;
  std::uint64_t faceOffset = 0;
  if (be32(header) == tag("ttcf")) {
    unsigned char first[4];
    if (be32(header + 8) == 0 || !readAt(file, fileSize, 12, first, sizeof(first))) return false;
    faceOffset = be32(first);
    if (!readAt(file, fileSize, faceOffset, header, sizeof(header))) return false;
  }
  // The versions the glyph reader accepts.
  const std::uint32_t version = be32(header);
  if (version != 0x00010000 && version != tag("true") && version != tag("OTTO") && version != tag("typ1") &&
      version != 0x31000000)
    return false;

  const std::size_t tableCount = (std::size_t(header[4]) << 8) | header[5];
  std::vector<unsigned char> directory(tableCount * 16);
  if (tableCount == 0 || !readAt(file, fileSize, faceOffset + 12, directory.data(), directory.size())) return false;

  bool cmap = false, head = false, hhea = false, hmtx = false, glyf = false, loca = false, cff = false;
  for (std::size_t i = 0; i < tableCount; ++i) {
    const unsigned char* entry = directory.data() + i * 16;
    const std::uint64_t offset = be32(entry + 8);
    const std::uint64_t length = be32(entry + 12);
    if (offset + length > fileSize) return false;
    const std::uint32_t t = be32(entry);
    cmap |= t == tag("cmap");
    head |= t == tag("head");
    hhea |= t == tag("hhea");
    hmtx |= t == tag("hmtx");
    glyf |= t == tag("glyf");
    loca |= t == tag("loca");
    cff |= t == tag("CFF ");
  }
  return cmap && head && hhea && hmtx && ((glyf && loca) || cff);
}

}  // namespace

FontFileStatus checkFontFile(const char* path) {
  if (path == nullptr || path[0] == '\0') return FontFileStatus::Missing;
  std::filesystem::path fsPath;
  try {
    fsPath = std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(path), std::strlen(path)));
  } catch (...) {
    return FontFileStatus::Missing;  // not convertible to a file name: no such file
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fsPath, ec)) return FontFileStatus::Missing;
  std::ifstream file(fsPath, std::ios::binary);
  if (!file) return FontFileStatus::Missing;
  const std::uint64_t fileSize = std::filesystem::file_size(fsPath, ec);
  if (ec) return FontFileStatus::Missing;
  return directoryIsSound(file, fileSize) ? FontFileStatus::Usable : FontFileStatus::Damaged;
}

}  // namespace i18n
