// Registration of this in-process server: its COM keys under HKEY_CLASSES_ROOT and its
// filter mapper entries, in the default DirectShow filter category and (for the camera) in
// the video input device category, where capture applications look for cameras.
#pragma once

#include "dshow/class_factory_win.h"

namespace vcam {

// Writes (registering) or removes the COM server keys of every template and (re)registers or
// unregisters each template that has setup data with the filter mapper. Registering again
// replaces the old entries. Entries that are already gone are not a failure.
HRESULT RegisterAllServers(HMODULE module, const dshow::CFactoryTemplate* templates, int count, bool registering);

// DllRegisterServer: the server, then the camera's entry in the video input device category.
HRESULT RegisterCamera(HMODULE module);
// DllUnregisterServer: the category entry first, then the server.
HRESULT UnregisterCamera(HMODULE module);

}  // namespace vcam
