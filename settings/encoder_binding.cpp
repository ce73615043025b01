#include "settings/encoder_binding.h"

#include <QSettings>

const char *const kSettingsOrganization = "Quor Controls";
const char *const kSettingsApplication = "QuorSet";

bool bindingForRelease(const QList<qint32> &released, EncoderBinding &binding)
{
    if (released.isEmpty())
        return false;
    for (std::size_t i = 0; i < EncoderButtonTable.size(); ++i) {
        if (EncoderButtonTable[i] != released.first())
            continue;
        binding.up = EncoderButtonTable[i | 1];
        binding.down = EncoderButtonTable[i & ~std::size_t(1)];
        return true;
    }
    return false;
}

EncoderSteps stepsForRelease(const EncoderBinding &binding, const QList<qint32> &released)
{
    return {released.contains(binding.up), released.contains(binding.down)};
}

QString encoderUpKey(const QString &deviceName)
{
    return deviceName + QStringLiteral("_ENCODER1");
}

QString encoderDownKey(const QString &deviceName)
{
    return deviceName + QStringLiteral("_ENCODER2");
}

EncoderBinding readEncoderBinding(QSettings &store, const QString &deviceName)
{
    auto button = [&store](const QString &key) {
        return static_cast<quint8>(store.value(key, int(kUnboundButton)).toUInt() & 0xFF);
    };
    return {button(encoderUpKey(deviceName)), button(encoderDownKey(deviceName))};
}

void writeEncoderBinding(QSettings &store, const QString &deviceName, const EncoderBinding &binding)
{
    store.setValue(encoderUpKey(deviceName), int(binding.up));
    store.setValue(encoderDownKey(deviceName), int(binding.down));
    store.sync();
}

void eraseEncoderBinding(QSettings &store, const QString &deviceName)
{
    store.remove(encoderUpKey(deviceName));
    store.remove(encoderDownKey(deviceName));
    store.sync();
}
