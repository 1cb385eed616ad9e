// What files.cpp asks of the system it runs on; each system has its own
// file (files_linux.cpp, files_macos.cpp with finder_info_macos.cpp).
#pragma once

#include <string>

namespace platform::os {

// The file's four-character type code; empty when it has none.
std::string FileTypeCode(const std::string& path);
// Sets the file's type code (empty: removes it). Where the file system
// cannot keep it, nothing happens.
void SetFileTypeCode(const std::string& path, const std::string& code);

// The running program's executable file, symbolic links resolved; empty
// when the system does not say.
std::string ExecutablePath();

}  // namespace platform::os
