#include "settings/wheel_settings.h"

#include "device/device_handle.h"

namespace {

int send(DeviceHandle &device, const CommandReport &report)
{
    if (!device.isOpen())
        return -1;
    return device.sendFeatureReport(report.data(), kCommandSendLength);
}

// The reply lands in the request's buffer; the caller reads it from there.
bool queryInto(DeviceHandle &device, CommandReport &buffer)
{
    if (!device.isOpen())
        return false;
    device.query(buffer.data(), kCommandSendLength, kCommandReplyLength);
    return true;
}

} // namespace

std::optional<int32_t> readPulseWidth(DeviceHandle &device, Item item)
{
    CommandReport reply = makeItemQuery(item);
    if (!queryInto(device, reply))
        return std::nullopt;
    return parseSignedItemValue(reply);
}

int writePulseWidth(DeviceHandle &device, Item item, int32_t value, bool save)
{
    return send(device, makeSetItem(item, static_cast<uint32_t>(value), save));
}

std::optional<PaddleConfig> readPaddleConfig(DeviceHandle &device)
{
    CommandReport reply = makeQuery(Record::PaddleConfig);
    if (!queryInto(device, reply))
        return std::nullopt;
    return parsePaddleConfig(reply);
}

int writePaddleConfig(DeviceHandle &device, const PaddleConfig &config, bool save)
{
    return send(device, makeWritePaddleConfig(config, save));
}

std::optional<bool> readItemEnabled(DeviceHandle &device, Item item)
{
    CommandReport reply = makeItemQuery(item);
    if (!queryInto(device, reply))
        return std::nullopt;
    return isItemEnabled(parseItemValue(reply));
}

int saveItemEnabledIfChanged(DeviceHandle &device, Item item, bool wanted)
{
    CommandReport buffer = makeItemQuery(item);
    if (!queryInto(device, buffer))
        return -1;
    if (isItemEnabled(parseItemValue(buffer)) == wanted)
        return 0;
    writeSetItem(buffer, item, enabledItemValue(wanted), true);
    return send(device, buffer);
}

int startThresholdCalibration(DeviceHandle &device, Item item)
{
    return send(device, makeSetItem(item, kThresholdCalibrationStart, false));
}

int finishThresholdCalibration(DeviceHandle &device, Item item)
{
    return send(device, makeSetItem(item, kThresholdCalibrationFinish, true));
}

int clearFlash(DeviceHandle &device)
{
    return send(device, makeSetItem(Item::ClearFlash, 0, false));
}
