#include "vcam/registration_data_win.h"

#include "vcam/virtual_camera_filter_win.h"

namespace vcam {

namespace {

const dshow::AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};

// REGFILTERPINS names the pin through a non-const pointer; the mapper only reads it.
wchar_t kPinName[] = L"Output";

const dshow::AMOVIESETUP_PIN kPins[] = {
    {kPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kPinTypes},
};

const dshow::AMOVIESETUP_FILTER kCameraSetup = {&kVirtualCameraClsid, kCameraName, MERIT_DO_NOT_USE, 1, kPins};

}  // namespace

const dshow::CFactoryTemplate g_Templates[] = {
    {kCameraName, &kVirtualCameraClsid, VirtualCameraFilter::CreateInstance, nullptr, &kCameraSetup},
};
const int g_cTemplates = int(sizeof(g_Templates) / sizeof(g_Templates[0]));

}  // namespace vcam
