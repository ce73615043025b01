#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line of quorctl, parsed without touching anything: a command
// that cannot be parsed never opens the wheel.

enum class CommandKind
{
    Help,
    Status,
    Backup,
    Restore,
    LedPreset,
    LedSet,
    Flash,
    Watch,
};

struct CommandLine
{
    CommandKind kind = CommandKind::Help;
    QString file; // backup, restore, flash
    bool force = false;
    bool restoreSettings = false; // flash: put back settings the new firmware changed
    QString preset;               // led preset
    QString button;               // led set
    QString colour;               // led set, RRGGBB as typed
    int count = 0;                // watch: stop after this many lines, 0 = no limit
    int timeoutMs = 0;            // watch: stop after this long, 0 = no limit
    bool verbose = false;
};

// nullopt with *error set for a command line that makes no sense.
std::optional<CommandLine> parseCommandLine(const QStringList &arguments, QString *error);

QString usageText();
