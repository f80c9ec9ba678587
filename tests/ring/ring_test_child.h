// Shared by the child programs of the cross-process ring tests: argument parsing and the
// stop event the test driver signals.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace ringtest {

inline std::uint64_t argNumber(int argc, char** argv, int index) {
  return index < argc ? std::strtoull(argv[index], nullptr, 10) : 0;
}

// Manual-reset event "Local\<ring name>-stop"; whoever comes first creates it.
inline HANDLE stopEvent(const std::string& ringName) {
  return CreateEventA(nullptr, TRUE, FALSE, ("Local\\" + ringName + "-stop").c_str());
}

}  // namespace ringtest
