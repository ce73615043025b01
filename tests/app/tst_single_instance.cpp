#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

static const QString program = QStringLiteral(QUORSET_BINARY);

// The guard in this process (where its socket lives, a live one) and between
// real copies of the program (a killed copy's socket). Copies in another
// session are driven by the desktop session script.
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
    void socketPlace_data()
    {
        // "session" is $XDG_RUNTIME_DIR, "fallback" the directory in $TMPDIR; each
        // is made with a mode, as a symlink ("link"), owned by another user
        // ("foreign") or not at all.
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expectedDir");
        auto row = [](const char *name, const char *setup, const char *dir) {
            QTest::newRow(name) << setup << dir;
        };
        row("private session directory", "session 700", "session");
        row("no session directory", "", "fallback");
        row("session directory open to others", "session 755", "fallback");
        row("session directory is a symlink", "session link", "fallback");
        row("session directory missing", "session missing", "fallback");
        row("fallback open to others", "fallback 777", "");
        row("fallback is a symlink", "fallback link", "");
        // Another user's copy without a session directory would meet this
        // user's in the shared temp directory.
        row("fallback owned by another user", "fallback foreign", "");
    }

    void socketPlace()
    {
        QFETCH(QString, setup);
        QFETCH(QString, expectedDir);

        const QString session = scratch->path() + QStringLiteral("/session");
        const QString fallback =
            scratch->path() +
            QStringLiteral("/%1-%2").arg(QCoreApplication::applicationName()).arg(::geteuid());
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

    void liveCopyKeepsItsSocket()
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

    void copyAfterKilledCopyIsGuarded()
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

private:
    // A copy of the program on the offscreen platform, sharing this test's
    // temp directory.
    QProcess *startCopy(const QString &runtimeDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), scratch->path());
        env.insert(QStringLiteral("HOME"), scratch->path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        auto *copy = new QProcess;
        copies << copy;
        copy->setProcessEnvironment(env);
        copy->setProcessChannelMode(QProcess::ForwardedChannels);
        copy->start(program, {});
        if (!copy->waitForStarted(10000))
            qWarning() << "cannot start" << program << copy->errorString();
        return copy;
    }

    static bool answers(const QString &name)
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        return socket.waitForConnected(1000);
    }

    std::unique_ptr<QTemporaryDir> scratch;
    QList<QProcess *> copies;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
