#include "loader_on_bus.h"

using namespace wheelemu;

// On the USB handler thread, with lock_ held.
UsbControlResult LoaderOnBus::control(const UsbSetup &setup, const uint8_t *out, size_t outLength)
{
    const std::vector<uint8_t> sent =
        out ? std::vector<uint8_t>(out, out + outLength) : std::vector<uint8_t>();
    std::optional<UsbControlResult> answer;
    if (hook_)
        answer = hook_(setup, sent);
    if (!answer) {
        answer = function_.control(setup, out, outLength);
        if (rewrite_)
            rewrite_(setup, *answer);
    }
    if (recording_)
        transfers_.push_back({setup, setup.deviceToHost() ? answer->data : sent, answer->stalled});
    return std::move(*answer);
}
