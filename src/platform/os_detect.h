// The one place that decides which operating-system implementation is built.
#pragma once

#if defined(_WIN32)
#define QUILLO_OS_WINDOWS 1
#elif defined(__linux__) || defined(__APPLE__) || defined(__unix__)
#define QUILLO_OS_POSIX 1
#else
#error "driver_quillo builds for Windows or a POSIX system only"
#endif
