// Diagnostic lines: formatted printf-style into a fixed buffer (longer text is cut) and written
// to the debugger output stream. Each line starts with its component's tag, e.g. "[UsbMux]".
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(__MINGW32__) && !defined(__clang__)
// MinGW's C++ runtime formats with its ISO printf, so %zu and %llu are checked as such (clang
// knows no gnu_printf and checks them as printf).
#define BRINDLE_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(gnu_printf, fmt_index, first_arg)))
#elif defined(__GNUC__) || defined(__clang__)
#define BRINDLE_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define BRINDLE_PRINTF_LIKE(fmt_index, first_arg)
#endif

namespace debuglog {

// Buffer sizes, terminator included.
constexpr std::size_t kLineSize = 256;       // most components
constexpr std::size_t kUsbMuxLineSize = 384;  // "[UsbMux]"
constexpr std::size_t kMediaLineSize = 512;   // "[H264Decoder]", "[AudioPlayer]"

// Writes one finished line: OutputDebugStringA on Windows, standard error elsewhere.
void output(const char* line);

// Formats into `buffer` (always terminated, cut to fit) and writes it.
void formatAndOutput(char* buffer, std::size_t size, const char* format, std::va_list args);

}  // namespace debuglog

// The logging calls themselves, one per buffer size.
void logLine(const char* format, ...) BRINDLE_PRINTF_LIKE(1, 2);
void logUsbMuxLine(const char* format, ...) BRINDLE_PRINTF_LIKE(1, 2);
void logMediaLine(const char* format, ...) BRINDLE_PRINTF_LIKE(1, 2);
