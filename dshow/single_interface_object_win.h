// The framework's small COM objects (enumerators) take their IUnknown from common/.
#pragma once

#include "common/com_object_win.h"
#include "dshow/dshow_common_win.h"

namespace dshow {

using comobject::SingleInterfaceObject;

}  // namespace dshow
