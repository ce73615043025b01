#include "app/mainwindow.h"
#include "private_runtime_dir.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

// Page switching through the sidebar, the window as it first appears, and
// closing it. No wheel is attached here, so every window settles on the
// waiting screen first; the sidebar tests then enable the buttons the way the
// model layout does once a wheel is connected.
class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void startsOnInputsPage();
    void sidebarButtonShowsItsPage_data();
    void sidebarButtonShowsItsPage();
    void foreignSender_data();
    void foreignSender();
    void closeButtonClosesWindow();

private:
    static QStringList checkedSidebarButtons(const MainWindow &w);
    static QPushButton *button(const MainWindow &w, const QString &name);
    static QStackedWidget *pages(const MainWindow &w);
    static bool settleAsConnected(MainWindow &w);

    PrivateRuntimeDir runtimeDir;
};

QStringList TestNavigation::checkedSidebarButtons(const MainWindow &w)
{
    QStringList checked;
    for (int i = 1; i <= 5; ++i) {
        const QString name = QStringLiteral("pbS%1").arg(i);
        if (button(w, name)->isChecked())
            checked << name;
    }
    return checked;
}

QPushButton *TestNavigation::button(const MainWindow &w, const QString &name)
{
    auto *b = w.findChild<QPushButton *>(name);
    if (!b)
        qFatal("no push button %s in the window", qPrintable(name));
    return b;
}

QStackedWidget *TestNavigation::pages(const MainWindow &w)
{
    auto *s = w.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    if (!s)
        qFatal("no stackedWidget in the window");
    return s;
}

// Waits until the waiting screen has shown ABOUT, then enables the sidebar
// as the layout of an attached wheel would.
bool TestNavigation::settleAsConnected(MainWindow &w)
{
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return false;
    if (!QTest::qWaitFor([&w] { return pages(w)->currentWidget()->objectName() == QLatin1String("page5"); }))
        return false;
    for (int i = 1; i <= 4; ++i)
        button(w, QStringLiteral("pbS%1").arg(i))->setEnabled(true);
    return true;
}

void TestNavigation::startsOnInputsPage()
{
    MainWindow w;
    // The form leaves another page current; construction selects INPUTS and
    // only then, from the event loop, the waiting screen switches to ABOUT.
    QCOMPARE(pages(w)->currentWidget()->objectName(), QStringLiteral("page1"));
    QCOMPARE(checkedSidebarButtons(w), QStringList{QStringLiteral("pbS1")});
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("lbCurVer"))->text(),
             QStringLiteral("QuorSet Version: v1.27"));
    w.show();
    QTRY_COMPARE(pages(w)->currentWidget()->objectName(), QStringLiteral("page5"));
    QCOMPARE(checkedSidebarButtons(w), QStringList{QStringLiteral("pbS5")});
    QVERIFY(button(w, QStringLiteral("pbStatus"))->isVisible());
}

void TestNavigation::sidebarButtonShowsItsPage_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("page");

    QTest::newRow("INPUTS from DEVICE") << "pbS4"
                                        << "pbS1"
                                        << "page1";
    QTest::newRow("RGB") << "pbS1"
                         << "pbS2"
                         << "page2";
    QTest::newRow("PADDLES") << "pbS1"
                             << "pbS3"
                             << "page3";
    QTest::newRow("DEVICE") << "pbS5"
                            << "pbS4"
                            << "page4";
    QTest::newRow("ABOUT") << "pbS2"
                           << "pbS5"
                           << "page5";
    // A second click on a checkable button would uncheck it on its own.
    QTest::newRow("INPUTS again") << "pbS1"
                                  << "pbS1"
                                  << "page1";
    QTest::newRow("ABOUT again") << "pbS5"
                                 << "pbS5"
                                 << "page5";
}

void TestNavigation::sidebarButtonShowsItsPage()
{
    QFETCH(QString, before);
    QFETCH(QString, clicked);
    QFETCH(QString, page);

    MainWindow w;
    QVERIFY(settleAsConnected(w));
    QTest::mouseClick(button(w, before), Qt::LeftButton);
    QTest::mouseClick(button(w, clicked), Qt::LeftButton);

    QCOMPARE(pages(w)->currentWidget()->objectName(), page);
    QCOMPARE(checkedSidebarButtons(w), QStringList{clicked});
}

void TestNavigation::foreignSender_data()
{
    QTest::addColumn<QString>("senderName");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("checked");

    const QString unchanged = QStringLiteral("page4");
    QTest::newRow("digit 6") << "pbS6" << unchanged << QStringList{};
    QTest::newRow("digit 0") << "pbS0" << unchanged << QStringList{};
    QTest::newRow("letter") << "pbSx" << unchanged << QStringList{};
    QTest::newRow("too short") << "pbS" << unchanged << QStringList{};
    QTest::newRow("no name") << "" << unchanged << QStringList{};
    QTest::newRow("digit late") << "pbS12"
                                << "page1" << QStringList{"pbS1"};
    // Latin-1 superscript one and an Arabic-Indic one are not the digit 1.
    QTest::newRow("superscript one") << QString::fromUtf8("pbS\u00b9") << unchanged << QStringList{};
    QTest::newRow("arabic-indic one") << QString::fromUtf8("pbS\u0661") << unchanged << QStringList{};
    // Only the fourth character counts, whatever the rest of the name.
    QTest::newRow("other prefix") << "xyz3"
                                  << "page3" << QStringList{"pbS3"};
}

void TestNavigation::foreignSender()
{
    QFETCH(QString, senderName);
    QFETCH(QString, page);
    QFETCH(QStringList, checked);

    MainWindow w;
    QVERIFY(settleAsConnected(w));
    QTest::mouseClick(button(w, QStringLiteral("pbS4")), Qt::LeftButton);

    QPushButton other;
    other.setObjectName(senderName);
    QVERIFY(connect(&other, SIGNAL(clicked(bool)), &w, SLOT(onSidebar())));
    other.click();

    QCOMPARE(pages(w)->currentWidget()->objectName(), page);
    QCOMPARE(checkedSidebarButtons(w), checked);
}

void TestNavigation::closeButtonClosesWindow()
{
    // Closed, not merely hidden: a window that deletes itself on close goes.
    QPointer<MainWindow> w = new MainWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::mouseClick(button(*w, QStringLiteral("pbClose")), Qt::LeftButton);
    QTRY_VERIFY(w.isNull());
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
