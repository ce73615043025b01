#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// The guard in this process (where its socket lives, a live one) and between
// real copies of the program (a killed copy's socket, another user's copy).
// Copies in another session are driven by the desktop session script.
class TestSingleInstance : public QObject
{
    Q_OBJECT

public:
    enum Setup
    {
        SessionPrivate,
        SessionUnset,
        SessionOpenToOthers,
        SessionSymlink,
        SessionMissing,
        FallbackOpenToOthers,
        FallbackSymlink,
        FallbackForeignOwner,
    };
    Q_ENUM(Setup)

private slots:
    void init();
    void cleanup();
    void socketPlace_data();
    void socketPlace();
    void liveCopyKeepsItsSocket();
    void copyAfterKilledCopyIsGuarded();
    void copyOfAnotherUserIsNotRefused();

private:
    QProcess *startCopy(const QString &runtimeDir, const QStringList &asUser = {});
    static bool answers(const QString &name);

    QTemporaryDir *scratch = nullptr;
    QList<QProcess *> copies;
};

static const QString program = QStringLiteral(QUORSET_BINARY);

void TestSingleInstance::init()
{
    scratch = new QTemporaryDir;
    QVERIFY(scratch->isValid());
    qputenv("TMPDIR", scratch->path().toLocal8Bit());
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestSingleInstance::cleanup()
{
    for (QProcess *copy : std::as_const(copies)) {
        copy->kill();
        copy->waitForFinished(10000);
        delete copy;
    }
    copies.clear();
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("TMPDIR");
    delete scratch;
    scratch = nullptr;
}

bool TestSingleInstance::answers(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    return socket.waitForConnected(1000);
}

void TestSingleInstance::socketPlace_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("expectedDir");

    // "session" is $XDG_RUNTIME_DIR, "fallback" the directory in $TMPDIR.
    QTest::newRow("private session directory") << SessionPrivate << "session";
    QTest::newRow("no session directory") << SessionUnset << "fallback";
    QTest::newRow("session directory open to others") << SessionOpenToOthers << "fallback";
    QTest::newRow("session directory is a symlink") << SessionSymlink << "fallback";
    QTest::newRow("session directory missing") << SessionMissing << "fallback";
    QTest::newRow("fallback open to others") << FallbackOpenToOthers << "";
    QTest::newRow("fallback is a symlink") << FallbackSymlink << "";
    QTest::newRow("fallback owned by another user") << FallbackForeignOwner << "";
}

void TestSingleInstance::socketPlace()
{
    QFETCH(Setup, setup);
    QFETCH(QString, expectedDir);

    const QString session = scratch->path() + QStringLiteral("/session");
    const QString fallback =
        scratch->path() + QStringLiteral("/%1-%2").arg(QCoreApplication::applicationName()).arg(::geteuid());
    const QString elsewhere = scratch->path() + QStringLiteral("/elsewhere");
    auto makeDir = [](const QString &dir, mode_t mode) {
        return ::mkdir(QFile::encodeName(dir).constData(), 0700) == 0 &&
               ::chmod(QFile::encodeName(dir).constData(), mode) == 0;
    };
    QVERIFY(makeDir(elsewhere, 0700));
    if (setup == FallbackForeignOwner && ::geteuid() != 0)
        QSKIP("needs root to make a directory owned by another user");
    if (setup <= SessionMissing && setup != SessionUnset)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(session));
    switch (setup) {
    case SessionPrivate:
        QVERIFY(makeDir(session, 0700));
        break;
    case SessionOpenToOthers:
        QVERIFY(makeDir(session, 0755));
        break;
    case SessionSymlink:
        QVERIFY(QFile::link(elsewhere, session));
        break;
    case FallbackOpenToOthers:
        QVERIFY(makeDir(fallback, 0777));
        break;
    case FallbackSymlink:
        QVERIFY(QFile::link(elsewhere, fallback));
        break;
    case FallbackForeignOwner:
        QVERIFY(makeDir(fallback, 0700));
        QVERIFY(::chown(QFile::encodeName(fallback).constData(), 65534, 65534) == 0);
        break;
    default:
        break;
    }

    const QString name = SingleInstance::guardServerName();
    if (expectedDir.isEmpty()) {
        QCOMPARE(name, QString());
        // No guard at all: the probe says nobody runs and nothing listens.
        QVERIFY(!isInstanceRunning());
        QLocalServer server;
        SingleInstance::startGuardServer(server);
        QVERIFY(!server.isListening());
        return;
    }

    const QString dir = expectedDir == QLatin1String("session") ? session : fallback;
    QCOMPARE(name, dir + QLatin1Char('/') + QCoreApplication::applicationName());
    struct stat info;
    QVERIFY(::lstat(QFile::encodeName(dir).constData(), &info) == 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(int(info.st_mode & 0777), 0700);

    QLocalServer server;
    SingleInstance::startGuardServer(server);
    QVERIFY(server.isListening());
    QVERIFY(::lstat(QFile::encodeName(name).constData(), &info) == 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(int(info.st_mode & 0077), 0);
    QVERIFY(isInstanceRunning());
}

void TestSingleInstance::liveCopyKeepsItsSocket()
{
    QLocalServer first;
    SingleInstance::startGuardServer(first);
    QVERIFY(first.isListening());
    QSignalSpy toFirst(&first, SIGNAL(newConnection()));

    // A copy whose start-up probe came too early must not take the name over.
    QLocalServer second;
    SingleInstance::startGuardServer(second);
    QVERIFY(!second.isListening());

    // Its probe reached the first copy, and so does the next start's.
    QTRY_COMPARE(toFirst.count(), 1);
    QVERIFY(isInstanceRunning());
    QTRY_COMPARE(toFirst.count(), 2);
}

// A copy of the program on the offscreen platform, sharing this test's temp
// directory; without a runtime directory it has no session directory.
QProcess *TestSingleInstance::startCopy(const QString &runtimeDir, const QStringList &asUser)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), scratch->path());
    env.insert(QStringLiteral("HOME"), scratch->path());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!runtimeDir.isEmpty())
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    auto *copy = new QProcess;
    copies << copy;
    copy->setProcessEnvironment(env);
    copy->setProcessChannelMode(QProcess::ForwardedChannels);
    if (asUser.isEmpty())
        copy->start(program, {});
    else
        copy->start(asUser.first(), asUser.mid(1) << program);
    if (!copy->waitForStarted(10000))
        qWarning() << "cannot start" << program << copy->errorString();
    return copy;
}

void TestSingleInstance::copyAfterKilledCopyIsGuarded()
{
    const QString run = scratch->path() + QStringLiteral("/run");
    QVERIFY(QDir().mkdir(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString socket = run + QStringLiteral("/quorset");

    QProcess *crashed = startCopy(run);
    QTRY_VERIFY_WITH_TIMEOUT(answers(socket), 20000);
    crashed->kill();
    QVERIFY(crashed->waitForFinished(10000));
    QVERIFY2(QFileInfo::exists(socket), "a killed copy should leave its socket behind");
    QVERIFY(!answers(socket));

    QProcess *next = startCopy(run);
    QTRY_VERIFY_WITH_TIMEOUT(answers(socket), 20000);
    QCOMPARE(next->state(), QProcess::Running);

    QProcess *refused = startCopy(run);
    QVERIFY(refused->waitForFinished(20000));
    QCOMPARE(refused->exitStatus(), QProcess::NormalExit);
    QCOMPARE(refused->exitCode(), 239); // -17 as an exit status
    QCOMPARE(next->state(), QProcess::Running);
}

void TestSingleInstance::copyOfAnotherUserIsNotRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to start a copy as another user");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        QSKIP("needs setpriv to start a copy as another user");
    if (!QFileInfo(program).isExecutable() ||
        QProcess::execute(setpriv,
                          {"--reuid=65534", "--regid=65534", "--clear-groups", "test", "-x", program}))
        QSKIP("the program is not reachable for another user here");

    // Both users without a session directory and with one shared temp
    // directory: the first user's socket sits right beside the second's.
    QVERIFY(::chmod(QFile::encodeName(scratch->path()).constData(), 01777) == 0);
    QProcess *first = startCopy(QString());
    const QString firstSocket = scratch->path() + QStringLiteral("/quorset-0/quorset");
    QTRY_VERIFY_WITH_TIMEOUT(answers(firstSocket), 20000);

    QProcess *other = startCopy(QString(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    QTRY_VERIFY_WITH_TIMEOUT(answers(scratch->path() + QStringLiteral("/quorset-65534/quorset")), 20000);
    QCOMPARE(other->state(), QProcess::Running);
    QCOMPARE(first->state(), QProcess::Running);

    // And the second user cannot even open the first user's socket.
    const int reached = QProcess::execute(
        setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "test", "-w", firstSocket});
    QVERIFY(reached != 0);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
