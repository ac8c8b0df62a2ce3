// Companion pipes on Windows: named pipes in byte mode, every end opened for overlapped I/O so
// that a blocked read or write can be woken by the stream's interrupt event (see pipe.h).
#include <windows.h>

#include <cstdlib>

#include "platform/pipe.h"

namespace quillo::platform {

namespace {

constexpr DWORD kPipeBufferSize = 64 * 1024;
// One ReadFile/WriteFile never asks for more than this; larger requests are split.
constexpr size_t kMaxChunk = 1u << 30;

HANDLE AsHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
intptr_t AsValue(HANDLE handle) {
    return reinterpret_cast<intptr_t>(handle);
}

HANDLE NewManualEvent() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Wraps a connected pipe handle with fresh interrupt and I/O events; closes the handle and
// fails when the events cannot be made.
bool WrapHandle(HANDLE pipe, PipeStream& out) {
    HANDLE wake = NewManualEvent();
    HANDLE io = NewManualEvent();
    if (wake == nullptr || io == nullptr) {
        if (wake != nullptr) CloseHandle(wake);
        if (io != nullptr) CloseHandle(io);
        CloseHandle(pipe);
        return false;
    }
    PipeStream::Native native;
    native.handle = AsValue(pipe);
    native.wakeEvent = AsValue(wake);
    native.ioEvent = AsValue(io);
    out = PipeStream(native);
    return true;
}

// Waits for an overlapped request on `pipe` to finish, for `wake`, or for `timeoutMs`. On wake
// or time-out the request is cancelled and its end awaited, so `overlapped` and the caller's
// buffer are free on return. Returns the bytes transferred (a request that finished while it
// was being cancelled keeps its bytes), 0 on failure, wake or time-out; `timedOut` tells the
// time-out apart.
DWORD FinishRequest(HANDLE pipe, OVERLAPPED& overlapped, HANDLE wake, DWORD timeoutMs = INFINITE,
                    bool* timedOut = nullptr) {
    HANDLE waitFor[2] = {overlapped.hEvent, wake};
    const DWORD which = WaitForMultipleObjects(2, waitFor, FALSE, timeoutMs);
    if (which != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
    }
    DWORD transferred = 0;
    if (!GetOverlappedResult(pipe, &overlapped, &transferred, TRUE)) {
        if (timedOut != nullptr && which == WAIT_TIMEOUT &&
            GetLastError() == ERROR_OPERATION_ABORTED) {
            *timedOut = true;
        }
        return 0;
    }
    return transferred;
}

bool Interrupted(HANDLE wake) {
    return WaitForSingleObject(wake, 0) == WAIT_OBJECT_0;
}

}  // namespace

std::string PipePath(const char* baseName, const std::string& suffix) {
    std::string path = "\\\\.\\pipe\\";
    path += baseName;
    path += suffix;
    return path;
}

bool PipeStream::IsOpen() const {
    return native_.handle != -1;
}

size_t PipeStream::ReadSome(uint8_t* buffer, size_t capacity) {
    bool timedOut = false;
    return ReadSomeWithin(buffer, capacity, INFINITE, timedOut);
}

size_t PipeStream::ReadSomeWithin(uint8_t* buffer, size_t capacity, uint32_t timeoutMs,
                                  bool& timedOut) {
    timedOut = false;
    if (!IsOpen() || capacity == 0) {
        return 0;
    }
    HANDLE pipe = AsHandle(native_.handle);
    HANDLE wake = AsHandle(native_.wakeEvent);
    if (Interrupted(wake)) {
        return 0;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = AsHandle(native_.ioEvent);
    ResetEvent(overlapped.hEvent);
    const DWORD want = static_cast<DWORD>(capacity < kMaxChunk ? capacity : kMaxChunk);
    DWORD got = 0;
    if (ReadFile(pipe, buffer, want, nullptr, &overlapped)) {
        // Completed at once; the result is taken from the OVERLAPPED as for a pending read.
        if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE)) {
            return 0;
        }
        return got;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return 0;  // broken pipe, closed by the other end
    }
    return FinishRequest(pipe, overlapped, wake, timeoutMs, &timedOut);
}

bool PipeStream::WriteAll(const uint8_t* data, size_t length) {
    size_t written = 0;
    return WriteAllWithin(data, length, INFINITE, written);
}

bool PipeStream::WriteAllWithin(const uint8_t* data, size_t length, uint32_t timeoutMs,
                                size_t& written) {
    written = 0;
    if (!IsOpen()) {
        return false;
    }
    HANDLE pipe = AsHandle(native_.handle);
    HANDLE wake = AsHandle(native_.wakeEvent);
    const ULONGLONG start = GetTickCount64();
    while (length > 0) {
        if (Interrupted(wake)) {
            return false;
        }
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= timeoutMs) return false;
            left = static_cast<DWORD>(timeoutMs - spent);
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = AsHandle(native_.ioEvent);
        ResetEvent(overlapped.hEvent);
        const DWORD want = static_cast<DWORD>(length < kMaxChunk ? length : kMaxChunk);
        DWORD sent = 0;
        if (WriteFile(pipe, data, want, nullptr, &overlapped)) {
            if (!GetOverlappedResult(pipe, &overlapped, &sent, FALSE)) {
                return false;
            }
        } else if (GetLastError() == ERROR_IO_PENDING) {
            // A pending write waits for the companion to read; past the bound it is cancelled
            // (the bytes it had moved by then still count).
            bool timedOut = false;
            sent = FinishRequest(pipe, overlapped, wake, left, &timedOut);
            if (timedOut) {
                DWORD moved = 0;
                GetOverlappedResult(pipe, &overlapped, &moved, FALSE);
                written += moved;
                return false;
            }
        } else {
            return false;
        }
        if (sent == 0) {
            return false;
        }
        data += sent;
        length -= sent;
        written += sent;
    }
    return true;
}

bool PipeStream::PeerGone() {
    if (!IsOpen()) {
        return true;
    }
    // A zero-byte write transfers nothing but fails once the server end has closed
    // (ERROR_NO_DATA, ERROR_BROKEN_PIPE or ERROR_PIPE_NOT_CONNECTED): the one probe a
    // write-only client handle allows without reading.
    HANDLE pipe = AsHandle(native_.handle);
    OVERLAPPED overlapped{};
    overlapped.hEvent = AsHandle(native_.ioEvent);
    ResetEvent(overlapped.hEvent);
    static const uint8_t nothing = 0;
    if (WriteFile(pipe, &nothing, 0, nullptr, &overlapped)) {
        return false;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING) {
        // Queued behind unread data: the companion is there, only slow. Take the probe back.
        CancelIoEx(pipe, &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        return false;
    }
    return code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED ||
           code == ERROR_INVALID_HANDLE;
}

void PipeStream::Interrupt() {
    if (native_.wakeEvent != 0) {
        SetEvent(AsHandle(native_.wakeEvent));
    }
}

void PipeStream::Close() {
    if (IsOpen()) {
        CloseHandle(AsHandle(native_.handle));
    }
    if (native_.wakeEvent != 0) {
        CloseHandle(AsHandle(native_.wakeEvent));
    }
    if (native_.ioEvent != 0) {
        CloseHandle(AsHandle(native_.ioEvent));
    }
    native_ = Native{};
}

bool OpenPipeClient(const std::string& path, PipeAccess access, PipeStream& out) {
    out.Close();
    // No sharing, no security attributes, the pipe must exist. FILE_FLAG_OVERLAPPED is what
    // makes a blocked read wakeable (pipe.h); the companion cannot tell the difference.
    HANDLE pipe =
        CreateFileA(path.c_str(), access == PipeAccess::kRead ? GENERIC_READ : GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return false;
    }
    return WrapHandle(pipe, out);
}

PipeListener::PipeListener() = default;

PipeListener::~PipeListener() {
    Close();
}

bool PipeListener::IsCreated() const {
    return !path_.empty();
}

bool PipeListener::MakeInstance() {
    // The first instance claims the name, so a second server fails instead of sharing it.
    const DWORD firstFlag = handle_ == -2 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    const DWORD openMode =
        (access_ == PipeAccess::kRead ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) |
        FILE_FLAG_OVERLAPPED | firstFlag;
    HANDLE pipe =
        CreateNamedPipeA(path_.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        handle_ = -1;
        return false;
    }
    handle_ = AsValue(pipe);
    return true;
}

bool PipeListener::Create(const std::string& path, PipeAccess access, std::string& error) {
    Close();
    connectEvent_ = AsValue(NewManualEvent());
    if (connectEvent_ == 0) {
        error = "CreateEvent failed";
        return false;
    }
    path_ = path;
    access_ = access;
    handle_ = -2;  // asks MakeInstance for the first instance
    if (!MakeInstance()) {
        const DWORD code = GetLastError();
        error = "CreateNamedPipe " + path +
                (code == ERROR_ACCESS_DENIED ? ": another companion is serving it"
                                             : ": error " + std::to_string(code));
        Close();
        return false;
    }
    return true;
}

bool PipeListener::Accept(PipeStream& out, uint32_t timeoutMs) {
    out.Close();
    if (!IsCreated()) {
        return false;
    }
    if (handle_ == -1 && !MakeInstance()) {
        Sleep(timeoutMs < 100 ? timeoutMs : 100);
        return false;
    }
    HANDLE pipe = AsHandle(handle_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = AsHandle(connectEvent_);
    ResetEvent(overlapped.hEvent);
    bool connected = false;
    if (ConnectNamedPipe(pipe, &overlapped)) {
        connected = true;
    } else {
        const DWORD code = GetLastError();
        if (code == ERROR_PIPE_CONNECTED) {
            connected = true;  // the client came before this call
        } else if (code == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
                CancelIoEx(pipe, &overlapped);
            }
            DWORD ignored = 0;
            connected = GetOverlappedResult(pipe, &overlapped, &ignored, TRUE) != FALSE;
        } else if (code == ERROR_NO_DATA) {
            // A client opened and closed again before we looked: make the instance listen anew.
            DisconnectNamedPipe(pipe);
        }
    }
    if (!connected) {
        return false;
    }
    handle_ = -1;
    const bool wrapped = WrapHandle(pipe, out);
    MakeInstance();  // the next client can open the pipe at once
    return wrapped;
}

void PipeListener::Close() {
    if (handle_ != -1 && handle_ != -2) {
        CloseHandle(AsHandle(handle_));
    }
    if (connectEvent_ != 0) {
        CloseHandle(AsHandle(connectEvent_));
    }
    handle_ = -1;
    connectEvent_ = 0;
    path_.clear();
}

}  // namespace quillo::platform
