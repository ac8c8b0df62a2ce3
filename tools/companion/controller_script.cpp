#include "controller_script.h"

#include <cmath>

namespace quillo::companion {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kCycle = 4.0;
}  // namespace

ControllerRecord ScriptedController(int index, double seconds, uint32_t packet) {
    ControllerRecord record;
    record.controllerId = kControllerIds[index & 1];
    record.status = 0;  // tracking fine
    const double phase = std::fmod(seconds, kCycle);
    const float side = index == 0 ? -1.0f : 1.0f;
    // Held 20 cm to either side, 40 cm below the eyes and 35 cm ahead, rising and falling
    // 5 cm; pointing forward, rolled a little outwards.
    const float roll = side * 0.2f;
    const float c = std::cos(roll);
    const float s = std::sin(roll);
    const float pose[3][4] = {
        {c, -s, 0.0f, side * 0.2f},
        {s, c, 0.0f, static_cast<float>(1.3 + 0.05 * std::sin(2.0 * kPi * seconds / kCycle))},
        {0.0f, 0.0f, 1.0f, -0.35f},
    };
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) record.pose[row][column] = pose[row][column];
    }
    ControllerInputState& input = record.input;
    input.packetNum = packet;
    if (index == 0) {
        if (phase < 1.0) {
            input.buttonPressed |= kButtonTrigger;
            input.axis[1][0] = 1.0f;
        } else if (phase < 1.5) {
            input.axis[1][0] = static_cast<float>(1.5 - phase);  // letting go
        }
        if (phase < 1.5) input.buttonTouched |= kButtonTrigger;
    } else {
        if (phase >= 2.0 && phase < 2.75) input.buttonPressed |= kButtonGrip;
        if (phase >= 3.0 && phase < 3.25) input.buttonPressed |= kButtonApplicationMenu;
        if (phase < 1.75) {
            input.buttonTouched |= kButtonTouchpad;
            const double angle = kPi * phase;  // most of a turn
            input.axis[0][0] = static_cast<float>(0.6 * std::cos(angle));
            input.axis[0][1] = static_cast<float>(0.6 * std::sin(angle));
        }
    }
    return record;
}

}  // namespace quillo::companion
