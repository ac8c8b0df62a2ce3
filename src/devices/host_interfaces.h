// The runtime's host interfaces, fetched through the driver context at Init and cached for
// the life of the library. They live beside the devices (not with the provider) because every
// device publishes its properties and reports its poses through them.
#pragma once

#include "openvr/openvr_driver.h"

namespace quillo {

// Remembers `context`, forgets every cached interface, then fetches the server driver host,
// the settings, the properties and the driver log, in that order. Stops at the first one the
// runtime does not give and returns VRInitError_Init_InterfaceNotFound; otherwise
// VRInitError_None.
vr::EVRInitError InitServerDriverContext(vr::IVRDriverContext* context);

// The cached interfaces. When one is not cached yet it is fetched through the driver context
// first; null when there is no context or the runtime does not give it.
vr::IVRDriverContext* DriverContext();
vr::IVRServerDriverHost* ServerDriverHost();
vr::IVRSettings* Settings();
vr::IVRProperties* Properties();
vr::IVRDriverLog* DriverLogInterface();

}  // namespace quillo
