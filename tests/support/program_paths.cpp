#include "support/program_paths.h"

namespace quillo::test {

std::string ToWinePath(const std::string& unixPath) {
    if (unixPath.empty() || unixPath[0] != '/') {
        return unixPath;
    }
    return "Z:" + unixPath;
}

std::string NativePath(const std::string& buildPath) {
#if defined(_WIN32)
    return ToWinePath(buildPath);
#else
    return buildPath;
#endif
}

}  // namespace quillo::test
