#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

// Where the guard socket lives.
//
// A bare name would put the socket in the shared temp directory, where every
// user of the machine would meet the same name: a second user would be refused
// and could bring the first user's window to the front. So the socket goes
// into a directory only this user can enter: $XDG_RUNTIME_DIR, which the
// session creates for exactly this purpose, or, where no session provides
// one, a directory named after the program and the user id in the temp
// directory that we create with mode 0700 ourselves. Either must be a real
// directory (not a symlink), owned by us and closed to group and others;
// otherwise someone else could have prepared it, and we would rather run
// unguarded than trust it. The socket itself is also created user-only.
//
// Unix sockets outlive a process that is killed, so a name can be taken by a
// file that nobody answers on; startGuardServer() replaces such a leftover
// after checking that nobody answers on it. The socket name is still the
// application name on both sides, so a copy started from a renamed
// executable is a different program as far as the guard is concerned.

namespace SingleInstance {

namespace {

constexpr int probeTimeoutMs = 100;

bool isPrivateDirectory(const QString &path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString privateRuntimeDirectory()
{
    const QString session = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!session.isEmpty() && isPrivateDirectory(session))
        return session;

    const QString fallback = QDir::tempPath() + QLatin1Char('/') + QCoreApplication::applicationName() +
                             QLatin1Char('-') + QString::number(::geteuid());
    // An existing directory is fine as long as it passes the check below.
    ::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU);
    if (isPrivateDirectory(fallback))
        return fallback;
    return QString();
}

bool answers(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    return socket.waitForConnected(probeTimeoutMs);
}

} // namespace

QString guardServerName()
{
    const QString dir = privateRuntimeDirectory();
    if (dir.isEmpty())
        return QString();
    return dir + QLatin1Char('/') + QCoreApplication::applicationName();
}

bool isInstanceRunning()
{
    const QString name = guardServerName();
    if (name.isEmpty())
        return false;
    return answers(name);
}

void startGuardServer(QLocalServer &server)
{
    const QString name = guardServerName();
    if (name.isEmpty()) {
        qDebug() << "single instance: no private runtime directory, running without a guard";
        return;
    }
    // A user-only listen binds in a scratch directory and renames the socket
    // over the name, replacing whatever file held it. That is what clears a
    // socket left behind by a dead copy, and why a copy that answers (one that
    // started at the same moment) must be checked for first.
    if (answers(name)) {
        qDebug() << "single instance: another copy answers on" << name << ", running without a guard";
        return;
    }
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(name))
        qDebug() << "single instance: cannot listen on" << name << ":" << server.errorString();
}

} // namespace SingleInstance
