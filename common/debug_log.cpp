#include "common/debug_log.h"

#include <cstdio>

namespace debuglog {

void formatAndOutput(char* buffer, std::size_t size, const char* format, std::va_list args) {
  int n = std::vsnprintf(buffer, size, format, args);
  if (n < 0) buffer[0] = '\0';  // encoding error: write nothing rather than garbage
  buffer[size - 1] = '\0';
  output(buffer);
}

}  // namespace debuglog

namespace {

template <std::size_t N>
void logWith(const char* format, std::va_list args) {
  char buffer[N];
  debuglog::formatAndOutput(buffer, N, format, args);
}

}  // namespace

void logLine(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  logWith<debuglog::kLineSize>(format, args);
  va_end(args);
}

void logUsbMuxLine(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  logWith<debuglog::kUsbMuxLineSize>(format, args);
  va_end(args);
}

void logMediaLine(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  logWith<debuglog::kMediaLineSize>(format, args);
  va_end(args);
}
