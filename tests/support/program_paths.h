// Paths of the programs under test as a child process needs them.
//
// CMake writes the build's paths into test_paths.h as it sees them: Unix paths, also for the
// Windows build that runs under Wine. A Windows program reaches the Unix file system through
// Wine's drive Z:, so "/work/build/x.exe" becomes "Z:/work/build/x.exe" there (Windows accepts
// the forward slashes).
#pragma once

#include <string>

namespace quillo::test {

// The path as this build's programs open it: "Z:" + path for a Unix absolute path in the
// Windows build; anything else unchanged.
std::string NativePath(const std::string& buildPath);

}  // namespace quillo::test
