#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

struct hid_device_;

// The process-wide link to the open wheel (`deviceHandle`).
//
// Three threads use the wheel at once: the GUI thread exchanges command
// reports, the reader thread reads input reports, and the upgrade worker
// streams firmware reports. The reader may also find the wheel gone and close
// it. This class keeps all of that safe without ever making the GUI wait for
// the reader's 100 ms read:
//
// - The wheel is opened twice on the same hidraw path. The input handle is
//   used only by the reader thread (its reads and its close); the command
//   handle carries every feature report and output report. hidapi keeps
//   per-handle state (its last error string is rewritten by every read and
//   write), so sharing one handle between a reading thread and a writing
//   thread would race inside hidapi itself; two handles share nothing. The
//   kernel gives each open its own input queue, so the command handle's
//   unread queue only ever holds the newest few reports.
// - One mutex guards the command handle. Every exchange holds it from the
//   request to the reply, so a query's request and reply stay together even
//   when the upgrade worker streams firmware at the same time, and a close
//   can never free the handle under a running exchange.
// - The input handle needs no lock: only the reader thread touches it while
//   the reader runs, and everyone else closes or reopens the wheel only after
//   stopping and joining the reader.
//
// Every exchange returns -1 without touching hidapi when no wheel is open.
class DeviceHandle
{
public:
    DeviceHandle() = default;
    ~DeviceHandle();
    DeviceHandle(const DeviceHandle &) = delete;
    DeviceHandle &operator=(const DeviceHandle &) = delete;

    // Opens the first wheel with these ids (GUI thread, reader stopped).
    bool open(uint16_t vendorId, uint16_t productId);
    // Closes both handles. Called by the reader thread when it ends, or by a
    // thread that has stopped the reader.
    void close();
    bool isOpen() const;

    // Command side: any thread.
    int sendFeatureReport(const uint8_t *data, size_t length);
    // Sends the first 20 bytes of `buffer` and reads the 21-byte reply into
    // the same buffer. The get is made even when the send failed, and a failed
    // get leaves the request bytes in place: callers read them as the reply.
    int query(uint8_t *buffer, size_t sendLength = 20, size_t replyLength = 21);
    int write(const uint8_t *data, size_t length);

    // Input side: the reader thread only.
    int setNonblocking(bool nonblocking);
    int readInput(uint8_t *data, size_t length, int timeoutMs);

private:
    mutable std::mutex commandMutex_;
    hid_device_ *command_ = nullptr; // guarded by commandMutex_
    hid_device_ *input_ = nullptr;   // reader thread only while it runs
};

// The one instance the program uses.
DeviceHandle &deviceHandle();
