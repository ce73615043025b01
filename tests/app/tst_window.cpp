// The window with no wheel attached (its pages, saved into the screenshot
// folder, the sidebar, the tray, dragging) and the single-instance guard:
// what the desktop session script, on a real X server, cannot reach.
#include "../support/private_runtime_dir.h"
#include "../support/table_rows.h"
#include "../support/window_probe.h"
#include "app/mainwindow.h"
#include "app/platform_ahead.h"
#include "app/single_instance.h"

#include <QApplication>
#include <QDir>
#include <QFocusFrame>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A style sheet that does not parse is dropped with only a warning and the
// widget falls back to the platform look. The guard logs each connection.
QStringList styleWarnings, guardLog;
QtMessageHandler previousHandler = nullptr;

void collectStyleWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("single instance:")))
        guardLog << message;
    if (message.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive))
        styleWarnings << message;
    else if (previousHandler)
        previousHandler(type, context, message);
}

// A frameless window on screen that has settled on the waiting screen
// (ABOUT), with the sidebar opened as an attached wheel's layout would.
struct Window
{
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();

    template<typename T = QPushButton> T *widget(const QString &name) const
    {
        return wheeltest::child<T>(window.get(), name);
    }
    int page() const { return widget<QStackedWidget>(QStringLiteral("stackedWidget"))->currentIndex(); }
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>(); }
    void click(const QString &name) const { QTest::mouseClick(widget(name), Qt::LeftButton); }
    QString state() const
    {
        return !window->isVisible() ? "gone" : window->isMinimized() ? "minimised" : "shown";
    }
    bool show()
    {
        window->setWindowFlags(Qt::FramelessWindowHint);
        window->move(200, 150);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()) || !QTest::qWaitFor([this] { return page() == 4; }))
            return false;
        for (int i = 1; i <= 4; ++i)
            widget(QStringLiteral("pbS%1").arg(i))->setEnabled(true);
        return true;
    }
};

// Before, clicked, the screenshot (empty: none), and a pixel only the page's
// own style sheet paints, which a page shown before its sheet arrived would
// lack ((-1, -1): the waiting INPUTS page shows nothing of its own). A
// second click on a checkable button must not uncheck it.
const QColor kButtonBorder(112, 112, 112);
const std::tuple<const char *, QString, QString, QString, QPoint, QColor> kPages[] = {
    {"INPUTS", "pbS4", "pbS1", "page1-inputs.png", {-1, -1}, {}},
    {"RGB", "pbS1", "pbS2", "page2-rgb.png", {440, 470}, kButtonBorder},            // Save Setting
    {"PADDLES", "pbS1", "pbS3", "page3-paddles.png", {440, 470}, kButtonBorder},    // Save Setting
    {"DEVICE", "pbS5", "pbS4", "page4-device.png", {190, 385}, kButtonBorder},      // CLEAR FLASH DATA
    {"ABOUT", "pbS2", "pbS5", "page5-about.png", {352, 250}, QColor(20, 152, 215)}, // its picture
    {"INPUTS again", "pbS1", "pbS1", "", {-1, -1}, {}}};

// The page, the key that opens it, the Tab stops after the sidebar once round
// the window. Without a wheel the INPUTS page hides all it has; the LED
// buttons stand where the form puts them. An exclusive group of radio buttons
// is one stop (the arrow keys move within it).
constexpr std::tuple<const char *, int, int, const char *> kKeyboard[] = {
    {"INPUTS, Return", 1, Qt::Key_Return, ""},
    {"RGB, Space", 2, Qt::Key_Space,
     "pbB1 hsShifter pbB9 pbXL pbB2 pbB10 pbXR pbTL2 pbT1 pbT2 pbT3 pbT4 pbT5 pbT6 pbT7 pbT8 pbT9 "
     "pbT10 pbT11 pbTR3 pbTR2 pbTL3 pbTR1 pbD3 pbT12 pbT13 pbT14 pbT15 pbT16 pbT17 pbT18 pbT19 pbD4 "
     "pbB3 pbD13 pbB11 pbD23 pbSetW pbSetR pbSet3 pbSet4 pbB4 pbD16 pbTL1 pbD26 pbB12 pbSetG pbB5 "
     "pbB13 pbSet1 pbB6 pbB14 pbSetB pbSet2 pbSetD pbSave"},
    {"PADDLES, Enter", 3, Qt::Key_Enter,
     "cbClutch cbShifter rbPadNo hsBite pbEncoder pbBearLCa pbBearRCa pbBearExLCa pbBearExRCa pbSaveP"},
    {"DEVICE, Return", 4, Qt::Key_Return,
     "lePath pbPath pbAutoUpgrade pbUpgrade pbBackupSettings pbRestoreSettings pbClearFlash"}};

// How the guard is reached while the window sits minimised, whether anyone
// answered, and what became of the window. quorctl looking for the window
// (a probe) leaves it where it is. A window on its way out no longer answers:
// the start waits for it to go instead (TestSingleInstance::startDuringSlowExit).
const std::tuple<const char *, QString, bool, QString> kKnocks[] = {
    {"second start", "show", true, "shown"},
    {"probe", "probe", true, "minimised"},
    {"while closing", "close", false, "gone"}};

// A left press on rows 1 to 49 anchors a drag; moves with the left button held
// follow it, each from the one before. Row, moves, button pressed, buttons
// held in the move, what happens after the press: a move that still reports
// the left button after a release (a missed press) must not move the window.
constexpr int kLeft = Qt::LeftButton;
constexpr std::tuple<const char *, qreal, bool, int, int, const char *> kDrags[] = {
    {"left, row 0", 0, false, kLeft, kLeft, ""},
    {"left, row 1", 1, true, kLeft, kLeft, ""},
    {"left, row 49", 49, true, kLeft, kLeft, ""},
    {"left, row 50", 50, false, kLeft, kLeft, ""},
    {"right, row 25", 25, false, Qt::RightButton, kLeft, ""},
    {"left and right held", 10, true, kLeft, Qt::LeftButton | Qt::RightButton, ""},
    {"move without a button", 10, false, kLeft, Qt::NoButton, ""},
    {"left released", 10, false, kLeft, kLeft, "release left"},
    {"right press cancels", 10, false, kLeft, kLeft, "press right"}};

// Whether the start loads Qt's xcb plugin ahead: the program's arguments
// after its name, the environment, and whether Qt will take that plugin.
const std::tuple<const char *, const char *, const char *, bool> kPlatforms[] = {
    {"Qt's default", "", "", true},
    {"Wayland session", "", "XDG_SESSION_TYPE=wayland", false},
    {"xcb asked on a Wayland session", "", "QT_QPA_PLATFORM=xcb XDG_SESSION_TYPE=wayland", true},
    {"offscreen", "", "QT_QPA_PLATFORM=offscreen", false},
    {"xcb with an option", "", "QT_QPA_PLATFORM=xcb:nomitshm", true},
    {"Wayland first in a list", "", "QT_QPA_PLATFORM=wayland;xcb", false},
    {"argument over environment", "-platform xcb", "QT_QPA_PLATFORM=offscreen", true},
    {"double-dash argument", "--platform offscreen", "", false},
    {"argument without a value", "-platform", "", true},
    {"user's plugin folder", "", "QT_PLUGIN_PATH=/opt/plugins", false},
    {"user's platform folder", "", "QT_QPA_PLATFORM_PLUGIN_PATH=/opt/platforms", false},
    {"platform folder argument", "-platformpluginpath /opt/platforms", "", false}};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(collectStyleWarnings); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void pages_data() { wheeltest::addRows(kPages); }
    void pages()
    {
        const auto &[tag, before, clicked, file, styled, colour] = wheeltest::rowOf(kPages);
        Window w;
        QVERIFY(w.show());
        w.click(before);
        w.click(clicked);
        const int page = clicked.right(1).toInt();
        QCOMPARE(w.page(), page - 1);

        const QImage shot = w.window->grab().toImage();
        QCOMPARE(shot.size(), QSize(900, 500));
        if (!file.isEmpty())
            QVERIFY(shot.save(QDir(QStringLiteral(QUORSET_SCREENSHOT_DIR)).filePath(file)));
        QVERIFY2(styleWarnings.isEmpty(), qPrintable(styleWarnings.join(QLatin1Char('\n'))));
        // The dark background between the sidebar and the pages, and the header
        // band, which is a picture.
        QCOMPARE(shot.pixelColor(135, 300), QColor(26, 25, 25));
        QVERIFY(shot.pixelColor(60, 40) != QColor(26, 25, 25));
        if (styled.x() >= 0)
            QCOMPARE(shot.pixelColor(styled), colour);
        // Pages that came on screen (the waiting ABOUT page, then the two
        // clicked) are polished through and through; the others have cost
        // no polish yet.
        const QString shown = QStringLiteral("5") + before.right(1) + clicked.right(1);
        auto *stack = w.widget<QStackedWidget>(QStringLiteral("stackedWidget"));
        for (int i = 0; i < stack->count(); ++i) {
            const QList<QWidget *> all = stack->widget(i)->findChildren<QWidget *>() << stack->widget(i);
            const auto polished = std::count_if(all.cbegin(), all.cend(), [](QWidget *x) {
                return x->testAttribute(Qt::WA_WState_Polished);
            });
            QCOMPARE(polished, shown.contains(QString::number(i + 1)) ? all.size() : 0);
        }
        // The path field's 11 pt comes with its page's sheet.
        if (page == 4)
            QCOMPARE(w.widget<QLineEdit>(QStringLiteral("lePath"))->font().pointSize(), 11);
        // Only the current page's sidebar button is checked, and lit with its
        // blue gradient.
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(w.widget(QStringLiteral("pbS%1").arg(i))->isChecked(), i == page);
            const QColor c = shot.pixelColor(10, 80 + 84 * (i - 1) + 70);
            QCOMPARE(c.blue() > 80 && c.blue() > c.red() + 40, i == page);
        }
    }

    void keyboard_data() { wheeltest::addRows(kKeyboard); }
    // Without a mouse: Tab reaches the sidebar from the header's buttons, a
    // key opens the page, and Tab then walks the page's controls line by
    // line, left to right, back to the header.
    void keyboard()
    {
        const auto &[tag, page, key, stops] = wheeltest::rowOf(kKeyboard);
        Window w;
        QVERIFY(w.show());
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        w.widget(QStringLiteral("pbClose"))->setFocus();
        const QString target = QStringLiteral("pbS%1").arg(page);
        for (int i = 0; i < 6 && QApplication::focusWidget()->objectName() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), target);
        // A ring marks where Tab went; the buttons' own looks show no focus.
        const auto *ring = w.window->findChild<QFocusFrame *>();
        QVERIFY(ring && ring->isVisible());
        QCOMPARE(ring->widget(), w.widget(target));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(w.page(), page - 1);
        // The mouse needs no ring.
        w.click(target);
        QVERIFY(!ring->widget() && !ring->isVisible());

        w.widget(QStringLiteral("pbS5"))->setFocus();
        QStringList walked;
        for (int i = 0; i < 60; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            const QString name = QApplication::focusWidget()->objectName();
            if (name == QLatin1String("pbStatus") || name == QLatin1String("pbMin"))
                break;
            walked << name;
        }
        QCOMPARE(walked.join(QLatin1Char(' ')), QString::fromLatin1(stops));
    }

    void secondStart_data() { wheeltest::addRows(kKnocks); }

    // A second start sends one line on the guard socket, and that brings the
    // window back, also after more connections than the guard server keeps
    // pending. Offscreen there is no tray host, so minimising leaves the
    // window on the task bar; the desktop session script drives a real tray.
    void secondStart()
    {
        const auto &[tag, knock, answered, after] = wheeltest::rowOf(kKnocks);
        Window w;
        QVERIFY(w.show());
        // The icon file really loads (a missing picture still makes a QIcon).
        QVERIFY(w.tray() && !w.tray()->icon().pixmap(32, 32).isNull());
        for (int i = 0; i < 40; ++i) {
            QVERIFY(isInstanceRunning());
            QCoreApplication::processEvents();
        }
        w.click(QStringLiteral("pbMin"));
        QCOMPARE(w.state(), QStringLiteral("minimised"));
        if (knock == QLatin1String("close"))
            w.click(QStringLiteral("pbClose"));

        guardLog.clear();
        if (knock == QLatin1String("probe")) {
            QCOMPARE(isInstanceRunning(), answered);
            QTRY_VERIFY(guardLog.contains(QStringLiteral("single instance: found by a probe")));
        } else {
            QCOMPARE(SingleInstance::showRunningInstance(), answered);
        }
        QTRY_COMPARE(w.state(), after);
        QVERIFY(!w.tray()->isVisible());
    }

    void platformAhead_data() { wheeltest::addRows(kPlatforms); }
    void platformAhead()
    {
        const auto &[tag, arguments, environment, loaded] = wheeltest::rowOf(kPlatforms);
        QList<QByteArray> argv{"quorset"};
        if (*arguments)
            argv += QByteArray(arguments).split(' ');
        QHash<QByteArray, QByteArray> variables;
        for (const QByteArray &variable : QByteArray(environment).split(' '))
            variables.insert(variable.split('=').value(0), variable.split('=').value(1));
        QCOMPARE(PlatformAhead::startsOnXcb(argv, [&](const char *name) { return variables.value(name); }),
                 loaded);
    }

    void drag_data() { wheeltest::addRows(kDrags); }
    void drag()
    {
        const auto &[tag, row, moves, button, held, between] = wheeltest::rowOf(kDrags);
        Window w;
        QVERIFY(w.show());
        QTRY_COMPARE(w.window->pos(), QPoint(200, 150));
        const QPoint start = w.window->pos();
        // Sent straight to the window, the way presses no child consumed arrive.
        QPointF pointer;
        auto send = [&](QEvent::Type type, QPointF global, Qt::MouseButton b, Qt::MouseButtons buttons) {
            pointer = global;
            const QPointF local = global - QPointF(w.window->geometry().topLeft());
            QMouseEvent event(type, local, local, global, b, buttons, Qt::NoModifier);
            QApplication::sendEvent(w.window.get(), &event);
        };
        auto press = [&](qreal y, Qt::MouseButton b) {
            send(QEvent::MouseButtonPress, w.window->geometry().topLeft() + QPointF(450.5, y), b, b);
        };
        auto release = [&] {
            send(QEvent::MouseButtonRelease, pointer, Qt::LeftButton, Qt::NoButton);
        };

        press(row, Qt::MouseButton(button));
        if (qstrcmp(between, "release left") == 0)
            release();
        else if (qstrcmp(between, "press right") == 0)
            press(row, Qt::RightButton);
        send(QEvent::MouseMove, pointer + QPointF(30, 20), Qt::NoButton, Qt::MouseButtons(held));
        release();
        // A drag known to work, so the check waits for every event before it.
        QCoreApplication::processEvents();
        press(20, Qt::LeftButton);
        send(QEvent::MouseMove, pointer + QPointF(7, 3), Qt::NoButton, Qt::LeftButton);
        release();
        QTRY_COMPARE(w.window->pos(), start + (moves ? QPoint(30, 20) : QPoint()) + QPoint(7, 3));
    }

private:
    PrivateRuntimeDir runtimeDir;
};

namespace {

// "session" is $XDG_RUNTIME_DIR, "fallback" the directory in $TMPDIR; each is
// made with a mode, as a symlink ("link"), owned by another user ("foreign",
// whose copy without a session directory would meet this user's in the
// shared temp directory) or not at all. Then where the guard goes.
const std::tuple<const char *, QString, QString> kSocketPlaces[] = {
    {"private session directory", "session 700", "session"},
    {"no session directory", "", "fallback"},
    {"session directory open to others", "session 755", "fallback"},
    {"session directory is a symlink", "session link", "fallback"},
    {"session directory missing", "session missing", "fallback"},
    {"fallback open to others", "fallback 777", ""},
    {"fallback is a symlink", "fallback link", ""},
    {"fallback owned by another user", "fallback foreign", ""}};

} // namespace

static const QString program = QStringLiteral(QUORSET_BINARY);

// The guard in this process (where its socket lives, a copy beside a live
// one) and between real copies of the program (a killed copy's socket, a
// closing copy, another user's). Copies in another session are driven by the
// desktop session script.
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
    void socketPlace_data() { wheeltest::addRows(kSocketPlaces); }
    void socketPlace()
    {
        const auto &[tag, setup, expectedDir] = wheeltest::rowOf(kSocketPlaces);
        const QString session = scratch->path() + QStringLiteral("/session");
        const QString fallback =
            scratch->path() + '/' + QCoreApplication::applicationName() + '-' + QString::number(::geteuid());
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
        QVERIFY(::lstat(QFile::encodeName(guardDir).constData(), &info) == 0 && S_ISDIR(info.st_mode));
        QCOMPARE(int(info.st_mode & 0777), 0700);

        QLocalServer server;
        SingleInstance::startGuardServer(server);
        QVERIFY(server.isListening());
        QVERIFY(::lstat(QFile::encodeName(name).constData(), &info) == 0 && S_ISSOCK(info.st_mode));
        QCOMPARE(int(info.st_mode & 0077), 0);
        // A copy whose start-up probe came too early must not take the name
        // over: the first copy still answers there.
        QLocalServer second;
        SingleInstance::startGuardServer(second);
        QVERIFY(!second.isListening());
        QVERIFY(isInstanceRunning());
    }

    void copyAfterKilledCopyIsGuarded()
    {
        QVERIFY(QDir().mkdir(run(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString socket = run() + QStringLiteral("/quorset");
        QProcess *crashed = startCopy(run());
        QTRY_VERIFY_WITH_TIMEOUT(answers(socket), 20000);
        crashed->kill();
        QVERIFY(crashed->waitForFinished(10000));
        QVERIFY2(QFileInfo::exists(socket), "a killed copy should leave its socket behind");
        QVERIFY(!answers(socket));

        // Answering at the name is what refuses the next start (the desktop
        // session checks that refusal's exit status).
        QProcess *next = startCopy(run());
        QTRY_VERIFY_WITH_TIMEOUT(answers(socket), 20000);
        QCOMPARE(next->state(), QProcess::Running);
    }

    // A copy on its way out has stopped answering but holds its life lock
    // until its process ends (here the test holds it for it). A start
    // meanwhile waits, and runs once the lock is free: one window, not none.
    void startDuringSlowExit()
    {
        QVERIFY(QDir().mkdir(run(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString socket = run() + QStringLiteral("/quorset");
        QLockFile closing(run() + QStringLiteral("/quorset.running"));
        QVERIFY(closing.tryLock(0));
        QProcess *next = startCopy(run(), {}, QProcess::MergedChannels);
        QByteArray output;
        const auto toldOrGone = [&] {
            output += next->readAll();
            return output.contains("waiting for a closing copy to go") || next->state() != QProcess::Running;
        };
        QTRY_VERIFY_WITH_TIMEOUT(toldOrGone(), 20000);
        QCOMPARE(next->state(), QProcess::Running);
        QVERIFY(!answers(socket));
        closing.unlock();
        QTRY_VERIFY_WITH_TIMEOUT(answers(socket), 20000);
        QCOMPARE(next->state(), QProcess::Running);
    }

    // The guard's socket is this user's alone: another user's copy, meeting
    // it in the shared temp directory, neither takes it over nor reaches it.
    void copyOfAnotherUserCannotReachTheSocket()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to start a copy as another user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("needs setpriv to start a copy as another user");
        const QStringList nobody{setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
        if (QProcess::execute(setpriv, nobody.mid(1) + QStringList{"test", "-x", program}))
            QSKIP("the program is not reachable for another user here");

        QVERIFY(::chmod(QFile::encodeName(scratch->path()).constData(), 01777) == 0);
        QProcess *first = startCopy(QString());
        const QString firstSocket = scratch->path() + QStringLiteral("/quorset-0/quorset");
        QTRY_VERIFY_WITH_TIMEOUT(answers(firstSocket), 20000);

        QProcess *other = startCopy(QString(), nobody);
        QTRY_VERIFY_WITH_TIMEOUT(answers(scratch->path() + QStringLiteral("/quorset-65534/quorset")), 20000);
        QCOMPARE(other->state(), QProcess::Running);
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(QProcess::execute(setpriv, nobody.mid(1) + QStringList{"test", "-w", firstSocket}) != 0);
    }

private:
    // A copy of the program on the offscreen platform, sharing this test's
    // temp directory; asUser, when given, is the command that starts it as
    // someone else.
    QProcess *startCopy(const QString &runtimeDir, const QStringList &asUser = {},
                        QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", scratch->path());
        env.insert("HOME", scratch->path());
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("QT_LOGGING_RULES", "default.debug=true");
        auto *copy = new QProcess;
        copies << copy;
        copy->setProcessEnvironment(env);
        copy->setProcessChannelMode(channels);
        const QStringList command = asUser + QStringList{program};
        copy->start(command.first(), command.mid(1));
        if (!copy->waitForStarted(10000))
            qWarning() << "cannot start" << program << copy->errorString();
        return copy;
    }

    QString run() const { return scratch->path() + QStringLiteral("/run"); }
    static bool answers(const QString &name)
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        return socket.waitForConnected(1000);
    }

    std::unique_ptr<QTemporaryDir> scratch;
    QList<QProcess *> copies;
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindow window;
    TestSingleInstance instance;
    return QTest::qExec(&window, argc, argv) | QTest::qExec(&instance, argc, argv);
}

#include "tst_window.moc"
