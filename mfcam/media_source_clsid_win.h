// The class identifier of the Media Foundation camera's media source: the text is the one
// place it is written; the GUID is computed from it at compile time.
#pragma once

#include <windows.h>

namespace mfcam {

inline constexpr wchar_t kMediaSourceClsidText[] = L"{EFA3B694-F577-422B-BCE5-F3553CF9D409}";

namespace detail {

constexpr unsigned hexDigit(wchar_t c) {
  return c >= L'0' && c <= L'9'   ? unsigned(c - L'0')
         : c >= L'A' && c <= L'F' ? unsigned(c - L'A' + 10)
                                  : unsigned(c - L'a' + 10);
}
constexpr unsigned long long hexAt(const wchar_t* text, int at, int digits) {
  unsigned long long value = 0;
  for (int i = 0; i < digits; i++) value = value * 16 + hexDigit(text[at + i]);
  return value;
}
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
constexpr GUID guidFromText(const wchar_t* t) {
  return GUID{static_cast<unsigned long>(hexAt(t, 1, 8)),
              static_cast<unsigned short>(hexAt(t, 10, 4)),
              static_cast<unsigned short>(hexAt(t, 15, 4)),
              {static_cast<unsigned char>(hexAt(t, 20, 2)), static_cast<unsigned char>(hexAt(t, 22, 2)),
               static_cast<unsigned char>(hexAt(t, 25, 2)), static_cast<unsigned char>(hexAt(t, 27, 2)),
               static_cast<unsigned char>(hexAt(t, 29, 2)), static_cast<unsigned char>(hexAt(t, 31, 2)),
               static_cast<unsigned char>(hexAt(t, 33, 2)), static_cast<unsigned char>(hexAt(t, 35, 2))}};
}

}  // namespace detail

inline constexpr CLSID kMediaSourceClsid = detail::guidFromText(kMediaSourceClsidText);
static_assert(kMediaSourceClsid.Data1 == 0xEFA3B694 && kMediaSourceClsid.Data4[7] == 0x09);

// The friendly name written under the class key.
inline constexpr const wchar_t* kMediaSourceName = L"Orvik Media Source";

}  // namespace mfcam
