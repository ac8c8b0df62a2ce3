// Reading the process environment.
#pragma once

#include <string>

namespace quillo::platform {

// Copies the value of environment variable `name` into `value`. Returns false (and clears
// `value`) when the variable is not set.
bool ReadEnvironmentVariable(const char* name, std::string& value);

}  // namespace quillo::platform
