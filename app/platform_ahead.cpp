#include "app/platform_ahead.h"

#include <QFile>
#include <QLibraryInfo>
#include <QString>

#include <dlfcn.h>

#include <string>

namespace PlatformAhead {

namespace {

// Qt takes "--platform" for "-platform", and so on.
QByteArray withOneDash(const QByteArray &argument)
{
    return argument.startsWith("--") ? argument.mid(1) : argument;
}

} // namespace

bool startsOnXcb(const QList<QByteArray> &arguments, const Environment &environment)
{
    if (!environment("QT_PLUGIN_PATH").isEmpty() || !environment("QT_QPA_PLATFORM_PLUGIN_PATH").isEmpty())
        return false;
    QByteArray platform = environment("QT_QPA_PLATFORM");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray option = withOneDash(arguments[i]);
        if (option == "-platformpluginpath")
            return false;
        if (option == "-platform" && i + 1 < arguments.size())
            platform = arguments[++i];
    }
    // Qt's own choice, which a Wayland session may turn to Wayland.
    if (platform.isEmpty())
        return environment("XDG_SESSION_TYPE") != "wayland";
    return platform.split(';').first().split(':').first() == "xcb";
}

std::function<void()> loader(int argc, char **argv)
{
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    if (!startsOnXcb(arguments, [](const char *name) { return qgetenv(name); }))
        return {};
    const std::string plugin = QFile::encodeName(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                                                 QStringLiteral("/platforms/libqxcb.so"))
                                   .toStdString();
    // Never closed: Qt loads the same file and keeps it for the whole run.
    // Should it fail, Qt fails the same way and says why.
    return [plugin] {
        dlopen(plugin.c_str(), RTLD_LAZY);
    };
}

} // namespace PlatformAhead
