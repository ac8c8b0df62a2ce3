// How many controllers the provider makes. Every new controller id in the companion's records
// would otherwise make a device that is kept for the life of the driver (the runtime may hold
// it), so a companion that floods new ids would grow the driver without bound. Ids past the
// cap are refused, each logged the first time it is seen.
//
// Threads: the link's reader thread only. Nothing allocates: the refused ids already logged
// live in a fixed table, and past its size one line says that further ids go unlogged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo {

class ControllerAdmission {
  public:
    // Far more hands than any player has; enough for trackers reported as controllers too.
    static constexpr size_t kMaxControllers = 16;
    static constexpr size_t kLoggedRefusals = 64;

    // Whether a device may be made for the new id `id` while `existing` devices exist.
    // Refused ids are logged once each.
    bool Admit(uint32_t id, size_t existing);

    // A new run of the driver: refused ids are logged afresh.
    void Reset();

  private:
    uint32_t logged_[kLoggedRefusals] = {};
    size_t loggedCount_ = 0;
    bool tableFullLogged_ = false;
};

}  // namespace quillo
