// main() for QtTest suites that talk to the emulated wheel: puts the binary
// under the umockdev preload first (see under_preload.h), then runs the
// suite as QTEST_MAIN / QTEST_GUILESS_MAIN would. The user's data directory
// (where settings backups go) is one of the run's own.
#pragma once

#include "under_preload.h"

#include <QTemporaryDir>
#include <QTest>

#define WHEEL_TEST_MAIN_WITH(TestObject, Application, setUp)                                                 \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        wheeltest::runUnderPreload(argc, argv);                                                              \
        QTemporaryDir dataHome;                                                                              \
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());                                             \
        Application app(argc, argv);                                                                         \
        setUp;                                                                                               \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
#define WHEEL_TEST_MAIN(TestObject)                                                                          \
    WHEEL_TEST_MAIN_WITH(TestObject, QApplication, app.setAttribute(Qt::AA_Use96Dpi, true))
#define WHEEL_TEST_GUILESS_MAIN(TestObject) WHEEL_TEST_MAIN_WITH(TestObject, QCoreApplication, (void)app)
