// Windows 10's mfsensorgroup.dll as far as the registration can tell: it loads, and has no
// MFCreateVirtualCamera. The marker lets the test recognise it in System32.
extern "C" __declspec(dllexport) const char BrindleStandInMarker[] = "brindle stand-in mfsensorgroup";
