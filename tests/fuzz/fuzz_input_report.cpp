// Input reports of any length, and the indicator update they drive: the
// first bytes pick the previous indicator states, the enabled mask and the
// extra-shifter switch, the rest is the payload.

#include "input/input_report.h"

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    IndicatorStates previous{};
    for (IndicatorState &s : previous)
        s = static_cast<IndicatorState>(in.byte() % 3);
    IndicatorMask enabled;
    for (int i = 0; i < kIndicatorCount; ++i)
        enabled[std::size_t(i)] = in.byte() & 1;
    const bool extraShifters = in.byte() & 1;
    const QByteArray payload = in.rest();

    const InputPayload decoded = decodeInputPayload(payload);
    auto at = [&](int i) {
        return i < payload.size() ? uint8_t(payload[i]) : uint8_t(0);
    };
    FUZZ_CHECK(decoded.right == (at(0) | at(1) << 8) && decoded.left == (at(2) | at(3) << 8));
    for (int bit = 0; bit < 64; ++bit)
        FUZZ_CHECK(bool(decoded.buttons >> bit & 1) == bool(at(4 + bit / 8) >> (bit % 8) & 1));

    const std::vector<int> pressed = pressedButtons(decoded.buttons);
    uint64_t rebuilt = 0;
    for (int index : pressed) {
        FUZZ_CHECK(index >= 0 && index < 64 && !(rebuilt >> index & 1));
        rebuilt |= uint64_t{1} << index;
    }
    FUZZ_CHECK(rebuilt == decoded.buttons && std::is_sorted(pressed.begin(), pressed.end()));

    const IndicatorUpdate update = updateIndicators(previous, decoded.buttons, enabled, extraShifters);
    std::size_t released = 0;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const std::size_t u = std::size_t(i);
        const IndicatorState now = update.states[u];
        FUZZ_CHECK(stateFromStatusTip(QLatin1String(statusTipOf(now))) == now);
        if (!indicatorTakesPart(i, extraShifters)) {
            FUZZ_CHECK(now == previous[u]);
            continue;
        }
        const bool lit = (decoded.buttons >> i & 1) && enabled[u];
        FUZZ_CHECK(now == (lit ? IndicatorState::Lit : IndicatorState::Unlit));
        if (!lit && previous[u] == IndicatorState::Lit) {
            FUZZ_CHECK(released < update.releasedButtons.size() && update.releasedButtons[released] == i);
            ++released;
        }
        FUZZ_CHECK(indicatorName(i + 1) == ButtonIndicatorTable[u]);
    }
    FUZZ_CHECK(released == update.releasedButtons.size());
    const int number = int16_t(decoded.left);
    FUZZ_CHECK((indicatorName(number) != nullptr) == (number >= 1 && number <= kIndicatorCount));
    return 0;
}
