#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

class QSettings;

// Binding a rotary encoder of the wheel to the clutch bite point. The binding
// lives on the host, per model name, in the settings store; the wheel knows
// nothing of it. Button indices are 0-based, as the input decoding reports
// released buttons.

// Ten encoders, two buttons each: entries 2j (turning down) and 2j + 1
// (turning up).
constexpr std::array<quint8, 20> EncoderButtonTable{2,  3,  4,  5,  13, 14, 16, 17, 18, 19,
                                                    24, 25, 26, 27, 34, 35, 36, 37, 45, 46};

constexpr quint8 kUnboundButton = 0xFF;

enum BindState : qint32
{
    BindUnbound = 0,
    BindWaiting = 1,
    BindBound = 2,
};

struct EncoderBinding
{
    quint8 up = kUnboundButton;
    quint8 down = kUnboundButton;

    bool bound() const { return up != kUnboundButton && down != kUnboundButton; }
    bool operator==(const EncoderBinding &o) const { return up == o.up && down == o.down; }
};

// While waiting for an encoder: the pair of the first released button, the
// same way round whichever of its two buttons it was; no pair when that
// button is not an encoder's.
bool bindingForRelease(const QList<qint32> &released, EncoderBinding &binding);

// While bound: the bite-point steps one report asks for. Up is applied
// before down, each with its own send.
struct EncoderSteps
{
    bool up = false;
    bool down = false;
};
EncoderSteps stepsForRelease(const EncoderBinding &binding, const QList<qint32> &released);

// Where the settings store keeps a model's binding.
extern const char *const kSettingsOrganization;
extern const char *const kSettingsApplication;
QString encoderUpKey(const QString &deviceName);
QString encoderDownKey(const QString &deviceName);

// Missing keys read as unbound (255); values are taken unsigned and cut to
// eight bits, so 256 reads as button 0.
EncoderBinding readEncoderBinding(QSettings &store, const QString &deviceName);
void writeEncoderBinding(QSettings &store, const QString &deviceName, const EncoderBinding &binding);
void eraseEncoderBinding(QSettings &store, const QString &deviceName);
