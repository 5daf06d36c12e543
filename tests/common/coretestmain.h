#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace TestSupport {

// Gives the whole test process (and every process it starts) a data folder of its own, so that a
// test never reads or writes a real user's remembered accounts or lock files.
inline void PrepareEnvironment(QTemporaryDir& dataHome)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dataHome.path().toLocal8Bit());
    // Nor its credential store: only a test run inside a session bus of its own (tests/common/with-keyring.sh)
    // reaches one; every other test finds none and keeps passwords in users.xml.
    if (!qEnvironmentVariableIsSet("TARVIK_TEST_KEYRING"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    // Nor the machine's printers: the print service named here does not exist, so a receipt finds no
    // printer and becomes a PDF. The printing tests name a CUPS server of their own.
    qputenv("CUPS_SERVER", QDir(dataHome.path()).filePath(QStringLiteral("no-print-service.sock")).toLocal8Bit());
}

} // namespace TestSupport

// QTEST_GUILESS_MAIN with an isolated data folder: for tests of the core, which has no windows.
#define TARVIK_GUILESS_TEST_MAIN(TestObject)                                                                 \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        QTemporaryDir dataHome;                                                                              \
        TestSupport::PrepareEnvironment(dataHome);                                                           \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
