// The driver library's one export. The runtime asks it for the device provider by interface
// version; the library holds exactly one provider, constructed when the library is loaded.
#include <cstring>

#include "driver/server_driver.h"
#include "openvr/openvr_driver.h"

namespace {

quillo::CServerDriver_Quillo g_serverDriver;

}  // namespace

QUILLO_EXPORT void* HmdDriverFactory(const char* pInterfaceName, int* pReturnCode) {
    if (pInterfaceName != nullptr &&
        std::strcmp(pInterfaceName, vr::IServerTrackedDeviceProvider_Version) == 0) {
        return static_cast<vr::IServerTrackedDeviceProvider*>(&g_serverDriver);
    }
    if (pReturnCode != nullptr) {
        *pReturnCode = vr::VRInitError_Init_InterfaceNotFound;
    }
    return nullptr;
}
