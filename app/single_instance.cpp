#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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
// A connection that sends "show", optionally followed by the launcher's
// tokens as NAME=value words, and a newline asks for the window; one that
// sends nothing (quorctl looking whether the window runs) only finds it. The
// tokens let a Wayland compositor (XDG_ACTIVATION_TOKEN) or an X11 window
// manager (DESKTOP_STARTUP_ID) hand the focus over: they were given to the
// start the user made, not to the copy that has been running all along.
//
// Unix sockets outlive a process that is killed, so a name can be taken by a
// file that nobody answers on; startGuardServer() replaces such a leftover
// after checking that nobody answers on it. The socket name is still the
// application name on both sides, so a copy started from a renamed
// executable is a different program as far as the guard is concerned.

namespace SingleInstance {

namespace {

constexpr int probeTimeoutMs = 100;
// How long a start waits for a closing copy to go. A closing copy may still
// be finishing a firmware update, which it bounds to a few seconds.
constexpr int closingWaitMs = 10000;
constexpr int closingPollMs = 100;
// A guard connection that neither speaks nor goes is dropped after this.
constexpr int requestTimeoutMs = 1000;
constexpr qsizetype maxRequestBytes = 4096;
const QByteArray showWord = QByteArrayLiteral("show");

bool isPrivateDirectory(const QString &path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString privateRuntimeDirectory(const QString &program)
{
    const QString session = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!session.isEmpty() && isPrivateDirectory(session))
        return session;

    const QString fallback =
        QDir::tempPath() + QLatin1Char('/') + program + QLatin1Char('-') + QString::number(::geteuid());
    // An existing directory is fine as long as it passes the check below.
    ::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU);
    if (isPrivateDirectory(fallback))
        return fallback;
    return QString();
}

bool answers(const QString &name, const QByteArray &message = QByteArray())
{
    QLocalSocket socket;
    socket.connectToServer(name, QIODevice::ReadWrite);
    if (!socket.waitForConnected(probeTimeoutMs))
        return false;
    if (!message.isEmpty()) {
        socket.write(message);
        socket.waitForBytesWritten(probeTimeoutMs);
    }
    return true;
}

// The tokens the launcher gave this start, as "NAME=value" words. Spaces
// or line ends would break the request's one line, and no real token has
// them. Read before main runs: the X11 platform takes DESKTOP_STARTUP_ID out
// of the environment when it connects.
const std::array<const char *, 2> tokenVariables{"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"};

QByteArray readLauncherTokens()
{
    QByteArray words;
    for (const char *variable : tokenVariables) {
        const QByteArray token = qgetenv(variable).trimmed();
        if (!token.isEmpty() && !token.contains(' ') && !token.contains('\n'))
            words += ' ' + QByteArray(variable) + '=' + token;
    }
    return words;
}

const QByteArray launcherTokens = readLauncherTokens();

bool processLives(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

QString guardServerName()
{
    const QString dir = privateRuntimeDirectory(QCoreApplication::applicationName());
    if (dir.isEmpty())
        return QString();
    return dir + QLatin1Char('/') + QCoreApplication::applicationName();
}

// Named after quorctl, which holds it, whichever program asks.
QString wheelLockName()
{
    const QString commandLine = QStringLiteral("quorctl");
    const QString dir = privateRuntimeDirectory(commandLine);
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + commandLine + QStringLiteral(".lock");
}

bool wheelHeldByCommand()
{
    const QString name = wheelLockName();
    if (name.isEmpty())
        return false;
    // Only read: taking the lock even for a moment could turn away a quorctl
    // command starting at that moment. A command that was killed leaves its
    // file behind with a pid that no longer runs.
    qint64 pid = 0;
    QString host;
    QString application;
    return QLockFile(name).getLockInfo(&pid, &host, &application) && processLives(pid);
}

bool isInstanceRunning()
{
    const QString name = guardServerName();
    if (name.isEmpty())
        return false;
    return answers(name);
}

bool showRunningInstance()
{
    const QString name = guardServerName();
    if (name.isEmpty())
        return false;
    return answers(name, showWord + launcherTokens + '\n');
}

// The life lock is a kernel lock on a file beside the guard socket. The
// kernel lets go of it when the process ends, however it ends, so no lock is
// ever left behind to be judged stale; and a lock is no file content, so
// nothing is synced to disk (the two syncs of a lock file cost a start 10 to
// 30 ms where the directory lies on a disk). Copies from before held a
// QLockFile on the same file, which takes the same kernel lock, so the two
// kinds still keep each other out.
class LifeLock
{
public:
    explicit LifeLock(const QString &path) : path_(QFile::encodeName(path)) {}
    ~LifeLock() { release(); }
    LifeLock(const LifeLock &) = delete;
    LifeLock &operator=(const LifeLock &) = delete;

    // False only while another process holds the lock. A file that cannot
    // be opened at all guards nothing, and waiting would not change that.
    bool tryLock()
    {
        // A QLockFile deletes its file as it lets go, and a lock on a
        // deleted file would keep nobody out: the file locked must still be
        // the one at the path, else the new one there is locked instead.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (fd_ < 0)
                fd_ = ::open(path_.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
            if (fd_ < 0) {
                qDebug() << "single instance: cannot open" << path_ << ":" << qt_error_string(errno)
                         << ", running without the life lock";
                return true;
            }
            if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
                return false;
            if (stillNamed())
                return true;
            release();
        }
        return false;
    }

    const QByteArray &path() const { return path_; }

private:
    bool stillNamed() const
    {
        struct stat held, named;
        return ::fstat(fd_, &held) == 0 && ::stat(path_.constData(), &named) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    void release()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    QByteArray path_;
    int fd_ = -1;
};

Start::Start() = default;
Start::Start(Start &&) noexcept = default;
Start::~Start() = default;

// A copy holds its life lock from here until its process ends, and answers
// on the guard socket from its window's construction until it starts to
// close. So a lock held with nobody answering is a copy on its way out (or
// one that is just starting, which will answer in a moment): wait for it,
// asking again all the while, and after the wait run in any case rather than
// leave the user with nothing.
Start claimOrHandOver()
{
    Start start;
    const QString guard = guardServerName();
    if (guard.isEmpty())
        return start;
    auto life = std::make_unique<LifeLock>(guard + QStringLiteral(".running"));
    const QDeadlineTimer deadline(closingWaitMs);
    bool told = false;
    for (;;) {
        if (showRunningInstance()) {
            start.handedOver = true;
            return start;
        }
        if (life->tryLock()) {
            start.life = std::move(life);
            return start;
        }
        if (deadline.hasExpired()) {
            qDebug() << "single instance: the copy holding" << life->path() << "did not go, starting anyway";
            return start;
        }
        if (!told) {
            qDebug() << "single instance: waiting for a closing copy to go";
            told = true;
        }
        QThread::msleep(closingPollMs);
    }
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

GuardRequests::GuardRequests(QLocalServer &server, QObject *parent) : QObject(parent), server_(server)
{
    connect(&server_, &QLocalServer::newConnection, this, &GuardRequests::onNewConnection);
}

// Connections left pending would fill the server's queue, and it stops
// announcing new ones; so every one is taken at once, and one that neither
// speaks nor goes is dropped after a while.
void GuardRequests::onNewConnection()
{
    while (QLocalSocket *socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        // Gone without a word: quorctl (or another probe) only looked.
        connect(socket, &QLocalSocket::disconnected, this,
                [] { qDebug() << "single instance: found by a probe"; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(requestTimeoutMs, socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void GuardRequests::read(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(maxRequestBytes).trimmed();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    const QList<QByteArray> words = line.split(' ');
    if (words.value(0) != showWord) {
        qDebug() << "single instance: ignoring request" << line.left(40);
        return;
    }
    qDebug() << "single instance: a second start asks for the window" << line.mid(showWord.size()).trimmed();
    std::array<QString, tokenVariables.size()> tokens;
    for (const QByteArray &word : words.mid(1)) {
        for (size_t i = 0; i < tokenVariables.size(); ++i) {
            const QByteArray prefix = QByteArray(tokenVariables[i]) + '=';
            if (word.startsWith(prefix))
                tokens[i] = QString::fromLatin1(word.mid(prefix.size()));
        }
    }
    emit showRequested(tokens[0], tokens[1]);
}

} // namespace SingleInstance
