#pragma once

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "common/coretestmain.h"

#include "app/ui/resources.h"
#include "app/ui/screens.h"
#include "ui/cwidget.h"
#include "ui/quietplatform.h"

namespace TestSupport {

// Tests scale their windows the way the program does. The display they pretend to have is 96 dpi
// (100 %), whatever the platform plugin reports (offscreen says 100 dpi, which would scale every
// window by 1.04); TARVIK_TEST_DPI=144 runs a test as on a display set to 150 %.
inline void PrepareScaling(const QByteArray& forcedDpi = QByteArray())
{
    const QByteArray dpi = forcedDpi.isEmpty() ? qgetenv("TARVIK_TEST_DPI") : forcedDpi;
    qputenv("QT_FONT_DPI", dpi.isEmpty() ? QByteArray("96") : dpi);
    EnableDisplayScaling();
}

// Runs the event loop until `done` holds or `timeoutMs` have passed; says whether it holds.
// QTRY_* and QTest::qWaitFor sleep 10 ms between rounds of events, so a chain of a thousand
// timers of a few milliseconds takes ten seconds there; here the loop sleeps only until the next
// timer or reply is due, and `done` is asked each time it is about to.
template <typename Predicate> bool WaitUntil(Predicate done, int timeoutMs = 5000)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                     [&] {
                         if (done())
                             loop.quit();
                     });
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

// Runs the test object the way QTest::qExec does. Windows neither fade nor glide: an animation
// ends on the next turn of the event loop, so a test waits for none. The headless platform's
// complaints about opacity and size hints are dropped; QtTest's own message handler, which they
// would reach, is only there once the run has begun. What the last test closed is let go before
// the program ends.
inline int Run(QObject* testObject, int argc, char* argv[])
{
    CWidget::SetAnimated(false);
    QTest::qInit(testObject, argc, argv);
    QuietPlatform::Install();
    const int failed = QTest::qRun();
    QTest::qWait(0);
    QTest::qCleanup();
    return failed;
}

} // namespace TestSupport

// QTEST_MAIN with an isolated data folder and the client's resources loaded.
#define TARVIK_TEST_MAIN(TestObject) TARVIK_TEST_MAIN_AT_DPI(TestObject, "")

// The same on a display of that many dots per inch (144: a display set to 150 %).
#define TARVIK_TEST_MAIN_AT_DPI(TestObject, dpi)                                                             \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        QTemporaryDir dataHome;                                                                              \
        TestSupport::PrepareEnvironment(dataHome);                                                           \
        TestSupport::PrepareScaling(dpi);                                                                    \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        InitTarvikResources();                                                                               \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return TestSupport::Run(&tc, argc, argv);                                                            \
    }
