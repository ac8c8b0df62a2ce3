#include <windows.h>

#include "platform/library_pin.h"

namespace quillo::platform {

void KeepThisLibraryLoaded() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&KeepThisLibraryLoaded), &module);
}

}  // namespace quillo::platform
