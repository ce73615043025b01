// main() for QtTest suites that talk to the emulated wheel: puts the binary
// under the umockdev preload first (see under_preload.h), then runs the
// suite as QTEST_MAIN / QTEST_GUILESS_MAIN would.
#pragma once

#include "under_preload.h"

#include <QTest>

#define WHEEL_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        wheeltest::runUnderPreload(argc, argv);                                                              \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

#define WHEEL_TEST_GUILESS_MAIN(TestObject)                                                                  \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        wheeltest::runUnderPreload(argc, argv);                                                              \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
