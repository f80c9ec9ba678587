// Where Windows keeps its fonts. Windows only.
#pragma once

#include <string>

namespace i18n {

// The fonts folder as Windows names it (Windows need not live on drive C:), UTF-8 with a closing
// separator; empty, with a log line, when Windows does not say.
std::string systemFontsFolder();

}  // namespace i18n
