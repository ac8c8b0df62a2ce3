#include "driver/controller_admission.h"

#include "devices/driver_log.h"

namespace quillo {

bool ControllerAdmission::Admit(uint32_t id, size_t existing) {
    if (existing < kMaxControllers) return true;
    for (size_t i = 0; i < loggedCount_; ++i) {
        if (logged_[i] == id) return false;
    }
    if (loggedCount_ < kLoggedRefusals) {
        logged_[loggedCount_++] = id;
        WriteDriverLog("Controller id %u refused: %u controllers exist already, the most allowed\n",
                       static_cast<unsigned>(id), static_cast<unsigned>(kMaxControllers));
    } else if (!tableFullLogged_) {
        tableFullLogged_ = true;
        WriteDriverLog(
            "Controller ids: %u different ones refused; further refusals are not "
            "logged\n",
            static_cast<unsigned>(kLoggedRefusals));
    }
    return false;
}

void ControllerAdmission::Reset() {
    loggedCount_ = 0;
    tableFullLogged_ = false;
}

}  // namespace quillo
