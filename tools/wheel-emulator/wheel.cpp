// First cut: only the model table and the input report; the protocol
// behaviour follows.
#include "wheel.h"

namespace wheelemu {

namespace {
const std::vector<ModelInfo> kModels = {
    {Model::HZet, "H-ZET", "QUOR H-ZET Wheel", 0x2007, 4, true},
    {Model::Vln6, "VLN6", "QUOR VLN6 Wheel", 0x2008, 4, false},
    {Model::HMira, "H-MIRA", "QUOR H-MIRA Wheel", 0x2009, 4, true},
    {Model::Ov410, "OV410", "QUOR OV410 Wheel", 0x200A, 4, true},
    {Model::Klino4, "KLINO4", "QUOR KLINO4 Wheel", 0x200B, 4, true},
    {Model::Ulmar, "ULMAR", "QUOR ULMAR Wheel", 0x200C, 8, true},
    {Model::Srd7, "SRD7", "QUOR SRD7 Wheel", 0x200D, 4, false},
    {Model::Pelix, "PELIX", "QUOR PELIX Wheel", 0x2010, 4, false},
};
} // namespace

const std::vector<ModelInfo> &allModels() { return kModels; }

const ModelInfo *findModel(const std::string &code)
{
    for (const ModelInfo &m : kModels)
        if (code == m.code)
            return &m;
    return nullptr;
}

Wheel::Wheel(const Config &config) : config_(config), info_(&kModels[static_cast<size_t>(config.model)])
{
    name_ = config.name.empty() ? info_->defaultName : config.name;
    version_ = config.version.empty() ? "2\tMar  7 2024,15:04" : config.version;
    live_ = flash_ = defaults(*info_);
}

const ModelInfo &Wheel::info() const { return *info_; }
const std::string &Wheel::name() const { return name_; }
const std::string &Wheel::version() const { return version_; }
bool Wheel::setFeature(const uint8_t *data, size_t len) { return len > 0 && data[0] == 0x02; }
int Wheel::getFeature(uint8_t *data, size_t len)
{
    if (len == 0 || data[0] != 0x02)
        return -1;
    for (size_t i = 1; i < len; ++i)
        data[i] = 0;
    return static_cast<int>(len);
}
bool Wheel::output(const uint8_t *data, size_t len) { return len > 0 && data[0] == 0x03; }
void Wheel::press(int button)
{
    if (button >= 1 && button <= 64)
        buttons_[(button - 1) / 8] |= static_cast<uint8_t>(1u << ((button - 1) % 8));
}
void Wheel::release(int button)
{
    if (button >= 1 && button <= 64)
        buttons_[(button - 1) / 8] &= static_cast<uint8_t>(~(1u << ((button - 1) % 8)));
}
void Wheel::setPaddles(uint16_t left, uint16_t right)
{
    left_ = left;
    right_ = right;
}
std::array<uint8_t, kInputReportSize> Wheel::inputReport() const
{
    std::array<uint8_t, kInputReportSize> r{};
    r[0] = 0x01;
    r[1] = right_ & 0xFF;
    r[2] = right_ >> 8;
    r[3] = left_ & 0xFF;
    r[4] = left_ >> 8;
    for (size_t i = 0; i < 8; ++i)
        r[5 + i] = buttons_[i];
    return r;
}
Wheel::Event Wheel::takeEvent()
{
    Event e = event_;
    event_ = Event::None;
    return e;
}
void Wheel::powerCycle() { live_ = flash_; }
void Wheel::installImage(const std::vector<uint8_t> &image) { image_ = image; }
std::string Wheel::versionInImage(const std::vector<uint8_t> &) { return {}; }
std::string Wheel::stateJson() const { return "{}\n"; }
bool Wheel::loadStateJson(const std::string &, std::string *error)
{
    if (error)
        *error = "not implemented yet";
    return false;
}
const Wheel::Settings &Wheel::live() const { return live_; }
const Wheel::Settings &Wheel::flash() const { return flash_; }
Wheel::Settings Wheel::defaults(const ModelInfo &info)
{
    Settings s{};
    s.biteWord = 5000;
    s.rightMax = s.leftMax = 4095;
    s.encoderPulseWidth = s.shifterPulseWidth = 100;
    s.clutchesEnabled = 1;
    s.extraShiftersEnabled = 0xFF;
    s.ledFrame.assign(static_cast<size_t>(info.ledPages) * 18, 0xFF);
    s.extraLeds.fill(0xFF);
    return s;
}
const std::vector<uint8_t> &Wheel::installedImage() const { return image_; }

} // namespace wheelemu
