#pragma once

#include <atomic>
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
//   per-handle state that both paths rewrite (hid_read_timeout frees and
//   resets the handle's last error string that a failing write or feature
//   report sets), so one handle shared by a reading thread and a writing
//   thread would race inside hidapi itself; two handles share nothing.
//   hidraw gives every open file its own ring of input reports and simply
//   stops filling a ring that is full, so the command handle, which never
//   reads, costs the reader nothing.
// - One mutex guards the command handle. Every exchange holds it from the
//   request to the reply, so a query's request and reply stay together even
//   when the upgrade worker streams firmware at the same time, and a close
//   can never free the handle under a running exchange.
// - A second mutex guards the input handle. Only the reader takes it in
//   normal running (for each read, up to its time-out); everyone else opens,
//   closes or reopens the wheel only after stopping and joining the reader,
//   so it is never contended then. It is there so that a close that did come
//   during a read would wait for the read instead of freeing the handle under
//   it, and so that the hand-over of the handle between threads is visible to
//   race checkers that cannot see into the thread library.
//
// Every exchange returns -1 without touching hidapi when no wheel is open.
// The command mutex is never held while waiting for the input one, so the
// two sides cannot deadlock. isOpen() takes no lock at all: the reader asks
// it before every read, and must not queue behind a query of the GUI thread
// (nor make the GUI thread wake it when the query ends).
class DeviceHandle
{
public:
    DeviceHandle() = default;
    ~DeviceHandle();
    DeviceHandle(const DeviceHandle &) = delete;
    DeviceHandle &operator=(const DeviceHandle &) = delete;

    // Opens the first wheel with these ids (GUI thread, reader stopped),
    // closing whatever was open. No serial number is asked for.
    bool open(uint16_t vendorId, uint16_t productId);
    // The same for the device at this hidraw path, as a listing gave it.
    bool openPath(const char *path);
    // Closes both handles. Called by the reader thread when it ends, or by a
    // thread that has stopped the reader.
    void close();
    bool isOpen() const;

    // Command side: any thread.
    int sendFeatureReport(const uint8_t *data, size_t length);
    // Sends the first `sendLength` bytes of `buffer` and reads the reply into
    // the same buffer. The get is made even when the send failed, and a
    // failed get leaves the request bytes in place: callers read them as the
    // reply. Returns the get's result.
    int query(uint8_t *buffer, size_t sendLength = 20, size_t replyLength = 21);
    int write(const uint8_t *data, size_t length);

    // Input side: the reader thread only.
    int setNonblocking(bool nonblocking);
    int readInput(uint8_t *data, size_t length, int timeoutMs);

private:
    std::atomic<bool> open_{false};
    std::mutex commandMutex_;
    hid_device_ *command_ = nullptr; // guarded by commandMutex_
    std::mutex inputMutex_;
    hid_device_ *input_ = nullptr; // guarded by inputMutex_
};

// The one instance the program uses.
DeviceHandle &deviceHandle();
