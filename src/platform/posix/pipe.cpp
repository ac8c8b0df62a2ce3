// Companion pipes on POSIX: Unix stream sockets. The companion binds and listens, the driver
// connects; shutdown(SHUT_RDWR) wakes a thread blocked in recv or send.
#include "platform/pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quillo::platform {

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// The socket address for `path`; false when the path does not fit sun_path.
bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int NewSocket() {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
#if defined(SO_NOSIGPIPE)
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    }
    return fd;
}

// Connects without ever blocking: a server whose backlog is full (one that stopped accepting)
// refuses like an absent one instead of holding the caller.
bool ConnectNow(int fd, const sockaddr_un& address) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return false;
    }
    fcntl(fd, F_SETFL, flags);
    return true;
}

// Milliseconds left until `deadline`, 0 when it has passed.
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return left.count() < INT32_MAX ? static_cast<int>(left.count()) : INT32_MAX;
}

// Waits until `fd` is ready for `events` or `deadline` passes. True when ready (or in an error
// or hang-up state, which the next call reports).
bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd waiting{fd, events, 0};
        const int ready = poll(&waiting, 1, MillisecondsLeft(deadline));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return true;  // let the next call report the failure
    }
}

std::chrono::steady_clock::time_point DeadlineAfter(uint32_t timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

std::string PipePath(const char* baseName, const std::string& suffix) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path = (dir != nullptr && dir[0] != '\0') ? dir : "/tmp";
    path += '/';
    path += baseName;
    path += suffix;
    return path;
}

bool PipeStream::IsOpen() const {
    return native_.handle >= 0;
}

size_t PipeStream::ReadSome(uint8_t* buffer, size_t capacity) {
    if (native_.handle < 0 || capacity == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t got = recv(static_cast<int>(native_.handle), buffer, capacity, 0);
        if (got > 0) {
            return static_cast<size_t>(got);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return 0;
    }
}

bool PipeStream::WriteAll(const uint8_t* data, size_t length) {
    if (native_.handle < 0) {
        return false;
    }
    while (length > 0) {
        const ssize_t sent = send(static_cast<int>(native_.handle), data, length, kSendFlags);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

size_t PipeStream::ReadSomeWithin(uint8_t* buffer, size_t capacity, uint32_t timeoutMs,
                                  bool& timedOut) {
    timedOut = false;
    if (native_.handle < 0 || capacity == 0) {
        return 0;
    }
    // shutdown() by Interrupt makes the socket readable (end of stream), so poll wakes too.
    if (!WaitReady(static_cast<int>(native_.handle), POLLIN, DeadlineAfter(timeoutMs))) {
        timedOut = true;
        return 0;
    }
    return ReadSome(buffer, capacity);
}

bool PipeStream::WriteAllWithin(const uint8_t* data, size_t length, uint32_t timeoutMs,
                                size_t& written) {
    written = 0;
    if (native_.handle < 0) {
        return false;
    }
    const int fd = static_cast<int>(native_.handle);
    const auto deadline = DeadlineAfter(timeoutMs);
    while (length > 0) {
        const ssize_t sent = send(fd, data, length, kSendFlags | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            length -= static_cast<size_t>(sent);
            written += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(fd, POLLOUT, deadline)) {
                return false;  // the other end stopped reading
            }
            continue;
        }
        return false;
    }
    return true;
}

bool PipeStream::PeerGone() {
    if (native_.handle < 0) {
        return true;
    }
    const int fd = static_cast<int>(native_.handle);
    pollfd probe{fd, POLLIN, 0};
    if (poll(&probe, 1, 0) <= 0) {
        return false;
    }
    if ((probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return true;
    }
    // Readable: either data (the peer is there) or the end of the stream (it closed).
    uint8_t byte;
    ssize_t got;
    do {
        got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void PipeStream::Interrupt() {
    if (native_.handle >= 0) {
        shutdown(static_cast<int>(native_.handle), SHUT_RDWR);
    }
}

void PipeStream::Close() {
    if (native_.handle >= 0) {
        close(static_cast<int>(native_.handle));
    }
    native_ = Native{};
}

bool OpenPipeClient(const std::string& path, PipeAccess access, PipeStream& out) {
    out.Close();
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return false;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        return false;
    }
    if (!ConnectNow(fd, address)) {
        close(fd);
        return false;
    }
    PipeStream::Native native;
    native.handle = fd;
    out = PipeStream(native);
    return true;
}

PipeListener::PipeListener() = default;

PipeListener::~PipeListener() {
    Close();
}

bool PipeListener::IsCreated() const {
    return handle_ >= 0;
}

bool PipeListener::Create(const std::string& path, PipeAccess access, std::string& error) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        error = "socket path too long: " + path;
        return false;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // A socket file may be left by a server that crashed. If something still accepts on it,
    // another server owns the name; otherwise the file is stale and removed.
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = "not a socket, left alone: " + path;
            close(fd);
            return false;
        }
        const int probe = NewSocket();
        const bool live = probe >= 0 && ConnectNow(probe, address);
        if (probe >= 0) {
            close(probe);
        }
        if (live) {
            error = "another companion is serving " + path;
            close(fd);
            return false;
        }
        unlink(path.c_str());
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        error = "bind/listen " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    path_ = path;
    access_ = access;
    handle_ = fd;
    return true;
}

bool PipeListener::Accept(PipeStream& out, uint32_t timeoutMs) {
    out.Close();
    if (handle_ < 0) {
        return false;
    }
    pollfd waiting{static_cast<int>(handle_), POLLIN, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    const int fd = accept(static_cast<int>(handle_), nullptr, nullptr);
    if (fd < 0) {
        return false;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    PipeStream::Native native;
    native.handle = fd;
    out = PipeStream(native);
    return true;
}

void PipeListener::Close() {
    if (handle_ >= 0) {
        close(static_cast<int>(handle_));
        unlink(path_.c_str());
    }
    handle_ = -1;
    path_.clear();
}

}  // namespace quillo::platform
