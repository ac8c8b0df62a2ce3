#include "platform/environment.h"

#include <cstdlib>

namespace quillo::platform {

// std::getenv reads the C runtime's copy of the environment on both systems, which is all the
// driver needs: variables are set before the process starts.
bool ReadEnvironmentVariable(const char* name, std::string& value) {
    const char* found = std::getenv(name);
    if (found == nullptr) {
        value.clear();
        return false;
    }
    value = found;
    return true;
}

}  // namespace quillo::platform
