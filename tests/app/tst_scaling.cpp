#include <QDirIterator>
#include <QImageReader>
#include <QWindow>

#include "app/ui/resources.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "session/ui/cwlogin.h"

// The client on a display set to 150 %: every window one and a half times its size, and a sharp
// version of every picture. (tst_cwidget and tst_msgbox run a second time at 150 % as well.)
class TestScaling : public QObject
{
    Q_OBJECT

private slots:

    void loginWindow_isOneAndAHalfTimesItsSize()
    {
        CWLogin login(TestOptions());
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        // Qt 5 left alone ignores the display's setting (1) or rounds it up to 2.
        QCOMPARE(login.devicePixelRatioF(), 1.5);
        QCOMPARE(login.windowHandle()->devicePixelRatio(), 1.5);
        const QSize logical = login.QWidget::size();
        QCOMPARE(login.grab().size(), logical * 1.5);
    }

    void everyPicture_hasADoubleSizeVersion()
    {
        QDirIterator it(QStringLiteral(":/img/img"), {QStringLiteral("*.png")});
        QVERIFY(it.hasNext());
        for (QString path = it.next(); !path.isEmpty(); path = it.hasNext() ? it.next() : QString()) {
            if (path.endsWith(QLatin1String("@2x.png")))
                continue;
            const QString sharp = path.left(path.size() - 4) + QStringLiteral("@2x.png");
            QCOMPARE(QImageReader(sharp).size(), QImageReader(path).size() * 2);
            // What the windows show is the sharp one, at the size of the small one.
            const QPixmap shown = TarvikPixmap(path);
            QCOMPARE(shown.devicePixelRatio(), 2.0);
            QCOMPARE(shown.size() / 2, QImageReader(path).size());
        }
    }
};

TARVIK_TEST_MAIN_AT_DPI(TestScaling, "144")
#include "tst_scaling.moc"
