#include "wheel_fixture.h"

#include "command_interpreter.h"

#include <algorithm>
#include <chrono>

namespace wheeltest {

WheelFixture::WheelFixture() : WheelFixture(Options()) {}

WheelFixture::WheelFixture(const Options &options)
{
    wheelemu::EmulatorOptions o;
    o.wheel.model = options.model;
    o.wheel.name = options.name;
    o.wheel.productId = options.productId;
    o.wheel.version = options.version;
    o.wheel.extraLeds = options.extraLeds;
    o.inputRate = options.inputRate;
    o.transcriptInMemory = true;
    o.restartDelay = std::chrono::milliseconds(options.restartDelayMs);
    o.bootLoaderDelay = std::chrono::milliseconds(options.bootLoaderDelayMs);
    emulator_ = wheelemu::Emulator::create(o, &error_);
}

WheelFixture::~WheelFixture() = default;

std::string WheelFixture::root() const
{
    return emulator_ ? emulator_->root() : std::string();
}

wheelemu::HidrawDevice *WheelFixture::device(int wheel)
{
    return emulator_ && wheel >= 0 ? emulator_->wheel(static_cast<size_t>(wheel)) : nullptr;
}

void WheelFixture::press(int button, int wheel)
{
    if (auto *d = device(wheel))
        d->press(button);
}

void WheelFixture::release(int button, int wheel)
{
    if (auto *d = device(wheel))
        d->release(button);
}

void WheelFixture::setPaddles(uint16_t left, uint16_t right, int wheel)
{
    if (auto *d = device(wheel))
        d->setPaddles(left, right);
}

void WheelFixture::setRate(int reportsPerSecond)
{
    if (emulator_)
        emulator_->setInputRate(reportsPerSecond);
}

void WheelFixture::sendReports(int count, int wheel)
{
    if (auto *d = device(wheel))
        d->queueInputReports(count);
}

void WheelFixture::sendShortReport(int length, int wheel)
{
    if (auto *d = device(wheel))
        d->queueShortInputReport(static_cast<size_t>(std::max(length, 0)));
}

bool WheelFixture::unplug(int wheel)
{
    std::string why;
    return emulator_ && emulator_->unplug(static_cast<size_t>(wheel), &why);
}

bool WheelFixture::plug(int wheel)
{
    std::string why;
    return emulator_ && emulator_->plug(static_cast<size_t>(wheel), &why);
}

bool WheelFixture::changeProductId(uint16_t productId, int wheel)
{
    std::string why;
    return emulator_ && emulator_->changeProductId(static_cast<size_t>(wheel), productId, &why);
}

int WheelFixture::addWheel(const std::string &model, int productId)
{
    if (!emulator_)
        return -1;
    wheelemu::WheelSetup setup;
    setup.model = model;
    setup.productId = productId;
    return emulator_->addWheel(setup, &error_);
}

bool WheelFixture::plugged(int wheel)
{
    auto *d = device(wheel);
    return d && d->plugged();
}

void WheelFixture::addFaults(int wheel, const std::function<void(wheelemu::HidrawDevice::Faults &)> &set)
{
    if (auto *d = device(wheel)) {
        wheelemu::HidrawDevice::Faults faults;
        set(faults);
        d->addFaults(faults);
    }
}

void WheelFixture::failGetFeature(int count, int wheel)
{
    addFaults(wheel, [count](auto &f) { f.getFeature = count; });
}

void WheelFixture::failSetFeature(int count, int wheel)
{
    addFaults(wheel, [count](auto &f) { f.setFeature = count; });
}

void WheelFixture::failReads(int count, int wheel)
{
    addFaults(wheel, [count](auto &f) { f.read = count; });
}

void WheelFixture::failWrites(int count, int wheel)
{
    addFaults(wheel, [count](auto &f) { f.write = count; });
}

std::vector<std::string> WheelFixture::exchanges(const std::vector<std::string> &kinds) const
{
    std::vector<std::string> out;
    if (!emulator_)
        return out;
    for (const std::string &line : emulator_->transcript().lines()) {
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        const std::string rest = line.substr(space + 1);
        const std::string kind = rest.substr(0, rest.find(' '));
        bool wanted = kinds.empty();
        for (const std::string &k : kinds)
            wanted = wanted || k == kind;
        if (wanted)
            out.push_back(rest);
    }
    return out;
}

void WheelFixture::clearTranscript()
{
    if (emulator_)
        emulator_->transcript().clear();
}

QStringList WheelFixture::sent(const std::vector<std::string> &kinds) const
{
    QStringList out;
    for (const std::string &l : exchanges(kinds)) {
        QString line = QString::fromStdString(l);
        while (line.startsWith(QLatin1String("set-feature")) && line.endsWith(QLatin1String(" 00")))
            line.chop(3);
        out << line;
    }
    return out;
}

QStringList WheelFixture::writes() const
{
    QStringList out = sent();
    out.removeIf([](const QString &line) { return line.startsWith(QLatin1String("set-feature 02 0b")); });
    return out;
}

wheelemu::Wheel::Settings WheelFixture::live(int wheel)
{
    wheelemu::Wheel::Settings s{};
    withWheel([&s](wheelemu::Wheel &w) { s = w.live(); }, wheel);
    return s;
}

wheelemu::Wheel::Settings WheelFixture::flash(int wheel)
{
    wheelemu::Wheel::Settings s{};
    withWheel([&s](wheelemu::Wheel &w) { s = w.flash(); }, wheel);
    return s;
}

std::vector<uint8_t> WheelFixture::installedImage(int wheel)
{
    std::vector<uint8_t> image;
    withWheel([&image](wheelemu::Wheel &w) { image = w.installedImage(); }, wheel);
    return image;
}

void WheelFixture::withWheel(const std::function<void(wheelemu::Wheel &)> &f, int wheel)
{
    if (auto *d = device(wheel))
        d->withWheel(f);
}

bool WheelFixture::command(const std::string &line)
{
    return emulator_ && wheelemu::executeCommand(*emulator_, line).ok;
}

} // namespace wheeltest
