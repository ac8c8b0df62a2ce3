#include "support/program_paths.h"

namespace quillo::test {

std::string NativePath(const std::string& buildPath) {
#if defined(_WIN32)
    if (!buildPath.empty() && buildPath[0] == '/') return "Z:" + buildPath;
#endif
    return buildPath;
}

}  // namespace quillo::test
