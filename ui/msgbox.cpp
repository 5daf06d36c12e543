#include "ui/msgbox.h"

#include "ui/cwidget.h"

#include <QLabel>
#include <QMovie>
#include <QTimer>

namespace {

constexpr int boxMinimum = 120;
// A long message grows the box downwards rather than past the window's sides.
constexpr int boxSideGap = 20;

int realWidth(const CWidget& window)
{
    return static_cast<const QWidget&>(window).width();
}

int realHeight(const CWidget& window)
{
    return static_cast<const QWidget&>(window).height();
}

QPoint centredInWindow(const CWidget& window, const QSize& label)
{
    return QPoint((realWidth(window) - label.width()) / 2, (realHeight(window) - label.height()) / 2);
}

QPoint centredInBand(const CWidget& window, const QSize& label)
{
    return QPoint((realWidth(window) - label.width()) / 2,
                  window.TopBandHeight() + (window.BottomBandHeight() - label.height()) / 2);
}

QPoint centredInVisibleBand(const CWidget& window, const QSize& label)
{
    return QPoint((window.width() - label.width()) / 2,
                  window.TopBandHeight() + (window.BottomBandHeight() - label.height()) / 2);
}

} // namespace

CMsgBox::Placement CMsgBox::ForOrderWidget()
{
    return {centredInWindow, centredInBand};
}

CMsgBox::Placement CMsgBox::ForServerTable()
{
    return {centredInBand, Place()};
}

CMsgBox::Placement CMsgBox::ForUserInfo()
{
    return {centredInVisibleBand, centredInVisibleBand};
}

CMsgBox::Placement CMsgBox::ForIncome()
{
    return {centredInVisibleBand, centredInVisibleBand};
}

CMsgBox::Placement CMsgBox::ForSettings()
{
    return {centredInVisibleBand, Place()};
}

CMsgBox::CMsgBox(CWidget* window, Placement placement)
    : QObject(window), window(window), placement(std::move(placement))
{
}

CMsgBox::~CMsgBox() = default;

void CMsgBox::ShowMsgBox(const QString& message, int second)
{
    if (HasLoadingIndicator())
        HideLoadingAnimation();

    if (!msgBoxLabel)
        msgBoxLabel = new QLabel(window);
    else
        msgBoxLabel->hide();

    msgBoxLabel->setText(message);
    msgBoxLabel->setWordWrap(true);
    msgBoxLabel->setScaledContents(true);
    msgBoxLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    msgBoxLabel->setMinimumSize(boxMinimum, boxMinimum);
    msgBoxLabel->setStyleSheet(QStringLiteral(
        "background: rgba(51, 51, 51, 0.5);color: #fff;font-size: 14px;padding: 8px;border-radius: 5px;"));
    PlaceBox();
    msgBoxLabel->raise();
    msgBoxLabel->show();

    if (second > 0) {
        if (!msgBoxTimer) {
            msgBoxTimer = new QTimer(window);
            connect(msgBoxTimer, &QTimer::timeout, this, &CMsgBox::HideMsgBox);
        }
        msgBoxTimer->start(second * 1000);
    }
}

void CMsgBox::HideMsgBox()
{
    if (msgBoxLabel)
        msgBoxLabel->hide();
    if (msgBoxTimer) {
        msgBoxTimer->stop();
        msgBoxTimer->disconnect(this);
        // This may run inside the timer's own timeout(): let the event loop delete it.
        msgBoxTimer->deleteLater();
        msgBoxTimer = nullptr;
    }
}

void CMsgBox::ShowLoadingAnimation()
{
    if (!HasLoadingIndicator())
        return;

    HideMsgBox();
    if (!loadingLabel)
        loadingLabel = new QLabel(window);
    loadingLabel->setScaledContents(true);
    loadingLabel->resize(loadingSize, loadingSize);
    PlaceLoading();

    // The label does not own its movie; parenting it to the label ends both together.
    QMovie* previous = loadingLabel->movie();
    auto* movie = new QMovie(QStringLiteral(":/img/img/cattle.gif"), QByteArray(), loadingLabel);
    loadingLabel->setMovie(movie);
    delete previous;
    movie->start();
    loadingLabel->raise();
    loadingLabel->show();
}

void CMsgBox::HideLoadingAnimation()
{
    if (!loadingLabel)
        return;
    loadingLabel->hide();
    delete loadingLabel;
    loadingLabel = nullptr;
}

void CMsgBox::Reposition()
{
    if (msgBoxLabel && !msgBoxLabel->isHidden())
        PlaceBox();
    if (loadingLabel)
        PlaceLoading();
}

void CMsgBox::PlaceBox()
{
    // Sized to its text (at least the minimum) so that a long message is not cut off.
    msgBoxLabel->adjustSize();
    const int widest = qMax(boxMinimum, window->width() - 2 * boxSideGap);
    if (msgBoxLabel->width() > widest)
        msgBoxLabel->resize(widest, qMax(boxMinimum, msgBoxLabel->heightForWidth(widest)));
    msgBoxLabel->move(placement.box(*window, msgBoxLabel->size()));
}

void CMsgBox::PlaceLoading()
{
    loadingLabel->move(placement.loading(*window, loadingLabel->size()));
}
