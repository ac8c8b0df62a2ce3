// Two scripted hand controllers: poses that sway in front of the user and a fixed, repeating
// sequence of button, touch and trigger changes, so that a test can predict the runtime's
// input events from the time alone.
#pragma once

#include <cstdint>

#include "link/controller_record.h"

namespace quillo::companion {

// Controller ids the companion announces (left, right).
constexpr uint32_t kControllerIds[2] = {1, 2};

// Button bits as the runtime numbers its buttons (mask = 1 << id).
constexpr uint64_t kButtonApplicationMenu = 1ull << 1;
constexpr uint64_t kButtonGrip = 1ull << 2;
constexpr uint64_t kButtonTouchpad = 1ull << 32;  // axis 0
constexpr uint64_t kButtonTrigger = 1ull << 33;   // axis 1

// The record of controller `index` (0 or 1) at `seconds` into the script. One cycle lasts
// 4 s: controller 0 holds its trigger (pressed, axis 1 at 1.0) during [0, 1) and touches it
// during [0, 1.5); controller 1 touches its touchpad during [0, 1.75) with the thumb
// circling, grips during [2, 2.75) and presses the menu button during [3, 3.25). No two
// changes of one controller fall on the same moment, so their order is fixed. `packet`
// becomes the record's packet number.
ControllerRecord ScriptedController(int index, double seconds, uint32_t packet);

}  // namespace quillo::companion
