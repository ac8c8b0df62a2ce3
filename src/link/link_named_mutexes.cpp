#include "link/link_named_mutexes.h"

#include "link/quillo_core.h"
#include "platform/named_mutex.h"

namespace quillo {

LinkNamedMutexes::LinkNamedMutexes(const char* linkName) {
    for (int i = 0; i < 2; ++i) {
        char name[QuilloCore::kLinkNameFieldSize + 1];
        QuilloCore::MutexName(linkName, static_cast<char>('0' + i), name);
        auto mutex = std::make_unique<platform::NamedMutex>();
        if (mutex->Create(name)) mutexes_[i] = std::move(mutex);
    }
}

LinkNamedMutexes::~LinkNamedMutexes() = default;

bool LinkNamedMutexes::created(int index) const {
    return index >= 0 && index < 2 && mutexes_[index] != nullptr;
}

}  // namespace quillo
