// The PELIX wheel's USB DFU boot loader: DFU 1.1 with the DfuSe commands,
// as pure behaviour (no USB transport).
//
// It follows the reference behaviour of STM32-style DfuSe loaders where the
// DFU 1.1 text leaves room:
// - a DFU_DNLOAD is only stored; the first DFU_GETSTATUS after it starts the
//   command or the programming and answers dfuDNBUSY with the time it takes,
//   the next one (after that time) answers dfuDNLOAD-IDLE;
// - DFU_GETSTATE is answered in every state, a DFU_GETSTATUS that comes too
//   early is answered dfuDNBUSY again with the time still to wait;
// - DFU_CLRSTATUS outside dfuERROR puts the loader into dfuERROR (errUNKNOWN)
//   instead of clearing anything;
// - block 0 of a download is a command (0x21 Set Address Pointer, 0x41 Erase
//   page or, alone, mass erase), data block n >= 2 lands at the address
//   pointer + (n - 2) * wTransferSize, upload block 0 lists the commands and
//   upload block n >= 2 reads memory the same way;
// - the zero-length download starts the firmware: the next DFU_GETSTATUS
//   answers dfuMANIFEST and the loader leaves the bus shortly after; a host
//   that never polls again sees it leave anyway (unless the loader is strict,
//   see Faults::strictLeave).
// Any request the current state does not allow stalls and enters dfuERROR.
#pragma once

#include "usb_control.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wheelemu {

// The wheel's internal flash as its boot loader sees it.
//
// NOR flash: an erased byte reads 0xFF and programming can only clear bits,
// so a host that writes without erasing first ends up with the AND of old
// and new contents, exactly as on the chip.
class DfuFlashMemory
{
public:
    DfuFlashMemory(uint32_t base, uint32_t pageSize, uint32_t pageCount);

    uint32_t pageCount() const { return pageCount_; }
    uint32_t size() const { return uint32_t(bytes_.size()); }
    bool contains(uint32_t address, size_t len) const;

    // Erases the page holding address; false when it is outside the flash.
    bool erasePage(uint32_t address);
    void eraseAll();
    // ANDs data into the flash; false (nothing written) when any byte falls outside.
    bool program(uint32_t address, const uint8_t *data, size_t len);
    // Copies up to len bytes from address, stopping at the end of the flash.
    std::vector<uint8_t> read(uint32_t address, size_t len) const;

    const std::vector<uint8_t> &bytes() const { return bytes_; }
    // Contents from the base on; the rest reads erased. false when longer than the flash.
    bool load(const std::vector<uint8_t> &contents);
    // The contents without the erased tail: what a firmware image flashed from the base looks like.
    std::vector<uint8_t> programmedImage() const;

private:
    uint32_t base_, pageSize_, pageCount_;
    std::vector<uint8_t> bytes_;
};

namespace dfu {

// The states and statuses this loader reports, as DFU 1.1 numbers them.
enum State : uint8_t
{
    Idle = 2,
    DnloadSync = 3,
    DnBusy = 4,
    DnloadIdle = 5,
    ManifestSync = 6,
    Manifest = 7,
    UploadIdle = 9,
    Error = 10
};
enum Status : uint8_t
{
    Ok = 0,
    ErrTarget = 1,
    ErrProg = 6,
    ErrAddress = 8,
    ErrVendor = 11,
    ErrUnknown = 14,
    ErrStalledPkt = 15
};
enum Request : uint8_t
{
    Detach = 0,
    Dnload = 1,
    Upload = 2,
    GetStatus = 3,
    ClrStatus = 4,
    GetState = 5,
    Abort = 6
};

// DfuSe commands, the first byte of download block 0.
constexpr uint8_t kCmdGetCommands = 0x00;
constexpr uint8_t kCmdSetAddress = 0x21;
constexpr uint8_t kCmdErase = 0x41;

constexpr uint16_t kVendorId = 0x0483;
constexpr uint16_t kProductId = 0xDF11;

} // namespace dfu

class DfuLoader
{
public:
    // bwPollTimeout values the loader reports, in milliseconds.
    struct Timing
    {
        uint32_t commandMs = 2;        // Set Address Pointer
        uint32_t eraseMs = 20;         // one page (a mass erase takes one per page)
        uint32_t programMs = 8;        // one data block
        uint32_t manifestMs = 10;      // from the dfuMANIFEST answer until it leaves the bus
        uint32_t unpolledLeaveMs = 50; // leaves this long after a zero-length download nobody polls
        uint32_t eraseBusyRepeats = 0; // extra dfuDNBUSY answers per erase, on top of the time
    };
    // Faults a test can ask for. Block ordinals count the data blocks the
    // loader accepted since it started, from 1, whatever their wValue.
    struct Faults
    {
        uint32_t stallFirstBlockAbove = 0; // until one data block got through, longer ones stall (state kept)
        uint32_t errorOnBlock = 0;         // that block fails to program: dfuERROR, errPROG
        bool readProtected = false;        // memory uploads stall and enter dfuERROR (errVENDOR)
        bool startInError = false;         // comes up in dfuERROR (errUNKNOWN): the host must DFU_CLRSTATUS
        uint32_t unplugAtBlock = 0;        // drops off the bus right after accepting that block
        uint32_t stuckOnBlock = 0;         // that block never finishes: dfuDNBUSY for good
        // Keeps to DFU 1.1 for the leave, as STM32 loaders do: the zero-length
        // download is taken in dfuDNLOAD-IDLE only (stall and dfuERROR in
        // dfuIDLE), and only the GETSTATUS after it starts the firmware.
        bool strictLeave = false;
    };
    struct Config
    {
        uint16_t transferSize = 2048;
        uint32_t flashBase = 0x08000000;
        uint32_t pageSize = 8192;
        uint32_t pageCount = 128;
        Timing timing;
        Faults faults;
    };

    explicit DfuLoader(const Config &config);

    // One DFU class request (bmRequestType 0x21 or 0xA1) to the DFU interface.
    UsbControlResult request(const UsbSetup &setup, const uint8_t *data, size_t len);

    // The 9-byte DFU functional descriptor (bcdDFUVersion 0x011a, DfuSe).
    std::vector<uint8_t> functionalDescriptor() const;
    // The DfuSe interface string, e.g. "@Internal Flash  /0x08000000/128*008Kg".
    std::string memoryLayout() const;

    // What the transport has to do on the loader's behalf.
    enum class Event
    {
        None,
        Leave,    // start the firmware: leave the bus, the wheel comes back
        Reattach, // DFU_DETACH: drop off the bus and enumerate again as the loader
        Unplug,   // gone (fault): the host loses the device mid-download
    };
    // The pending event once its time has come, else None.
    Event takeDueEvent();
    // When the pending event falls due (clock milliseconds), if there is one.
    std::optional<uint64_t> nextEventAt() const;
    Event pendingEvent() const { return event_; }

    // Power-on: state, status, address pointer and counters start over; the flash stays.
    void reset();

    uint8_t state() const; // as DFU_GETSTATE would read it now
    DfuFlashMemory &flash() { return flash_; }

private:
    enum class Op
    {
        None,
        SetAddress,
        ErasePage,
        MassErase,
        Program,
    };

    uint64_t now() const;
    bool busy(uint64_t t) const;
    void settle(uint64_t t);
    UsbControlResult fail(uint8_t status);
    UsbControlResult stallAndFail();
    UsbControlResult statusReply(uint8_t status, uint32_t pollMs, uint8_t state, uint16_t wLength) const;
    uint32_t startOp(); // returns the poll timeout
    void schedule(Event e, uint64_t at);

    UsbControlResult onDnload(const UsbSetup &s, const uint8_t *data, size_t len, uint64_t t);
    UsbControlResult onUpload(const UsbSetup &s);
    UsbControlResult onGetStatus(const UsbSetup &s, uint64_t t);
    UsbControlResult onClrStatus();
    UsbControlResult onAbort();
    UsbControlResult onDetach(uint64_t t);

    Config config_;
    DfuFlashMemory flash_;

    uint8_t state_ = dfu::Idle;
    uint8_t status_ = dfu::Ok;
    uint32_t pointer_ = 0;
    uint32_t dataBlocks_ = 0;

    Op op_ = Op::None;
    bool opStarted_ = false;
    uint32_t opAddress_ = 0;
    std::vector<uint8_t> opData_;
    uint8_t opFailure_ = dfu::Ok;
    uint32_t opPollMs_ = 0;
    uint64_t busyUntil_ = 0;
    uint32_t busyRepeats_ = 0;

    Event event_ = Event::None;
    uint64_t eventAt_ = 0;
};

} // namespace wheelemu
