// The binaries we ship as Windows sees them: the program, both camera DLLs and the setup carry
// the product name and the project's one version; the program has its application manifest and
// its icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Binary {
  const wchar_t* path;
  const wchar_t* description;
};

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name) {
  std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return L"<missing>";
  return static_cast<const wchar_t*>(value);
}

TEST(ResourcesTest, EveryBinaryCarriesTheProductAndTheProjectVersion) {
  const Binary binaries[] = {{BRINDLE_CONTROL, L"Brindle Video"},
                             {BRINDLE_VCAM_X64, L"Brindle Video camera (64-bit)"},
                             {BRINDLE_VCAM_X86, L"Brindle Video camera (32-bit)"},
                             {BRINDLE_SETUP, L"Brindle Video Setup"}};
  for (const Binary& binary : binaries) {
    SCOPED_TRACE(testing::Message() << binary.description);
    DWORD size = GetFileVersionInfoSizeW(binary.path, nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(binary.path, 0, size, info.data()));
    EXPECT_EQ(versionString(info, L"ProductName"), L"Brindle Video");
    EXPECT_EQ(versionString(info, L"FileDescription"), binary.description);
    EXPECT_EQ(versionString(info, L"FileVersion"), BRINDLE_VERSION);
    EXPECT_EQ(versionString(info, L"ProductVersion"), BRINDLE_VERSION);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    std::wstring numbers = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                           std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                           std::to_wstring(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numbers, BRINDLE_VERSION);
  }
}

TEST(ResourcesTest, ProgramHasItsManifestAndIcon) {
  HMODULE program = LoadLibraryExW(BRINDLE_CONTROL, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);

  HRSRC manifest = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(manifest, nullptr);
  std::string text(static_cast<const char*>(LockResource(LoadResource(program, manifest))),
                   SizeofResource(program, manifest));
  EXPECT_NE(text.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2"),
            std::string::npos);
  EXPECT_NE(text.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"), std::string::npos)
      << "Windows 10 and 11";

  HANDLE icon = LoadImageW(program, MAKEINTRESOURCEW(1), IMAGE_ICON, 256, 256, 0);
  EXPECT_NE(icon, nullptr) << "the icon Explorer and the window class use";
  if (icon) DestroyIcon(static_cast<HICON>(icon));
  FreeLibrary(program);
}

}  // namespace
