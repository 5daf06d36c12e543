#include "common/testmain.h"

#include "ui/cwidget.h"
#include "ui/msgbox.h"

#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(CMsgBox::Placement)

namespace {

// A box's timer, not the clock, hides it: tests check the duration it was given and then let it
// fire at once rather than sit through whole seconds.
void fireNow(QTimer* timer)
{
    timer->start(0);
}

// Visible 400 x 300, so the real widget is 420 x 320, the top band 180 high and the bottom
// band 120 high once laid out.
std::unique_ptr<CWidget> shownWindow()
{
    auto w = std::make_unique<CWidget>(QSize(400, 300));
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

bool boxShown(const CMsgBox& box)
{
    return box.MsgBoxLabel() && box.MsgBoxLabel()->isVisible();
}

} // namespace

class TestMsgBox : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void oneArgumentBox_hidesAfterFiveSeconds();
    void persistentBox_staysWithoutTimer();
    void persistentBox_earlierTimerStillFires();
    void secondPositiveCall_restartsTimerWithNewDuration();
    void hideMsgBox_deletesTimerKeepsLabel();
    void loadingAndBox_replaceEachOther();
    void windowWithoutIndicator_ignoresLoading();
    void longMessage_staysInsideWindow();
};

void TestMsgBox::placement_data()
{
    QTest::addColumn<CMsgBox::Placement>("placement");
    QTest::addColumn<QPoint>("box");
    QTest::addColumn<QPoint>("loading"); // (-1, -1): the window has no indicator

    // Box 120 x 120, indicator 80 x 80; W = 420, H = 320, Wv = 400, TB = 180, BB = 120.
    QTest::newRow("order detail") << CMsgBox::ForOrderWidget() << QPoint(150, 100) << QPoint(170, 200);
    QTest::newRow("confirmation table") << CMsgBox::ForServerTable() << QPoint(150, 180) << QPoint(-1, -1);
    QTest::newRow("profile") << CMsgBox::ForUserInfo() << QPoint(140, 180) << QPoint(160, 200);
    QTest::newRow("income") << CMsgBox::ForIncome() << QPoint(140, 180) << QPoint(160, 200);
}

void TestMsgBox::placement()
{
    QFETCH(CMsgBox::Placement, placement);
    QFETCH(QPoint, box);
    QFETCH(QPoint, loading);
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), placement);

    msg.ShowMsgBox(QStringLiteral("已保存"), 0);
    QCOMPARE(msg.MsgBoxLabel()->geometry(), QRect(box, QSize(120, 120)));
    QCOMPARE(msg.MsgBoxLabel()->parentWidget(), w.get());

    msg.ShowLoadingAnimation();
    if (loading == QPoint(-1, -1)) {
        QVERIFY(!msg.IsLoading());
        return;
    }
    QVERIFY(msg.IsLoading());
    QCOMPARE(msg.LoadingLabel()->geometry(), QRect(loading, QSize(80, 80)));

    // After the window grows, the indicator follows when the window asks for it.
    w->resize(600, 400);
    msg.Reposition();
    const QPoint moved = msg.LoadingLabel()->pos();
    QVERIFY(moved.x() > loading.x() && moved.y() > loading.y());
}

void TestMsgBox::oneArgumentBox_hidesAfterFiveSeconds()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForIncome());
    msg.ShowMsgBox(QStringLiteral("操作成功"));
    QVERIFY(boxShown(msg));
    QCOMPARE(msg.MsgBoxLabel()->text(), QStringLiteral("操作成功"));
    QVERIFY(msg.MsgBoxTimer() && msg.MsgBoxTimer()->isActive());
    QCOMPARE(msg.MsgBoxTimer()->interval(), 5000);
    fireNow(msg.MsgBoxTimer());
    QTRY_VERIFY(!boxShown(msg));
    QVERIFY(!msg.MsgBoxTimer());
}

void TestMsgBox::persistentBox_staysWithoutTimer()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForOrderWidget());
    msg.ShowMsgBox(QStringLiteral("网络错误"), 0);
    QVERIFY(!msg.MsgBoxTimer());
    msg.ShowMsgBox(QStringLiteral("网络错误"), -3);
    QVERIFY(!msg.MsgBoxTimer());
    QTest::qWait(200);
    QVERIFY(boxShown(msg));
}

void TestMsgBox::persistentBox_earlierTimerStillFires()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForOrderWidget());
    msg.ShowMsgBox(QStringLiteral("第一条"), 1);
    msg.ShowMsgBox(QStringLiteral("第二条"), 0);
    QCOMPARE(msg.MsgBoxLabel()->text(), QStringLiteral("第二条"));
    QVERIFY(msg.MsgBoxTimer() && msg.MsgBoxTimer()->isActive());
    QCOMPARE(msg.MsgBoxTimer()->interval(), 1000);
    fireNow(msg.MsgBoxTimer());
    QTRY_VERIFY(!boxShown(msg));
}

void TestMsgBox::secondPositiveCall_restartsTimerWithNewDuration()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForUserInfo());
    msg.ShowMsgBox(QStringLiteral("第一条"), 1);
    QPointer<QTimer> timer = msg.MsgBoxTimer();
    QTest::qWait(200);
    msg.ShowMsgBox(QStringLiteral("第二条"), 2);
    QCOMPARE(msg.MsgBoxTimer(), timer.data()); // the same timer, restarted
    QCOMPARE(timer->interval(), 2000);
    // Counting from the second call: more is left than the first call's second would leave.
    QVERIFY2(timer->remainingTime() > 1000, qPrintable(QString::number(timer->remainingTime())));
    QVERIFY(boxShown(msg));
    fireNow(timer);
    QTRY_VERIFY(!boxShown(msg));
}

void TestMsgBox::hideMsgBox_deletesTimerKeepsLabel()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForIncome());
    msg.ShowMsgBox(QStringLiteral("提示"), 3);
    QPointer<QLabel> label = msg.MsgBoxLabel();
    QPointer<QTimer> timer = msg.MsgBoxTimer();
    msg.HideMsgBox();
    QVERIFY(!boxShown(msg));
    QVERIFY(!msg.MsgBoxTimer());
    QTRY_VERIFY(timer.isNull());
    QCOMPARE(msg.MsgBoxLabel(), label.data());

    // The next box starts a fresh timer on the kept label.
    msg.ShowMsgBox(QStringLiteral("再次提示"), 1);
    QCOMPARE(msg.MsgBoxLabel(), label.data());
    QVERIFY(msg.MsgBoxTimer());
    QCOMPARE(msg.MsgBoxTimer()->interval(), 1000);
    fireNow(msg.MsgBoxTimer());
    QTRY_VERIFY(!boxShown(msg));
    QTRY_VERIFY(!msg.MsgBoxTimer());
}

void TestMsgBox::loadingAndBox_replaceEachOther()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForOrderWidget());
    msg.ShowMsgBox(QStringLiteral("提示"), 3);
    msg.ShowLoadingAnimation();
    QVERIFY(!boxShown(msg));
    QVERIFY(!msg.MsgBoxTimer());
    QVERIFY(msg.IsLoading());
    QVERIFY(msg.LoadingLabel()->isVisible());
    QVERIFY(msg.LoadingLabel()->movie());
    QCOMPARE(msg.LoadingLabel()->movie()->fileName(), QStringLiteral(":/img/img/cattle.gif"));

    QPointer<QLabel> loading = msg.LoadingLabel();
    msg.ShowMsgBox(QStringLiteral("加载失败"), 0);
    QVERIFY(boxShown(msg));
    QVERIFY(!msg.IsLoading());
    QVERIFY(loading.isNull());

    msg.ShowLoadingAnimation();
    msg.HideLoadingAnimation();
    QVERIFY(!msg.IsLoading());
    QVERIFY(!boxShown(msg));
}

void TestMsgBox::windowWithoutIndicator_ignoresLoading()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForServerTable());
    QVERIFY(!msg.HasLoadingIndicator());
    msg.ShowMsgBox(QStringLiteral("确认失败"), 0);
    msg.ShowLoadingAnimation();
    QVERIFY(!msg.IsLoading());
    QVERIFY(boxShown(msg));
}

void TestMsgBox::longMessage_staysInsideWindow()
{
    auto w = shownWindow();
    QVERIFY(w);
    CMsgBox msg(w.get(), CMsgBox::ForIncome());
    msg.ShowMsgBox(QString(200, QChar(0x9519)), 0);
    const QRect box = msg.MsgBoxLabel()->geometry();
    QVERIFY(box.width() >= 120 && box.height() > 120);
    QVERIFY2(box.left() >= 0 && box.right() < 420,
             qPrintable(QStringLiteral("box %1 wide").arg(box.width())));
}

TARVIK_TEST_MAIN(TestMsgBox)
#include "tst_msgbox.moc"
