#include "quorctl/command_line.h"

namespace {

bool takeNumber(const QString &text, int min, int &out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min)
        return false;
    out = v;
    return true;
}

} // namespace

QString usageText()
{
    return QStringLiteral(
        "usage: quorctl [--verbose] COMMAND\n"
        "  status                      model, product id, firmware version, battery and link\n"
        "  backup FILE                 save the wheel's whole setup as a profile\n"
        "  restore [--force] FILE      write a profile back (--force: taken from another model)\n"
        "  led preset NAME             light every LED in one colour (red, green, blue, white,\n"
        "                              off, sky, magenta, orange, yellow)\n"
        "  led set BUTTON RRGGBB       colour the LEDs of one button (pbB1, pbT3, pbXL, ...)\n"
        "  flash [--force] [--restore-settings] FILE\n"
        "                              install a firmware image (.bin); --force: into the one boot\n"
        "                              loader that waits without a wheel (an interrupted update);\n"
        "                              --restore-settings: put back settings the update changed\n"
        "  watch [--count N] [--timeout SECONDS]\n"
        "                              print button presses and paddle positions as they change\n"
        "exit codes: 0 success, 1 usage, 2 no wheel, 3 device error, 4 bad file\n");
}

std::optional<CommandLine> parseCommandLine(const QStringList &arguments, QString *error)
{
    CommandLine line;
    QStringList args = arguments;
    while (!args.isEmpty() && args.front() == QLatin1String("--verbose")) {
        line.verbose = true;
        args.removeFirst();
    }
    const auto fail = [error](const QString &text) {
        *error = text;
        return std::nullopt;
    };
    if (args.isEmpty())
        return fail(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("help") || command == QLatin1String("--help") ||
        command == QLatin1String("-h")) {
        line.kind = CommandKind::Help;
        return line;
    }
    if (command == QLatin1String("status") || command == QLatin1String("watch")) {
        line.kind = command == QLatin1String("status") ? CommandKind::Status : CommandKind::Watch;
        while (line.kind == CommandKind::Watch && args.size() >= 2) {
            const QString option = args.takeFirst();
            const QString value = args.takeFirst();
            int seconds = 0;
            if (option == QLatin1String("--count") && takeNumber(value, 1, line.count))
                continue;
            if (option == QLatin1String("--timeout") && takeNumber(value, 1, seconds)) {
                line.timeoutMs = seconds * 1000;
                continue;
            }
            return fail(QStringLiteral("watch: bad option \"%1 %2\"").arg(option, value));
        }
        if (!args.isEmpty())
            return fail(QStringLiteral("%1: unexpected \"%2\"").arg(command, args.front()));
        return line;
    }
    if (command == QLatin1String("backup") || command == QLatin1String("flash") ||
        command == QLatin1String("restore")) {
        line.kind = command == QLatin1String("backup")  ? CommandKind::Backup
                    : command == QLatin1String("flash") ? CommandKind::Flash
                                                        : CommandKind::Restore;
        for (bool option = true; option && args.size() > 1;) {
            option = false;
            if (line.kind != CommandKind::Backup && args.front() == QLatin1String("--force"))
                option = line.force = true;
            else if (line.kind == CommandKind::Flash && args.front() == QLatin1String("--restore-settings"))
                option = line.restoreSettings = true;
            if (option)
                args.removeFirst();
        }
        if (args.size() != 1 || args.front().isEmpty())
            return fail(QStringLiteral("%1 needs exactly one FILE").arg(command));
        line.file = args.front();
        return line;
    }
    if (command == QLatin1String("led")) {
        const QString what = args.isEmpty() ? QString() : args.takeFirst();
        if (what == QLatin1String("preset") && args.size() == 1) {
            line.kind = CommandKind::LedPreset;
            line.preset = args[0];
            return line;
        }
        if (what == QLatin1String("set") && args.size() == 2) {
            line.kind = CommandKind::LedSet;
            line.button = args[0];
            line.colour = args[1];
            return line;
        }
        return fail(QStringLiteral("led needs \"preset NAME\" or \"set BUTTON RRGGBB\""));
    }
    return fail(QStringLiteral("unknown command \"%1\"").arg(command));
}
