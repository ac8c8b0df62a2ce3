// One controller record from the companion, decoded field by field from its 136-byte payload.
// The input state mirrors the runtime's VRControllerState_t without depending on its
// platform-specific packing; the controller device converts it.
#pragma once

#include <cstdint>

namespace quillo {

struct ControllerInputState {
    uint32_t packetNum = 0;
    uint64_t buttonPressed = 0;
    uint64_t buttonTouched = 0;
    float axis[5][2] = {};  // x, y per axis
};

struct ControllerRecord {
    uint32_t controllerId = 0;
    uint32_t status = 0;
    float pose[3][4] = {};  // row-major: rotation in columns 0..2, position in column 3
    ControllerInputState input;
};

}  // namespace quillo
