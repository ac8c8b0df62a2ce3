// The two mutexes named after the link name with "0" and "1" appended. They exist for the
// companion, which finds them by name; the driver creates them unowned, never waits on them
// and never releases them.
#pragma once

#include <memory>

namespace quillo {

namespace platform {
class NamedMutex;
}

class LinkNamedMutexes {
  public:
    // Creates linkName + "0" and linkName + "1". A mutex that cannot be created is simply
    // missing; nothing in the driver depends on it.
    explicit LinkNamedMutexes(const char* linkName);
    // Closes both: the companion holds its own handles if it still wants them.
    ~LinkNamedMutexes();
    LinkNamedMutexes(const LinkNamedMutexes&) = delete;
    LinkNamedMutexes& operator=(const LinkNamedMutexes&) = delete;

    bool created(int index) const;

  private:
    std::unique_ptr<platform::NamedMutex> mutexes_[2];
};

}  // namespace quillo
