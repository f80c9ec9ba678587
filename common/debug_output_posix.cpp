// Outside Windows there is no debugger stream: lines go to standard error, or to the hook
// that a test installs to read them.
#include <cstdio>

#include "common/debug_log.h"
#include "common/debug_output_hook.h"

namespace debuglog {

namespace {
OutputHook g_hook = nullptr;
void* g_hookContext = nullptr;
}  // namespace

void setOutputHook(OutputHook hook, void* context) {
  g_hook = hook;
  g_hookContext = context;
}

void output(const char* line) {
  if (g_hook) {
    g_hook(line, g_hookContext);
    return;
  }
  std::fputs(line, stderr);
}

}  // namespace debuglog
