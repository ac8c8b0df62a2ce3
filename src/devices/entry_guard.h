// Every operation the runtime calls is a boundary that no exception may cross. GuardedEntry
// runs the body, and if anything is thrown it logs the first failure of that entry point (and
// again at every power of two of the count, so a failure that repeats each frame cannot flood
// the log) and returns the given safe value instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

#include "devices/driver_log.h"

namespace quillo {

struct EntryPointSite {
    const char* name;
    std::atomic<uint32_t> failures{0};
};

inline void ReportEntryFailure(EntryPointSite& site, const char* what) noexcept {
    uint32_t count = site.failures.fetch_add(1, std::memory_order_relaxed) + 1;
    if ((count & (count - 1)) == 0) {
        WriteDriverLog("driver_quillo: %s failed (%u times so far): %s\n", site.name,
                       static_cast<unsigned>(count), what);
    }
}

template <typename R, typename Body>
R GuardedEntry(EntryPointSite& site, R fallback, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& error) {
        ReportEntryFailure(site, error.what());
    } catch (...) {
        ReportEntryFailure(site, "unknown exception");
    }
    return fallback;
}

template <typename Body>
void GuardedEntry(EntryPointSite& site, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& error) {
        ReportEntryFailure(site, error.what());
    } catch (...) {
        ReportEntryFailure(site, "unknown exception");
    }
}

// One site per entry point, named after it.
#define QUILLO_ENTRY_SITE(name_)                       \
    static ::quillo::EntryPointSite entrySite_{name_}; \
    (void)entrySite_

}  // namespace quillo
