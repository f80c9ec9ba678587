// What this server registers: the one factory template (the camera filter) and the filter
// mapper records that describe it.
#pragma once

#include "dshow/class_factory_win.h"

namespace vcam {

// Friendly name of the camera, also its instance name in the video input device category.
inline constexpr const wchar_t* kCameraName = L"Orvik";

extern const dshow::CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

}  // namespace vcam
