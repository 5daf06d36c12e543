#include "common/testmain.h"

#include "ui/cwidget.h"

#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

#include <memory>

namespace {

constexpr int m = CWidget::shadowMargin;

QWidget& real(CWidget& w)
{
    return w;
}

// Mouse events go straight to the frame, with the global position the handlers work from.
void sendMouse(CWidget& w, QEvent::Type type, const QPoint& global, Qt::MouseButton button = Qt::NoButton,
               Qt::MouseButtons buttons = Qt::NoButton)
{
    const QPoint local = real(w).mapFromGlobal(global);
    QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void drag(CWidget& w, const QPoint& from, const QPoint& to)
{
    sendMouse(w, QEvent::MouseMove, from);
    sendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

std::unique_ptr<CWidget> shownWindow(const QSize& visible, const QPoint& at)
{
    auto w = std::make_unique<CWidget>(visible);
    w->move(at);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

QRect visibleGlobal(const CWidget& w)
{
    return QRect(w.pos(), w.size());
}

QRect availableArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

class TestCWidget : public QObject
{
    Q_OBJECT

private slots:
    void hitTest_data();
    void hitTest();
    void notResizable_neverResizesOrMaximises();
    void visibleGeometry_roundTrip();
    void edgeDrag_data();
    void edgeDrag();
    void doubleClickOnBand_maximisesAndRestoresToAvailableArea();
    void dragMaximised_restoresSizeKeepingGrabPoint();
    void doubleClickOnTitleOrButton_doesNotMaximise_data();
    void doubleClickOnTitleOrButton_doesNotMaximise();
    void closeButton_fadesOutThenCloses();
    void animations_belongToTheWindowAndEndWithIt();
};

void TestCWidget::hitTest_data()
{
    QTest::addColumn<int>("visibleWidth");
    // Offsets from the real widget's outer corner; negative ones count back from the right or
    // bottom pixel (-1 is the last pixel).
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<int>("region");
    QTest::addColumn<int>("cursor");

    QTest::newRow("outer top-left pixel")
        << 400 << QPoint(0, 0) << int(CWidget::TopLeft) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-left inner corner inclusive")
        << 400 << QPoint(m, m) << int(CWidget::TopLeft) << int(Qt::SizeFDiagCursor);
    QTest::newRow("just right of top-left corner")
        << 400 << QPoint(m + 1, m) << int(CWidget::Top) << int(Qt::SizeVerCursor);
    QTest::newRow("just below top-left corner")
        << 400 << QPoint(m, m + 1) << int(CWidget::Left) << int(Qt::SizeHorCursor);
    QTest::newRow("inside the frame")
        << 400 << QPoint(m + 1, m + 1) << int(CWidget::None) << int(Qt::ArrowCursor);
    QTest::newRow("outer bottom-right pixel")
        << 400 << QPoint(-1, -1) << int(CWidget::BottomRight) << int(Qt::SizeFDiagCursor);
    QTest::newRow("bottom-right inner corner inclusive")
        << 400 << QPoint(-1 - m, -1 - m) << int(CWidget::BottomRight) << int(Qt::SizeFDiagCursor);
    QTest::newRow("just left of bottom-right corner")
        << 400 << QPoint(-2 - m, -1 - m) << int(CWidget::Bottom) << int(Qt::SizeVerCursor);
    QTest::newRow("top-right corner")
        << 400 << QPoint(-1 - m, m) << int(CWidget::TopRight) << int(Qt::SizeBDiagCursor);
    QTest::newRow("just below top-right corner")
        << 400 << QPoint(-1 - m, m + 1) << int(CWidget::Right) << int(Qt::SizeHorCursor);
    QTest::newRow("bottom-left corner")
        << 400 << QPoint(0, -1 - m) << int(CWidget::BottomLeft) << int(Qt::SizeBDiagCursor);
    QTest::newRow("just above bottom-left corner")
        << 400 << QPoint(m, -2 - m) << int(CWidget::Left) << int(Qt::SizeHorCursor);
    QTest::newRow("top edge middle") << 400 << QPoint(200, 5) << int(CWidget::Top) << int(Qt::SizeVerCursor);
    QTest::newRow("bottom edge middle")
        << 400 << QPoint(200, -6) << int(CWidget::Bottom) << int(Qt::SizeVerCursor);
    QTest::newRow("right edge middle")
        << 400 << QPoint(-1, 150) << int(CWidget::Right) << int(Qt::SizeHorCursor);

    // Visible width 1: the strips overlap in the two middle columns of the 21-pixel window.
    QTest::newRow("narrow: both strips, top")
        << 1 << QPoint(m, 5) << int(CWidget::TopLeft) << int(Qt::SizeFDiagCursor);
    QTest::newRow("narrow: both strips, middle")
        << 1 << QPoint(m, 150) << int(CWidget::Left) << int(Qt::SizeHorCursor);
    QTest::newRow("narrow: both strips, bottom")
        << 1 << QPoint(m, -3) << int(CWidget::BottomRight) << int(Qt::SizeFDiagCursor);
    QTest::newRow("narrow: right strip only, top")
        << 1 << QPoint(m + 1, 5) << int(CWidget::TopRight) << int(Qt::SizeBDiagCursor);
    QTest::newRow("narrow: right strip only, middle")
        << 1 << QPoint(m + 1, 150) << int(CWidget::Right) << int(Qt::SizeHorCursor);
}

void TestCWidget::hitTest()
{
    QFETCH(int, visibleWidth);
    QFETCH(QPoint, offset);
    QFETCH(int, region);
    QFETCH(int, cursor);

    auto w = shownWindow(QSize(visibleWidth, 300), QPoint(100, 100));
    QVERIFY(w);
    const QPoint origin = real(*w).mapToGlobal(QPoint(0, 0));
    const int right = origin.x() + real(*w).width() - 1;
    const int bottom = origin.y() + real(*w).height() - 1;
    const QPoint global(offset.x() >= 0 ? origin.x() + offset.x() : right + 1 + offset.x(),
                        offset.y() >= 0 ? origin.y() + offset.y() : bottom + 1 + offset.y());

    sendMouse(*w, QEvent::MouseMove, global);
    QCOMPARE(int(w->CurrentHitRegion()), region);
    QCOMPARE(int(w->cursor().shape()), cursor);
}

void TestCWidget::notResizable_neverResizesOrMaximises()
{
    auto w = shownWindow(QSize(400, 300), QPoint(100, 100));
    QVERIFY(w);
    w->SetResizable(false);
    const QSize before = w->size();
    const QPoint leftStrip = real(*w).mapToGlobal(QPoint(3, 150));

    sendMouse(*w, QEvent::MouseMove, leftStrip);
    QCOMPARE(w->CurrentHitRegion(), CWidget::None);
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);

    // Pressing in the margin then moves the window rather than resizing it.
    drag(*w, leftStrip, leftStrip - QPoint(50, 0));
    QCOMPARE(w->size(), before);
    QCOMPARE(w->pos(), QPoint(50, 100));

    QSignalSpy finished(w.get(), &CWidget::FinishedAnimationResize);
    QTest::mouseDClick(w->TopBand(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
    QTest::qWait(20); // an animation would have reported its end by now (they are instant here)
    QCOMPARE(finished.count(), 0);
    QVERIFY(!w->Maximized());
    QCOMPARE(w->size(), before);
}

void TestCWidget::visibleGeometry_roundTrip()
{
    CWidget fresh;
    // Before the first layout the bands keep their construction sizes, which windows that place
    // children while they are built rely on.
    QCOMPARE(fresh.TopBand()->geometry(), QRect(m, m, 590 + 2 * m - 7 * m, 180));
    QCOMPARE(fresh.BottomBandHeight(), 330);
    QCOMPARE(fresh.size(), QSize(590, 530));
    const QRect available = availableArea();
    QCOMPARE(fresh.pos(), QPoint(available.left() + (available.width() - 590) / 2,
                                 available.top() + (available.height() - 530) / 2));

    auto w = shownWindow(QSize(400, 300), QPoint(100, 100));
    QVERIFY(w);
    w->move(123, 77);
    QCOMPARE(w->pos(), QPoint(123, 77));
    QCOMPARE(QPoint(w->x(), w->y()), QPoint(123, 77));
    QCOMPARE(real(*w).pos(), QPoint(113, 67));

    w->resize(321, 234);
    QCOMPARE(w->size(), QSize(321, 234));
    QCOMPARE(QSize(w->width(), w->height()), QSize(321, 234));
    QCOMPARE(real(*w).size(), QSize(341, 254));
    QCOMPARE(w->VisibleRect(), QRect(m, m, 321, 234));
    // The frame follows: bands fill the visible frame, buttons sit in the top-right corner.
    QCOMPARE(w->TopBand()->geometry(), QRect(m, m, 321, 180));
    QCOMPARE(w->BottomBand()->geometry(), QRect(m, m + 180, 321, 54));
    auto* closeButton = w->findChild<QPushButton*>(QStringLiteral("closeButton"));
    auto* minButton = w->findChild<QPushButton*>(QStringLiteral("minButton"));
    QVERIFY(closeButton && minButton);
    QCOMPARE(closeButton->geometry(), QRect(321 - 30, 0, 30, 30));
    QCOMPARE(minButton->geometry(), QRect(321 - 60, 0, 30, 30));

    w->setMinimumSize(200, 150);
    w->setMaximumSize(QSize(600, 450));
    QCOMPARE(w->minimumSize(), QSize(200, 150));
    QCOMPARE(w->maximumSize(), QSize(600, 450));
    QCOMPARE(real(*w).minimumSize(), QSize(220, 170));
    QCOMPARE(real(*w).maximumSize(), QSize(620, 470));
    w->setMinimumWidth(210);
    w->setMaximumHeight(440);
    QCOMPARE(QSize(w->minimumWidth(), w->maximumHeight()), QSize(210, 440));

    w->setFixedSize(300, 200);
    QCOMPARE(w->size(), QSize(300, 200));
    QCOMPARE(real(*w).size(), QSize(320, 220));
    w->setFixedWidth(250);
    QCOMPARE(w->width(), 250);
    QCOMPARE(w->minimumWidth(), 250);
    QCOMPARE(w->maximumWidth(), 250);
}

void TestCWidget::edgeDrag_data()
{
    // Window: visible 400 x 300 at (300, 500), so l = 300, r = 699, t = 500, b = 799;
    // minimum 200 x 150, maximum 600 x 450.
    QTest::addColumn<QPoint>("grab"); // offset from the real top-left, in the margin
    QTest::addColumn<QPoint>("to");   // global
    QTest::addColumn<QRect>("expected");

    const QPoint left(3, 160), top(200, 3), topLeft(3, 3), right(417, 160), bottom(200, 317);
    QTest::newRow("left, within limits") << left << QPoint(150, 600) << QRect(150, 500, 550, 300);
    QTest::newRow("left, just above the minimum") << left << QPoint(498, 600) << QRect(498, 500, 202, 300);
    QTest::newRow("left, at the minimum stays") << left << QPoint(499, 600) << QRect(300, 500, 400, 300);
    QTest::newRow("left, past the right edge stays") << left << QPoint(750, 600) << QRect(300, 500, 400, 300);
    QTest::newRow("left, just under the maximum") << left << QPoint(100, 600) << QRect(100, 500, 600, 300);
    QTest::newRow("left, at the maximum stays") << left << QPoint(99, 600) << QRect(300, 500, 400, 300);
    QTest::newRow("top, at the minimum stays") << top << QPoint(500, 649) << QRect(300, 500, 400, 300);
    QTest::newRow("top, just above the minimum") << top << QPoint(500, 648) << QRect(300, 648, 400, 152);
    QTest::newRow("top, at the maximum stays") << top << QPoint(500, 349) << QRect(300, 500, 400, 300);
    QTest::newRow("top, just under the maximum") << top << QPoint(500, 350) << QRect(300, 350, 400, 450);
    QTest::newRow("top-left, both edges move") << topLeft << QPoint(250, 450) << QRect(250, 450, 450, 350);
    QTest::newRow("top-left, only top within limits")
        << topLeft << QPoint(50, 450) << QRect(300, 450, 400, 350);
    QTest::newRow("right, grows") << right << QPoint(800, 600) << QRect(300, 500, 500, 300);
    QTest::newRow("right, clamped to the maximum") << right << QPoint(1200, 600) << QRect(300, 500, 600, 300);
    QTest::newRow("bottom, clamped to the minimum")
        << bottom << QPoint(500, 510) << QRect(300, 500, 400, 150);
}

void TestCWidget::edgeDrag()
{
    QFETCH(QPoint, grab);
    QFETCH(QPoint, to);
    QFETCH(QRect, expected);

    auto w = shownWindow(QSize(400, 300), QPoint(300, 500));
    QVERIFY(w);
    w->setMinimumSize(200, 150);
    w->setMaximumSize(600, 450);
    QCOMPARE(visibleGlobal(*w), QRect(300, 500, 400, 300));

    drag(*w, real(*w).mapToGlobal(grab), to);
    QCOMPARE(visibleGlobal(*w), expected);
}

void TestCWidget::doubleClickOnBand_maximisesAndRestoresToAvailableArea()
{
    auto w = shownWindow(QSize(400, 300), QPoint(120, 90));
    QVERIFY(w);
    QSignalSpy finished(w.get(), &CWidget::FinishedAnimationResize);
    const QRect before = visibleGlobal(*w);
    const QRect available = availableArea();

    QTest::mouseDClick(w->TopBand(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 120));
    QVERIFY(w->Maximized());
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(visibleGlobal(*w), available);
    // The shadow margin lies outside the available area.
    QCOMPARE(real(*w).geometry(), available.adjusted(-m, -m, m, m));
    QCOMPARE(w->RestoreRect(), before);
    QCOMPARE(w->TopBand()->width(), available.width());

    QTest::mouseDClick(w->TopBand(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 120));
    QVERIFY(!w->Maximized());
    QTRY_COMPARE(finished.count(), 4);
    QCOMPARE(visibleGlobal(*w), before);

    // The unanimated variants land on the same areas and emit nothing.
    w->ShowMaximized();
    QVERIFY(w->Maximized());
    QCOMPARE(visibleGlobal(*w), available);
    w->ShowNormal();
    w->move(before.topLeft());
    w->resize(before.size());
    w->ShowFullScreen();
    QCOMPARE(visibleGlobal(*w), QGuiApplication::primaryScreen()->geometry());
    QCOMPARE(w->RestoreRect(), before);
    QTest::qWait(20);
    QCOMPARE(finished.count(), 4);
}

void TestCWidget::dragMaximised_restoresSizeKeepingGrabPoint()
{
    auto w = shownWindow(QSize(400, 300), QPoint(120, 90));
    QVERIFY(w);
    w->ShowMaximized();
    const QRect available = availableArea();

    // A maximised window shows no resize cursor, even over its margin.
    sendMouse(*w, QEvent::MouseMove, real(*w).mapToGlobal(QPoint(3, 3)));
    QCOMPARE(w->CurrentHitRegion(), CWidget::None);

    const QPoint grab = real(*w).mapToGlobal(QPoint(m + available.width() / 2, m + 60));
    const double relativeX = double(grab.x() - available.left()) / available.width();
    sendMouse(*w, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    const QPoint to = grab + QPoint(30, 40);
    sendMouse(*w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    sendMouse(*w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);

    QVERIFY(!w->Maximized());
    QCOMPARE(w->size(), QSize(400, 300));
    // The cursor holds the frame at (nearly) the same proportional place as before.
    const double nowX = double(to.x() - w->x()) / w->width();
    QVERIFY2(qAbs(nowX - relativeX) < 0.03, qPrintable(QStringLiteral("%1 vs %2").arg(nowX).arg(relativeX)));
    QVERIFY(to.y() > w->y() && to.y() < w->y() + 180);
}

void TestCWidget::doubleClickOnTitleOrButton_doesNotMaximise_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("title label") << QStringLiteral("title");
    QTest::newRow("minimise button") << QStringLiteral("minButton");
}

void TestCWidget::doubleClickOnTitleOrButton_doesNotMaximise()
{
    QFETCH(QString, target);
    auto w = shownWindow(QSize(400, 300), QPoint(120, 90));
    QVERIFY(w);
    w->SetTitle(QStringLiteral("订单详情"));
    QCOMPARE(w->windowTitle(), QStringLiteral("订单详情"));
    QCOMPARE(w->TitleLabel()->text(), QStringLiteral("订单详情"));
    QSignalSpy finished(w.get(), &CWidget::FinishedAnimationResize);

    QWidget* child = target == QLatin1String("title") ? static_cast<QWidget*>(w->TitleLabel())
                                                      : w->findChild<QPushButton*>(target);
    QVERIFY(child);
    // The title label lets the double click through to the frame, which must tell it from the
    // band; for the button the event is sent to the frame itself at the button's place.
    if (target == QLatin1String("title")) {
        QTest::mouseDClick(child, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    } else {
        const QPoint global = child->mapToGlobal(QPoint(5, 5));
        sendMouse(*w, QEvent::MouseButtonDblClick, global, Qt::LeftButton, Qt::LeftButton);
    }
    QTest::qWait(20);
    QVERIFY(!w->Maximized());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(w->size(), QSize(400, 300));
}

void TestCWidget::closeButton_fadesOutThenCloses()
{
    CWidget::SetAnimated(true);
    const auto instant = qScopeGuard([] { CWidget::SetAnimated(false); });
    QPointer<CWidget> w = new CWidget(QSize(400, 300));
    w->setAttribute(Qt::WA_DeleteOnClose);
    // Every window fades in as it is created.
    QVERIFY(w->windowOpacity() < 1.0);
    QTRY_COMPARE(w->windowOpacity(), 1.0);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QSignalSpy closed(w.data(), &CWidget::Close);

    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("closeButton")), Qt::LeftButton);
    QVERIFY(w && w->isVisible());
    QTRY_VERIFY(w && w->windowOpacity() < 1.0);
    QTRY_VERIFY(w.isNull());
    QCOMPARE(closed.count(), 1);
}

void TestCWidget::animations_belongToTheWindowAndEndWithIt()
{
    CWidget::SetAnimated(true);
    const auto instant = qScopeGuard([] { CWidget::SetAnimated(false); });
    auto w = std::make_unique<CWidget>(QSize(400, 300));
    QList<QPropertyAnimation*> running = w->findChildren<QPropertyAnimation*>();
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first()->propertyName(), QByteArray("windowOpacity"));
    QCOMPARE(running.first()->state(), QAbstractAnimation::Running);

    // Finished animations do not pile up on a window that lives long.
    QTRY_VERIFY(w->findChildren<QPropertyAnimation*>().isEmpty());

    w->AnimationResize(QSize(500, 400));
    w->AnimationMove(QPoint(50, 60));
    w->FadeIn();
    running = w->findChildren<QPropertyAnimation*>();
    QCOMPARE(running.size(), 3);
    QList<QPointer<QPropertyAnimation>> guards;
    for (QPropertyAnimation* animation : running)
        guards << animation;

    // A window destroyed mid-animation (or a program ending then) leaves nothing running behind,
    // without waiting for another turn of the event loop.
    w.reset();
    for (const QPointer<QPropertyAnimation>& guard : guards)
        QVERIFY(guard.isNull());
}

TARVIK_TEST_MAIN(TestCWidget)
#include "tst_cwidget.moc"
