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
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

// The guard in this process (where its socket lives, a live one) and between
// real copies of the program (a killed copy's socket, another user's copy).
// Copies in another session are driven by the desktop session script.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        scratch = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch->isValid());
        qputenv("TMPDIR", scratch->path().toLocal8Bit());
        qunsetenv("XDG_RUNTIME_DIR");
    }
    void cleanup()
    {
        for (QProcess *copy : std::as_const(copies)) {
            copy->kill();
            copy->waitForFinished(10000);
        }
        qDeleteAll(copies);
        copies.clear();
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("TMPDIR");
        scratch.reset();
    }
    void socketPlace_data();
    void socketPlace();
    void liveCopyKeepsItsSocket();
    void copyAfterKilledCopyIsGuarded();
    void copyOfAnotherUserIsNotRefused();

private:
    QProcess *startCopy(const QString &runtimeDir, const QStringList &asUser = {});
    static bool answers(const QString &name);

    std::unique_ptr<QTemporaryDir> scratch;
    QList<QProcess *> copies;
};

static const QString program = QStringLiteral(QUORSET_BINARY);

bool TestSingleInstance::answers(const QString &name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    return socket.waitForConnected(1000);
}

void TestSingleInstance::socketPlace_data()
{
    // "session" is $XDG_RUNTIME_DIR, "fallback" the directory in $TMPDIR; each
    // is made with a mode, as a symlink ("link"), owned by another user
    // ("foreign") or not at all.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expectedDir");
    QTest::newRow("private session directory") << "session 700"
                                               << "session";
    QTest::newRow("no session directory") << ""
                                          << "fallback";
    QTest::newRow("session directory open to others") << "session 755"
                                                      << "fallback";
    QTest::newRow("session directory is a symlink") << "session link"
                                                    << "fallback";
    QTest::newRow("session directory missing") << "session missing"
                                               << "fallback";
    QTest::newRow("fallback open to others") << "fallback 777"
                                             << "";
    QTest::newRow("fallback is a symlink") << "fallback link"
                                           << "";
    QTest::newRow("fallback owned by another user") << "fallback foreign"
                                                    << "";
}

void TestSingleInstance::socketPlace()
{
    QFETCH(QString, setup);
    QFETCH(QString, expectedDir);

    const QString session = scratch->path() + QStringLiteral("/session");
    const QString fallback =
        scratch->path() + QStringLiteral("/%1-%2").arg(QCoreApplication::applicationName()).arg(::geteuid());
    const QString elsewhere = scratch->path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkdir(elsewhere));
    const QStringList how = setup.split(QLatin1Char(' '));
    const QString dir = how[0] == QLatin1String("session") ? session : fallback;
    if (how[0] == QLatin1String("session"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(session));
    const QByteArray path = QFile::encodeName(dir);
    if (how.value(1) == QLatin1String("link")) {
        QVERIFY(QFile::link(elsewhere, dir));
    } else if (how.value(1) == QLatin1String("foreign")) {
        if (::geteuid() != 0)
            QSKIP("needs root to make a directory owned by another user");
        QVERIFY(::mkdir(path.constData(), 0700) == 0 && ::chown(path.constData(), 65534, 65534) == 0);
    } else if (how.size() > 1 && how[1] != QLatin1String("missing")) {
        QVERIFY(::mkdir(path.constData(), 0700) == 0);
        QVERIFY(::chmod(path.constData(), mode_t(how[1].toUInt(nullptr, 8))) == 0);
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

    const QString guardDir = expectedDir == QLatin1String("session") ? session : fallback;
    QCOMPARE(name, guardDir + QLatin1Char('/') + QCoreApplication::applicationName());
    struct stat info;
    QVERIFY(::lstat(QFile::encodeName(guardDir).constData(), &info) == 0);
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
