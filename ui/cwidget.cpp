#include "ui/cwidget.h"

#include "app/constants.h"
#include "app/ui/screens.h"

#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>

namespace {

constexpr int defaultVisibleWidth = 590;
constexpr int defaultVisibleHeight = 530;
constexpr int topBandHeight = 180;
constexpr int buttonSize = 30;
constexpr int fadeMsecs = 200;
constexpr int resizeMsecs = 100;

bool animated = true;

int grown(int visible)
{
    // QWidget refuses anything past QWIDGETSIZE_MAX, which "no maximum" already is.
    return visible >= QWIDGETSIZE_MAX - 2 * CWidget::shadowMargin ? QWIDGETSIZE_MAX
                                                                  : visible + 2 * CWidget::shadowMargin;
}

int shrunk(int real)
{
    return qMax(0, real - 2 * CWidget::shadowMargin);
}

Qt::CursorShape cursorFor(CWidget::HitRegion region)
{
    switch (region) {
    case CWidget::Top:
    case CWidget::Bottom:
        return Qt::SizeVerCursor;
    case CWidget::Left:
    case CWidget::Right:
        return Qt::SizeHorCursor;
    case CWidget::TopLeft:
    case CWidget::BottomRight:
        return Qt::SizeFDiagCursor;
    case CWidget::BottomLeft:
    case CWidget::TopRight:
        return Qt::SizeBDiagCursor;
    case CWidget::None:
        break;
    }
    return Qt::ArrowCursor;
}

} // namespace

CWidget::CWidget(QWidget* parent, Qt::WindowFlags f) : QWidget(parent, f)
{
    Build(QSize(defaultVisibleWidth, defaultVisibleHeight));
}

CWidget::CWidget(QSize size, QWidget* parent, Qt::WindowFlags f) : QWidget(parent, f)
{
    Build(size);
}

CWidget::~CWidget()
{
    delete minButton;
    delete maxButton;
    delete closeButton;
    delete titleLabel;
    delete topBand;
    delete bottomBand;
    emit Close();
}

void CWidget::Build(const QSize& visibleSize)
{
    const int m = shadowMargin;

    setAttribute(Qt::WA_MouseTracking);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(true);

    resize(visibleSize);

    topBand = new QWidget(this);
    bottomBand = new QWidget(this);
    for (QWidget* band : {topBand, bottomBand}) {
        band->setAutoFillBackground(true);
        band->setAttribute(Qt::WA_MouseTracking);
    }
    // Windows that place their children during construction rely on these first-layout sizes.
    topBand->setFixedHeight(topBandHeight);
    topBand->setGeometry(m, m, QWidget::width() - 7 * m, topBandHeight);
    bottomBand->setGeometry(m, m + topBandHeight, topBand->width(),
                            QWidget::height() - 4 * m - topBandHeight);
    topBand->setObjectName(QStringLiteral("bg_top"));
    bottomBand->setObjectName(QStringLiteral("bg_bottom"));
    topBand->setStyleSheet(QStringLiteral("QWidget#bg_top{background: transparent "
                                          "url(:/img/img/main_top.png);border-top-left-radius: "
                                          "3px;border-top-right-radius: 3px;}"));
    bottomBand->setStyleSheet(QStringLiteral("QWidget#bg_bottom{background-color: rgba( 255, 255, 255, 1 "
                                             ");border-bottom-left-radius: 3px;border-bottom-right-radius: "
                                             "3px;}"));

    minButton = new QPushButton(topBand);
    closeButton = new QPushButton(topBand);
    for (QPushButton* button : {minButton, closeButton}) {
        button->resize(buttonSize, buttonSize);
        button->setAttribute(Qt::WA_MouseTracking);
    }
    minButton->setToolTip(tr("最小化"));
    closeButton->setToolTip(tr("关闭"));
    minButton->setObjectName(QStringLiteral("minButton"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    connect(minButton, &QPushButton::clicked, this, &CWidget::ShowMinimized);
    connect(closeButton, &QPushButton::clicked, this, &CWidget::FadeOut);

    CentreIn(AvailableAreaAt(QCursor::pos()));
    restoreGeometry = VisibleGlobalRect();

    titleLabel = new QLabel(topBand);
    titleLabel->move(10, 10);

    FadeIn();
}

// --- visible-frame geometry -------------------------------------------------------------------

int CWidget::width() const
{
    return QWidget::width() - 2 * shadowMargin;
}

int CWidget::height() const
{
    return QWidget::height() - 2 * shadowMargin;
}

QSize CWidget::size() const
{
    return QSize(width(), height());
}

void CWidget::resize(int w, int h)
{
    QWidget::resize(w + 2 * shadowMargin, h + 2 * shadowMargin);
}

void CWidget::resize(const QSize& size)
{
    resize(size.width(), size.height());
}

void CWidget::move(int x, int y)
{
    QWidget::move(x - shadowMargin, y - shadowMargin);
}

void CWidget::move(const QPoint& pos)
{
    move(pos.x(), pos.y());
}

void CWidget::CentreIn(const QRect& area)
{
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}

QPoint CWidget::pos() const
{
    return QWidget::pos() + QPoint(shadowMargin, shadowMargin);
}

int CWidget::x() const
{
    return pos().x();
}

int CWidget::y() const
{
    return pos().y();
}

QRect CWidget::VisibleRect() const
{
    return QRect(shadowMargin, shadowMargin, width(), height());
}

void CWidget::setFixedSize(const QSize& size)
{
    setFixedSize(size.width(), size.height());
}

void CWidget::setFixedSize(int w, int h)
{
    QWidget::setFixedSize(grown(w), grown(h));
}

void CWidget::setFixedWidth(int w)
{
    QWidget::setFixedWidth(grown(w));
}

void CWidget::setFixedHeight(int h)
{
    QWidget::setFixedHeight(grown(h));
}

void CWidget::setMinimumSize(const QSize& size)
{
    setMinimumSize(size.width(), size.height());
}

void CWidget::setMinimumSize(int minw, int minh)
{
    QWidget::setMinimumSize(grown(minw), grown(minh));
}

void CWidget::setMinimumWidth(int minw)
{
    QWidget::setMinimumWidth(grown(minw));
}

void CWidget::setMinimumHeight(int minh)
{
    QWidget::setMinimumHeight(grown(minh));
}

void CWidget::setMaximumSize(const QSize& size)
{
    setMaximumSize(size.width(), size.height());
}

void CWidget::setMaximumSize(int maxw, int maxh)
{
    QWidget::setMaximumSize(grown(maxw), grown(maxh));
}

void CWidget::setMaximumWidth(int maxw)
{
    QWidget::setMaximumWidth(grown(maxw));
}

void CWidget::setMaximumHeight(int maxh)
{
    QWidget::setMaximumHeight(grown(maxh));
}

QSize CWidget::minimumSize() const
{
    return QSize(minimumWidth(), minimumHeight());
}

int CWidget::minimumWidth() const
{
    return shrunk(QWidget::minimumWidth());
}

int CWidget::minimumHeight() const
{
    return shrunk(QWidget::minimumHeight());
}

QSize CWidget::maximumSize() const
{
    return QSize(maximumWidth(), maximumHeight());
}

int CWidget::maximumWidth() const
{
    return shrunk(QWidget::maximumWidth());
}

int CWidget::maximumHeight() const
{
    return shrunk(QWidget::maximumHeight());
}

QRect CWidget::VisibleGlobalRect() const
{
    return QRect(pos(), size());
}

// --- frame access -----------------------------------------------------------------------------

int CWidget::TopBandHeight() const
{
    return topBand ? topBand->height() : 0;
}

int CWidget::BottomBandHeight() const
{
    return bottomBand ? bottomBand->height() : 0;
}

void CWidget::ShowTitle()
{
    if (titleLabel)
        titleLabel->show();
}

void CWidget::HideTitle()
{
    if (titleLabel)
        titleLabel->hide();
}

void CWidget::MoveTitle(const QPoint& pos)
{
    if (titleLabel)
        titleLabel->move(pos);
}

void CWidget::MoveTitle(int x, int y)
{
    MoveTitle(QPoint(x, y));
}

void CWidget::SetTitle(const QString& title)
{
    setWindowTitle(title);
    if (titleLabel) {
        titleLabel->setText(title);
    } else {
        titleLabel = new QLabel(title, topBand);
        titleLabel->show();
    }
    titleLabel->setStyleSheet(QStringLiteral("font-size: 12px;color: #fff;"));
    // The label is placed by hand, so it must grow with its text or a long title is cut off.
    titleLabel->adjustSize();
}

void CWidget::SetResizable(bool on)
{
    resizable = on;
    if (!on && hitRegion != None) {
        hitRegion = None;
        setCursor(Qt::ArrowCursor);
    }
}

void CWidget::UpdateHitRegion(const QPoint& g)
{
    if (!resizable)
        return;

    const int m = shadowMargin;
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    const int l = origin.x();
    const int t = origin.y();
    const int r = l + QWidget::width() - 1;
    const int b = t + QWidget::height() - 1;

    const bool inLeft = g.x() >= l && g.x() <= l + m;
    const bool inRight = g.x() >= r - m && g.x() <= r;
    const bool inTop = g.y() >= t && g.y() <= t + m;
    const bool inBottom = g.y() >= b - m && g.y() <= b;

    if (inLeft && inTop)
        hitRegion = TopLeft;
    else if (inRight && inBottom)
        hitRegion = BottomRight;
    else if (inRight && inLeft)
        hitRegion = inTop ? TopRight : Left;
    else if (inRight)
        hitRegion = inTop ? TopRight : Right;
    else if (inLeft)
        hitRegion = inBottom ? BottomLeft : Left;
    else if (inTop)
        hitRegion = Top;
    else if (inBottom)
        hitRegion = Bottom;
    else
        hitRegion = None;

    setCursor(cursorFor(hitRegion));
}

// --- mouse ------------------------------------------------------------------------------------

void CWidget::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;

    pressed = true;
    if (hitRegion != None)
        return;

    const QPoint global = event->screenPos().toPoint();
    if (!maximized) {
        dragOffset = global - pos();
        return;
    }

    // The first move of the drag restores the window, so the grab point is kept at the same
    // proportional place of the restored frame.
    const QRect available = AvailableAreaOf(this);
    const QPoint local = event->localPos().toPoint();
    const float rx = float(local.x()) / float(width());
    const float ry = float(local.y()) / float(height());
    const QPoint restoredTopLeft(available.left() + int(local.x() - restoreGeometry.width() * rx),
                                 available.top() + int(local.y() - restoreGeometry.height() * ry));
    dragOffset = global - restoredTopLeft;
}

void CWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressed = false;
    setCursor(Qt::ArrowCursor);
}

void CWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Only the bare band toggles: a double click on the title or a button must not.
    if (childAt(event->localPos().toPoint()) == topBand)
        ShowMaxMin();
}

void CWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint g = event->screenPos().toPoint();

    if (!pressed) {
        if (!maximized)
            UpdateHitRegion(g);
        return;
    }

    if (hitRegion == None) {
        if (maximized) {
            maximized = false;
            resize(restoreGeometry.size());
        }
        move(g - dragOffset);
        event->accept();
        return;
    }

    const QRect frame = VisibleGlobalRect();
    int l = frame.left();
    int t = frame.top();
    int r = frame.right();
    int b = frame.bottom();

    const bool movesLeft = hitRegion == Left || hitRegion == TopLeft || hitRegion == BottomLeft;
    const bool movesTop = hitRegion == Top || hitRegion == TopLeft || hitRegion == TopRight;
    if (hitRegion == Right || hitRegion == TopRight || hitRegion == BottomRight)
        r = g.x() - 1;
    if (hitRegion == Bottom || hitRegion == BottomLeft || hitRegion == BottomRight)
        b = g.y() - 1;
    // QWidget clamps the right and bottom edges itself; a left or top edge dragged past a limit
    // would instead push the opposite edge, so it stays where it was.
    if (movesLeft && minimumWidth() < r - g.x() && r - g.x() < maximumWidth())
        l = g.x();
    if (movesTop && minimumHeight() < b - g.y() && b - g.y() < maximumHeight())
        t = g.y();

    if (movesLeft || movesTop)
        move(l, t);
    if (resizable)
        resize(r - l + 1, b - t + 1);
}

void CWidget::enterEvent(QEvent* event)
{
    setCursor(Qt::ArrowCursor);
    QWidget::enterEvent(event);
}

// --- painting and layout ----------------------------------------------------------------------

void CWidget::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    const int m = shadowMargin;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    QColor color = shadowColor;
    for (int i = 0; i < m; ++i) {
        const int d = m - i;
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        path.addRoundedRect(QRectF(d, d, QWidget::width() - 2 * d, QWidget::height() - 2 * d), 1, 1,
                            Qt::RelativeSize);
        // The factor compounds ring after ring, so the shadow thins out quickly away from the frame.
        color.setAlphaF(color.alphaF() * d / m);
        painter.setPen(color);
        painter.drawPath(path);
    }
}

void CWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutFrame();
}

void CWidget::LayoutFrame()
{
    if (!topBand)
        return; // a resize event can come before the frame is built
    const int m = shadowMargin;
    topBand->setGeometry(m, m, width(), topBand->height());
    bottomBand->setGeometry(topBand->x(), topBand->y() + topBand->height(), topBand->width(),
                            height() - topBand->height());

    closeButton->move(topBand->width() - closeButton->width(), 0);
    QWidget* leftNeighbour = closeButton;
    if (maxButton) {
        maxButton->resize(closeButton->size());
        maxButton->move(closeButton->x() - maxButton->width(), closeButton->y());
        leftNeighbour = maxButton;
    }
    minButton->move(leftNeighbour->x() - minButton->width(), closeButton->y());
}

// --- window states and animations -------------------------------------------------------------

void CWidget::ShowMaxMin()
{
    if (!resizable)
        return;
    if (!maximized) {
        AnimateMaximize();
        if (maxButton)
            maxButton->setStyleSheet(QStringLiteral(
                "QPushButton{ background: transparent url(:/img/img/btn_max2min.png); border: none;} "
                "QPushButton:hover{ background-color: rgba( 255, 255, 255, 0.3 ); border: none; } "));
    } else {
        AnimateRestore();
        if (maxButton)
            maxButton->setStyleSheet(QStringLiteral(
                "QPushButton{ background: transparent url(:/img/img/btn_max.png); border: none; } "
                "QPushButton:hover{ background-color: rgba( 255, 255, 255, 0.3 ) ; border: none; }"));
    }
}

void CWidget::Show()
{
    QWidget::show();
    FadeIn();
}

void CWidget::ShowFullScreen()
{
    restoreGeometry = VisibleGlobalRect();
    const QRect area = ScreenAreaOf(this);
    resize(area.size());
    move(area.topLeft());
}

void CWidget::ShowMaximized()
{
    maximized = true;
    restoreGeometry = VisibleGlobalRect();
    const QRect area = AvailableAreaOf(this);
    resize(area.size());
    move(area.topLeft());
}

void CWidget::ShowMinimized()
{
    QWidget::showMinimized();
}

void CWidget::ShowNormal()
{
    QWidget::showNormal();
}

void CWidget::AnimateMaximize()
{
    maximized = true;
    restoreGeometry = VisibleGlobalRect();
    const QRect area = AvailableAreaOf(this);
    AnimationResize(area.size());
    AnimationMove(area.topLeft());
}

void CWidget::AnimateRestore()
{
    maximized = false;
    AnimationResize(restoreGeometry.size());
    AnimationMove(restoreGeometry.topLeft());
}

void CWidget::FadeIn()
{
    StartAnimation("windowOpacity", 0.0, 1.0, fadeMsecs, nullptr);
}

void CWidget::FadeOut()
{
    StartAnimation("windowOpacity", 1.0, 0.0, fadeMsecs, &CWidget::CloseWindow);
}

void CWidget::AnimationResize(QSize size)
{
    const QSize target(size.width() + 2 * shadowMargin, size.height() + 2 * shadowMargin);
    StartAnimation("size", QWidget::size(), target, resizeMsecs, &CWidget::EmitFinishedAnimationResize);
}

void CWidget::AnimationMove(QPoint pos)
{
    const QPoint target = pos - QPoint(shadowMargin, shadowMargin);
    StartAnimation("pos", QWidget::pos(), target, resizeMsecs, &CWidget::EmitFinishedAnimationResize);
}

void CWidget::SetAnimated(bool on)
{
    animated = on;
}

bool CWidget::Animated()
{
    return animated;
}

void CWidget::StartAnimation(const QByteArray& property, const QVariant& from, const QVariant& to, int msecs,
                             void (CWidget::*whenFinished)())
{
    if (!animated) {
        setProperty(property.constData(), to);
        if (whenFinished)
            QMetaObject::invokeMethod(this, whenFinished, Qt::QueuedConnection);
        return;
    }
    // The window owns the animation: it deletes itself when it stops, and a window destroyed (or a
    // program ending) while it still runs takes it along instead of leaving it behind.
    auto* animation = new QPropertyAnimation(this, property, this);
    animation->setDuration(msecs);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setEasingCurve(QEasingCurve::Linear);
    if (whenFinished)
        connect(animation, &QAbstractAnimation::finished, this, whenFinished);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
