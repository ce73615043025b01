// quorctl: the wheel from the command line, for scripts and game launchers.
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"

#include <QCoreApplication>

#include <hidapi/hidapi.h>

namespace {

bool verboseLog = false;

// The shared device code logs its steps for the window's debug output;
// here they would mix with the results, so they show only with --verbose.
void logMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verboseLog)
        return;
    printNote(message);
}

int dispatch(const CommandLine &line)
{
    switch (line.kind) {
    case CommandKind::Help:
        printRaw(usageText());
        return ExitSuccess;
    case CommandKind::Status:
        return runStatus();
    case CommandKind::Backup:
        return runBackup(line);
    case CommandKind::Restore:
        return runRestore(line);
    case CommandKind::LedPreset:
        return runLedPreset(line);
    case CommandKind::LedSet:
        return runLedSet(line);
    case CommandKind::Flash:
        return runFlash(line);
    case CommandKind::Watch:
        return runWatch(line);
    }
    return ExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(logMessage);
    QString error;
    const std::optional<CommandLine> line = parseCommandLine(app.arguments().mid(1), &error);
    if (!line) {
        reportError(ExitUsage, error);
        printNote(usageText());
        return ExitUsage;
    }
    verboseLog = line->verbose;
    hid_init();
    const int code = dispatch(*line);
    hid_exit();
    return code;
}
