#include "fake_interfaces.h"
#include "fake_runtime.h"

namespace quillo::runtime {

void* FakeDriverContext::GetGenericInterface(const char* pchInterfaceVersion,
                                             vr::EVRInitError* peError) {
    void* found = runtime_.InterfaceByVersion(pchInterfaceVersion);
    if (peError != nullptr) {
        *peError = found != nullptr ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
    }
    return found;
}

void FakeDriverLog::Log(const char* pchLogMessage) {
    RuntimeEvent event;
    event.kind = EventKind::LogLine;
    event.text = pchLogMessage != nullptr ? pchLogMessage : "";
    runtime_.Record(std::move(event));
}

}  // namespace quillo::runtime
