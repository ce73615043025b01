#include "dfu_loader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace wheelemu {

namespace {
constexpr uint8_t kErased = 0xFF;
} // namespace

DfuFlashMemory::DfuFlashMemory(uint32_t base, uint32_t pageSize, uint32_t pageCount)
    : base_(base), pageSize_(pageSize), pageCount_(pageCount), bytes_(size_t(pageSize) * pageCount, kErased)
{}

bool DfuFlashMemory::contains(uint32_t address, size_t len) const
{
    // 64-bit arithmetic: address + len may pass 4 GiB.
    const uint64_t begin = address, end = uint64_t(address) + len;
    return begin >= base_ && end <= uint64_t(base_) + bytes_.size();
}

bool DfuFlashMemory::erasePage(uint32_t address)
{
    if (!contains(address, 1))
        return false;
    const size_t page = (address - base_) / pageSize_;
    std::fill_n(bytes_.begin() + page * pageSize_, pageSize_, kErased);
    return true;
}

void DfuFlashMemory::eraseAll()
{
    std::fill(bytes_.begin(), bytes_.end(), kErased);
}

bool DfuFlashMemory::program(uint32_t address, const uint8_t *data, size_t len)
{
    if (!contains(address, len))
        return false;
    uint8_t *cell = bytes_.data() + (address - base_);
    for (size_t i = 0; i < len; ++i)
        cell[i] &= data[i];
    return true;
}

std::vector<uint8_t> DfuFlashMemory::read(uint32_t address, size_t len) const
{
    if (!contains(address, 1))
        return {};
    const size_t offset = address - base_;
    const size_t n = std::min(len, bytes_.size() - offset);
    return {bytes_.begin() + offset, bytes_.begin() + offset + n};
}

bool DfuFlashMemory::load(const std::vector<uint8_t> &contents)
{
    if (contents.size() > bytes_.size())
        return false;
    std::copy(contents.begin(), contents.end(), bytes_.begin());
    std::fill(bytes_.begin() + contents.size(), bytes_.end(), kErased);
    return true;
}

std::vector<uint8_t> DfuFlashMemory::programmedImage() const
{
    auto last = std::find_if(bytes_.rbegin(), bytes_.rend(), [](uint8_t b) { return b != kErased; });
    return {bytes_.begin(), last.base()};
}

using namespace dfu;

namespace {

// bmAttributes: bitCanDnload | bitCanUpload | bitWillDetach; not
// manifestation tolerant, so the loader leaves after the zero-length download.
constexpr uint8_t kDfuAttributes = 0x0B;
constexpr uint16_t kDetachTimeoutMs = 255;
constexpr uint16_t kDfuSeVersion = 0x011A;
constexpr uint32_t kMaxPollMs = 0xFFFFFF; // bwPollTimeout has 24 bits
constexpr uint32_t kReattachMs = 5;

// The commands an upload of block 0 lists. Read Unprotect is not offered:
// this loader refuses it.
constexpr uint8_t kCommandList[] = {kCmdGetCommands, kCmdSetAddress, kCmdErase};

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool expectsDataIn(uint8_t request)
{
    return request == Upload || request == GetStatus || request == GetState;
}

} // namespace

DfuLoader::DfuLoader(const Config &config)
    : config_(config), flash_(config.flashBase, config.pageSize, config.pageCount)
{
    reset();
}

void DfuLoader::reset()
{
    state_ = config_.faults.startInError ? Error : Idle;
    status_ = config_.faults.startInError ? ErrUnknown : Ok;
    pointer_ = config_.flashBase;
    dataBlocks_ = 0;
    op_ = Op::None;
    opStarted_ = false;
    opData_.clear();
    opFailure_ = Ok;
    busyRepeats_ = 0;
    event_ = Event::None;
}

uint64_t DfuLoader::now() const
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::vector<uint8_t> DfuLoader::functionalDescriptor() const
{
    const uint16_t ts = config_.transferSize;
    return std::vector<uint8_t>({9, 0x21, kDfuAttributes, uint8_t(kDetachTimeoutMs),
                                 uint8_t(kDetachTimeoutMs >> 8), uint8_t(ts), uint8_t(ts >> 8),
                                 uint8_t(kDfuSeVersion), uint8_t(kDfuSeVersion >> 8)});
}

std::string DfuLoader::memoryLayout() const
{
    // Sector count, then the sector size in KiB; 'g' marks the sectors
    // readable, erasable and writable.
    char text[96];
    std::snprintf(text, sizeof text, "@Internal Flash  /0x%08X/%02u*%03uKg", unsigned(config_.flashBase),
                  unsigned(config_.pageCount), unsigned(config_.pageSize / 1024));
    return text;
}

bool DfuLoader::busy(uint64_t t) const
{
    if (state_ == DnBusy && op_ == Op::Program && config_.faults.stuckOnBlock == dataBlocks_)
        return true;
    return state_ == DnBusy && (t < busyUntil_ || busyRepeats_ > 0);
}

// A finished command or programming shows in the state the loader reports,
// even to DFU_GETSTATE, as soon as its time is over.
void DfuLoader::settle(uint64_t t)
{
    if (state_ != DnBusy || busy(t))
        return;
    op_ = Op::None;
    opData_.clear();
    if (opFailure_ != Ok) {
        state_ = Error;
        status_ = opFailure_;
    } else {
        state_ = DnloadSync;
    }
}

uint8_t DfuLoader::state() const
{
    if (state_ == DnBusy && !busy(now()))
        return opFailure_ != Ok ? Error : DnloadSync;
    return state_;
}

UsbControlResult DfuLoader::fail(uint8_t status)
{
    state_ = Error;
    status_ = status;
    op_ = Op::None;
    opData_.clear();
    return UsbControlResult::ok();
}

UsbControlResult DfuLoader::stallAndFail()
{
    fail(ErrStalledPkt);
    return UsbControlResult::stall();
}

UsbControlResult DfuLoader::statusReply(uint8_t status, uint32_t pollMs, uint8_t state,
                                        uint16_t wLength) const
{
    pollMs = std::min(pollMs, kMaxPollMs);
    std::vector<uint8_t> r{status, uint8_t(pollMs), uint8_t(pollMs >> 8), uint8_t(pollMs >> 16), state, 0};
    if (r.size() > wLength)
        r.resize(wLength);
    return UsbControlResult::ok(std::move(r));
}

void DfuLoader::schedule(Event e, uint64_t at)
{
    event_ = e;
    eventAt_ = at;
}

DfuLoader::Event DfuLoader::takeDueEvent()
{
    if (event_ == Event::None || now() < eventAt_)
        return Event::None;
    Event e = event_;
    event_ = Event::None;
    return e;
}

std::optional<uint64_t> DfuLoader::nextEventAt() const
{
    if (event_ == Event::None)
        return std::nullopt;
    return eventAt_;
}

UsbControlResult DfuLoader::request(const UsbSetup &setup, const uint8_t *data, size_t len)
{
    const uint64_t t = now();
    settle(t);
    // Leaving: the loader is already on its way out and takes nothing more.
    if (state_ == Manifest) {
        if (setup.bRequest == GetStatus && setup.deviceToHost())
            return statusReply(status_, config_.timing.manifestMs, state_, setup.wLength);
        return UsbControlResult::stall();
    }
    if (setup.deviceToHost() != expectsDataIn(setup.bRequest))
        return stallAndFail();

    switch (setup.bRequest) {
    case GetState: {
        std::vector<uint8_t> r{state_};
        r.resize(std::min<size_t>(r.size(), setup.wLength));
        return UsbControlResult::ok(std::move(r));
    }
    case GetStatus:
        return onGetStatus(setup, t);
    case ClrStatus:
        return onClrStatus();
    case Abort:
        return onAbort();
    case Detach:
        return onDetach(t);
    case Dnload:
        return onDnload(setup, data, len, t);
    case Upload:
        return onUpload(setup);
    default:
        return stallAndFail();
    }
}

UsbControlResult DfuLoader::onGetStatus(const UsbSetup &s, uint64_t t)
{
    switch (state_) {
    case DnloadSync:
        if (op_ != Op::None && !opStarted_) {
            const uint32_t poll = startOp();
            state_ = DnBusy;
            busyUntil_ = t + poll;
            return statusReply(Ok, poll, DnBusy, s.wLength);
        }
        state_ = DnloadIdle;
        return statusReply(Ok, 0, DnloadIdle, s.wLength);
    case DnBusy: {
        // Polled before the time it asked for: still busy.
        if (busyRepeats_ > 0)
            --busyRepeats_;
        const uint32_t left = busyUntil_ > t ? uint32_t(busyUntil_ - t) : opPollMs_;
        return statusReply(Ok, left, DnBusy, s.wLength);
    }
    case ManifestSync:
        state_ = Manifest;
        schedule(Event::Leave, t + config_.timing.manifestMs);
        return statusReply(Ok, config_.timing.manifestMs, Manifest, s.wLength);
    default:
        return statusReply(status_, 0, state_, s.wLength);
    }
}

uint32_t DfuLoader::startOp()
{
    const Timing &tm = config_.timing;
    opStarted_ = true;
    busyRepeats_ = 0;
    switch (op_) {
    case Op::SetAddress:
        if (flash_.contains(opAddress_, 1))
            pointer_ = opAddress_;
        else
            opFailure_ = ErrTarget;
        opPollMs_ = tm.commandMs;
        break;
    case Op::ErasePage:
        if (!flash_.erasePage(opAddress_))
            opFailure_ = ErrTarget;
        opPollMs_ = tm.eraseMs;
        busyRepeats_ = tm.eraseBusyRepeats;
        break;
    case Op::MassErase:
        flash_.eraseAll();
        opPollMs_ = uint32_t(std::min<uint64_t>(uint64_t(tm.eraseMs) * flash_.pageCount(), kMaxPollMs));
        busyRepeats_ = tm.eraseBusyRepeats;
        break;
    case Op::Program:
        // opFailure_ may already hold the fault chosen for this block.
        if (opFailure_ == Ok && !flash_.program(opAddress_, opData_.data(), opData_.size()))
            opFailure_ = ErrAddress;
        opPollMs_ = tm.programMs;
        break;
    case Op::None:
        opPollMs_ = 0;
        break;
    }
    return opPollMs_;
}

UsbControlResult DfuLoader::onClrStatus()
{
    if (state_ == Error) {
        state_ = Idle;
        status_ = Ok;
        return UsbControlResult::ok();
    }
    // The reference loaders do not stall this: they report an error instead.
    return fail(ErrUnknown);
}

UsbControlResult DfuLoader::onAbort()
{
    switch (state_) {
    case Idle:
    case DnloadSync:
    case DnloadIdle:
    case ManifestSync:
    case UploadIdle:
        state_ = Idle;
        status_ = Ok;
        op_ = Op::None;
        opData_.clear();
        if (event_ == Event::Leave)
            event_ = Event::None;
        return UsbControlResult::ok();
    case Error:
        return UsbControlResult::stall();
    default:
        return stallAndFail();
    }
}

UsbControlResult DfuLoader::onDetach(uint64_t t)
{
    if (state_ != Idle && state_ != DnloadIdle && state_ != UploadIdle)
        return stallAndFail();
    // bitWillDetach: drops off the bus and enumerates again, still the loader.
    state_ = Idle;
    schedule(Event::Reattach, t + kReattachMs);
    return UsbControlResult::ok();
}

UsbControlResult DfuLoader::onDnload(const UsbSetup &s, const uint8_t *data, size_t len, uint64_t t)
{
    if (state_ != Idle && state_ != DnloadIdle)
        return stallAndFail();
    if (len == 0) {
        if (config_.faults.strictLeave && state_ != DnloadIdle)
            return stallAndFail();
        state_ = ManifestSync;
        if (!config_.faults.strictLeave)
            schedule(Event::Leave, t + config_.timing.unpolledLeaveMs);
        return UsbControlResult::ok();
    }
    opStarted_ = false;
    opFailure_ = Ok;
    opData_.clear();
    if (s.wValue == 0) {
        if (data[0] == kCmdSetAddress && len == 5) {
            op_ = Op::SetAddress;
            opAddress_ = le32(data + 1);
        } else if (data[0] == kCmdErase && len == 5) {
            op_ = Op::ErasePage;
            opAddress_ = le32(data + 1);
        } else if (data[0] == kCmdErase && len == 1) {
            op_ = Op::MassErase;
        } else {
            // Read Unprotect, Get Commands as a download, unknown or malformed commands.
            return stallAndFail();
        }
        state_ = DnloadSync;
        return UsbControlResult::ok();
    }
    if (s.wValue == 1 || len > config_.transferSize)
        return stallAndFail();
    const Faults &f = config_.faults;
    if (f.stallFirstBlockAbove != 0 && dataBlocks_ == 0 && len > f.stallFirstBlockAbove)
        return UsbControlResult::stall();

    ++dataBlocks_;
    op_ = Op::Program;
    opAddress_ = uint32_t(pointer_ + uint64_t(s.wValue - 2) * config_.transferSize);
    opData_.assign(data, data + len);
    if (f.errorOnBlock == dataBlocks_)
        opFailure_ = ErrProg;
    state_ = DnloadSync;
    if (f.unplugAtBlock == dataBlocks_)
        schedule(Event::Unplug, t);
    return UsbControlResult::ok();
}

UsbControlResult DfuLoader::onUpload(const UsbSetup &s)
{
    if (state_ != Idle && state_ != UploadIdle)
        return stallAndFail();
    std::vector<uint8_t> out;
    if (s.wValue == 0) {
        out.assign(std::begin(kCommandList), std::end(kCommandList));
        out.resize(std::min<size_t>(out.size(), s.wLength));
    } else {
        if (s.wValue == 1 || s.wLength > config_.transferSize)
            return stallAndFail();
        if (config_.faults.readProtected) {
            fail(ErrVendor);
            return UsbControlResult::stall();
        }
        const uint32_t address = uint32_t(pointer_ + uint64_t(s.wValue - 2) * config_.transferSize);
        if (!flash_.contains(address, 1)) {
            fail(ErrAddress);
            return UsbControlResult::stall();
        }
        out = flash_.read(address, s.wLength);
    }
    // A short answer ends the upload.
    state_ = out.size() < s.wLength ? Idle : UploadIdle;
    return UsbControlResult::ok(std::move(out));
}

} // namespace wheelemu
