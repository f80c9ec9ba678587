// Folders of fonts for the font tests: the fixture of Debian's fonts under the program's file
// names, and scratch folders that a test fills with a small font under chosen names.
#pragma once

#include <string>
#include <vector>

namespace fonttest {

// "<fixture>/all/": one real font per script under the first-choice names.
std::string allScriptsFolder();
// "<fixture>/no-chinese/": the same without the Chinese font.
std::string noChineseFolder();

// A new, empty folder for the running test, as a UTF-8 path ending with '/'.
std::string freshFolder();
// Copies the small fixture font into `folder` under each of `names`.
void placeFonts(const std::string& folder, const std::vector<std::string>& names);
// Writes `bytes` as the file `folder` + `name`.
void writeFile(const std::string& folder, const std::string& name, const std::string& bytes);
// The small fixture font's bytes.
std::string smallFontBytes();

// File names compare without case on Windows, as the file system does.
bool sameFileName(const std::string& a, const std::string& b);

}  // namespace fonttest
