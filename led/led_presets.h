#pragma once

#include "device/command_report.h"

#include <QChar>
#include <QString>

// The nine preset colours of the RGB page. The window's preset button for
// one is named "pbSet" followed by `key`; quorctl takes `name` (in any case)
// or `key`.
struct LedPreset
{
    const char *name;
    char key;
    Rgb colour;
};

// The preset whose button carries this key character, or nullptr.
const LedPreset *ledPresetByKey(QChar key);

// The preset a script asked for by name or by key character, or nullptr.
const LedPreset *ledPresetByName(const QString &name);
