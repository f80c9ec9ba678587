// The class identifier of the Media Foundation camera's media source,
// {EFA3B694-F577-422B-BCE5-F3553CF9D409}, and its friendly name.
#pragma once

#include <windows.h>

namespace mfcam {

inline constexpr CLSID kMediaSourceClsid = {0xEFA3B694, 0xF577, 0x422B, {0xBC, 0xE5, 0xF3, 0x55, 0x3C, 0xF9, 0xD4, 0x09}};

// The friendly name written under the class key.
inline constexpr const wchar_t* kMediaSourceName = L"Orvik Media Source";

}  // namespace mfcam
