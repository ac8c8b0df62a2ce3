#include "devices/host_interfaces.h"

#include <atomic>

namespace quillo {

namespace {

// Written at Init on the runtime's thread and read from the runtime's threads and the link's
// reader thread (controllers are created there); atomics keep those reads well defined.
std::atomic<vr::IVRDriverContext*> g_context{nullptr};
std::atomic<vr::IVRServerDriverHost*> g_host{nullptr};
std::atomic<vr::IVRSettings*> g_settings{nullptr};
std::atomic<vr::IVRProperties*> g_properties{nullptr};
std::atomic<vr::IVRDriverLog*> g_log{nullptr};

template <typename T>
T* Fetch(const char* version) {
    vr::IVRDriverContext* context = g_context.load(std::memory_order_acquire);
    if (context == nullptr) {
        return nullptr;
    }
    vr::EVRInitError error = vr::VRInitError_None;
    return static_cast<T*>(context->GetGenericInterface(version, &error));
}

template <typename T>
T* Cached(std::atomic<T*>& slot, const char* version) {
    T* value = slot.load(std::memory_order_acquire);
    if (value == nullptr) {
        value = Fetch<T>(version);
        if (value != nullptr) {
            slot.store(value, std::memory_order_release);
        }
    }
    return value;
}

template <typename T>
bool FetchInto(std::atomic<T*>& slot, const char* version) {
    T* value = Fetch<T>(version);
    slot.store(value, std::memory_order_release);
    return value != nullptr;
}

}  // namespace

vr::EVRInitError InitServerDriverContext(vr::IVRDriverContext* context) {
    g_context.store(context, std::memory_order_release);
    g_host.store(nullptr);
    g_settings.store(nullptr);
    g_properties.store(nullptr);
    g_log.store(nullptr);
    if (!FetchInto(g_host, vr::IVRServerDriverHost_Version) ||
        !FetchInto(g_settings, vr::IVRSettings_Version) ||
        !FetchInto(g_properties, vr::IVRProperties_Version) ||
        !FetchInto(g_log, vr::IVRDriverLog_Version)) {
        return vr::VRInitError_Init_InterfaceNotFound;
    }
    return vr::VRInitError_None;
}

vr::IVRDriverContext* DriverContext() {
    return g_context.load(std::memory_order_acquire);
}

vr::IVRServerDriverHost* ServerDriverHost() {
    return Cached(g_host, vr::IVRServerDriverHost_Version);
}

vr::IVRSettings* Settings() {
    return Cached(g_settings, vr::IVRSettings_Version);
}

vr::IVRProperties* Properties() {
    return Cached(g_properties, vr::IVRProperties_Version);
}

vr::IVRDriverLog* DriverLogInterface() {
    return Cached(g_log, vr::IVRDriverLog_Version);
}

}  // namespace quillo
