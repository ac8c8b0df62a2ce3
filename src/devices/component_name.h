// Component and interface names are compared without regard to letter case, as the runtime
// may spell them either way.
#pragma once

namespace quillo {

// ASCII case-insensitive equality; a null name equals nothing.
inline bool SameComponentName(const char* requested, const char* expected) {
    if (requested == nullptr || expected == nullptr) {
        return false;
    }
    for (;; ++requested, ++expected) {
        char a = *requested;
        char b = *expected;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
        if (a == '\0') return true;
    }
}

}  // namespace quillo
