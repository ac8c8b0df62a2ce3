#include <dlfcn.h>

#include "platform/library_pin.h"

namespace quillo::platform {

void KeepThisLibraryLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryLoaded), &info) == 0 ||
        info.dli_fname == nullptr) {
        return;
    }
    // The reference is never given back, and RTLD_NODELETE keeps the mapping past dlclose.
    dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace quillo::platform
