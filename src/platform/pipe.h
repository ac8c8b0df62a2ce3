// Byte-stream pipes between the driver and the companion: the client ends the driver opens and
// the server ends the companion creates.
//
// Windows: named pipes "\\.\pipe\<base name>". POSIX: Unix stream sockets "<dir>/<base name>"
// with <dir> = $XDG_RUNTIME_DIR, else /tmp; the companion binds and listens, the driver
// connects. Either way the companion is the server and the driver never creates a pipe.
//
// Waking a blocked reader. A stream's Interrupt() makes a ReadSome or WriteAll that is blocked
// in another thread return at once, and every later call fail, without closing the handle
// (closing a handle another thread is using could hand its number to a new object):
// - POSIX: shutdown(SHUT_RDWR) on the socket. The socket keeps that state, so an Interrupt
//   that lands before the reader has entered recv still ends the read.
// - Windows: every pipe end is opened for overlapped I/O, and a read or write waits on its
//   I/O event together with a manual-reset interrupt event; Interrupt sets that event, and the
//   waiting thread cancels its own request (CancelIoEx on its OVERLAPPED) and waits for the
//   cancellation to finish before its buffer goes out of scope. Because the event stays set,
//   an Interrupt that comes before the read is issued is never lost.
//   The alternatives were tried under Wine 8 and rejected for Windows: CancelSynchronousIo
//   (on the reader's thread handle) and CancelIoEx on a synchronous handle both wake a read
//   that is already pending but do nothing to one that has not started yet, so Stop() would
//   race with the reader's next ReadFile; closing the handle from another thread wakes the
//   read under Wine, but on Windows the close of a synchronous file waits for the pending
//   read, and a closed handle value may be reused while the reader still holds it.
//   Opening with FILE_FLAG_OVERLAPPED changes nothing the companion can see: the bytes on the
//   pipe are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillo::platform {

// The OS path of a pipe: "\\.\pipe\" + base name + suffix on Windows, "<dir>/" + base name +
// suffix on POSIX.
std::string PipePath(const char* baseName, const std::string& suffix);
// The value of the environment variable QUILLO_PIPE_SUFFIX, empty when unset. It exists for
// tests only, so that test runs in parallel share pipes neither with each other nor with a
// real companion; the product never sets it, and driver and companion both append it.
std::string PipeSuffixFromEnvironment();

// Which way the bytes flow, seen from the end that is being opened.
enum class PipeAccess { kRead, kWrite };

// One connected end of a pipe, client or server side, carrying bytes one way (the access it
// was opened with). Reads and writes block; one thread at a time reads or writes it. Interrupt
// may be called from any thread at any time while the stream is open; Close and assignment
// must not run while another thread is inside ReadSome or WriteAll.
class PipeStream {
  public:
    PipeStream();
    ~PipeStream();
    PipeStream(PipeStream&& other) noexcept;
    PipeStream& operator=(PipeStream&& other) noexcept;
    PipeStream(const PipeStream&) = delete;
    PipeStream& operator=(const PipeStream&) = delete;

    bool IsOpen() const;

    // Blocks until at least one byte arrives and reads at most `capacity` bytes. Returns the
    // number read; 0 when the other end closed, the stream failed, it was interrupted, or
    // `capacity` is 0.
    size_t ReadSome(uint8_t* buffer, size_t capacity);
    // Blocks until all `length` bytes are written. False when the other end is gone, the
    // stream failed or was interrupted. Never raises a signal.
    bool WriteAll(const uint8_t* data, size_t length);

    // The same with a bound: ReadSomeWithin returns 0 with `timedOut` set when nothing arrived
    // within `timeoutMs` (the stream stays usable); WriteAllWithin returns false when the
    // bytes could not all be written within `timeoutMs`, with `written` telling how many
    // were (when some were, the stream's framing is broken).
    size_t ReadSomeWithin(uint8_t* buffer, size_t capacity, uint32_t timeoutMs, bool& timedOut);
    bool WriteAllWithin(const uint8_t* data, size_t length, uint32_t timeoutMs, size_t& written);

    // Never blocks. True when the other end of a write stream is known to be gone (closed, its
    // process ended). A stream the other end only stopped reading is not gone. On Windows it
    // probes with a zero-byte write, so it must not run while another thread writes.
    bool PeerGone();

    // Makes a blocked ReadSome/WriteAll return now and every later one fail. Safe from any
    // thread while the stream is open; the handle stays valid until Close.
    void Interrupt();
    void Close();

    // Used by the implementations to hand over an opened OS handle (a HANDLE value or a file
    // descriptor) together with its interrupt object.
    struct Native {
        intptr_t handle = -1;
        intptr_t wakeEvent = 0;  // Windows: the interrupt event and the I/O event
        intptr_t ioEvent = 0;
    };
    explicit PipeStream(const Native& native);

  private:
    Native native_;
};

// Client side (the driver): opens the existing pipe at `path` for reading or writing.
// Returns false, with `out` left closed, when the pipe does not exist or is busy.
bool OpenPipeClient(const std::string& path, PipeAccess access, PipeStream& out);

// Server side (the companion): owns the pipe name and hands out one connected stream per
// client. On Windows it keeps one unconnected pipe instance waiting at all times, so a client
// can open the pipe before Accept is called; on POSIX the listening socket's backlog does the
// same.
class PipeListener {
  public:
    PipeListener();
    ~PipeListener();
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;

    // Creates the pipe; `access` is the server's side of the flow. A stale socket file left by
    // a crashed server is removed first. False (with a reason in `error`) when that fails.
    bool Create(const std::string& path, PipeAccess access, std::string& error);
    bool IsCreated() const;
    // Waits at most `timeoutMs` for a client. True with `out` open when one connected.
    bool Accept(PipeStream& out, uint32_t timeoutMs);
    // Removes the pipe name; streams already handed out stay open.
    void Close();

  private:
    bool MakeInstance();

    std::string path_;
    PipeAccess access_ = PipeAccess::kRead;
    intptr_t handle_ = -1;  // Windows: the waiting instance; POSIX: the listening socket
    intptr_t connectEvent_ = 0;
};

}  // namespace quillo::platform
