// Registration records a filter can describe itself with (the DirectShow setup layout; a pin
// record has the same layout as REGFILTERPINS).
#pragma once

#include "dshow/dshow_common_win.h"

namespace dshow {

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN;

struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};

}  // namespace dshow
