#include "app/ui/traymessage.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ui/screens.h"

namespace Tray {

static Message lastMessage;
static int messageCount = 0;
static bool alwaysUseNotice = false;
static QPointer<CTrayNotice> notice;
static QMetaObject::Connection balloonAction;

static bool systemTrayShowsBalloons(QSystemTrayIcon* trayIcon)
{
    return !alwaysUseNotice && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable() &&
           QSystemTrayIcon::supportsMessages();
}

void ShowMessage(QSystemTrayIcon* trayIcon, const QString& title, const QString& text,
                 QSystemTrayIcon::MessageIcon icon, int msecs)
{
    ShowMessage(trayIcon, title, text, icon, msecs, QString(), nullptr);
}

void ShowMessage(QSystemTrayIcon* trayIcon, const QString& title, const QString& text,
                 QSystemTrayIcon::MessageIcon icon, int msecs, const QString& actionText,
                 std::function<void()> action)
{
    if (!trayIcon)
        return;

    lastMessage.title = title;
    lastMessage.text = text;
    lastMessage.icon = icon;
    lastMessage.actionText = action ? actionText : QString();
    ++messageCount;
    QObject::disconnect(balloonAction);

    if (systemTrayShowsBalloons(trayIcon)) {
        lastMessage.asNotice = false;
        if (action) {
            // A balloon has no buttons: a click on it does what the button would.
            balloonAction = QObject::connect(trayIcon, &QSystemTrayIcon::messageClicked, trayIcon, [action] {
                QObject::disconnect(balloonAction);
                action();
            });
        }
        trayIcon->showMessage(title, action ? text + QStringLiteral("\n（点击此消息") + actionText + QStringLiteral("）") : text,
                              icon, msecs);
        return;
    }

    lastMessage.asNotice = true;
    // Like a balloon, a newer message replaces the one on screen.
    if (notice)
        notice->deleteLater();
    notice = new CTrayNotice(title, text, icon, msecs, actionText, std::move(action));
    notice->show();
}

Message LastMessage()
{
    return lastMessage;
}

int MessageCount()
{
    return messageCount;
}

QWidget* CurrentNotice()
{
    return notice.data();
}

void SetAlwaysUseNotice(bool always)
{
    alwaysUseNotice = always;
}

} // namespace Tray

static QStyle::StandardPixmap standardPixmapFor(QSystemTrayIcon::MessageIcon icon)
{
    switch (icon) {
    case QSystemTrayIcon::Warning:
        return QStyle::SP_MessageBoxWarning;
    case QSystemTrayIcon::Critical:
        return QStyle::SP_MessageBoxCritical;
    default:
        return QStyle::SP_MessageBoxInformation;
    }
}

CTrayNotice::CTrayNotice(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                         int msecs, const QString& actionText, std::function<void()> action)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      titleLabel(new QLabel(title, this)), textLabel(new QLabel(text, this)), closeTimer(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName(QStringLiteral("trayNotice"));
    setStyleSheet(
        QStringLiteral("QWidget#trayNotice{background: #fff; border: 1px solid #f50; border-radius: 3px;}"
                       "QLabel{background: transparent; color: #333;}"));

    auto* iconLabel = new QLabel(this);
    if (icon != QSystemTrayIcon::NoIcon)
        iconLabel->setPixmap(style()->standardIcon(standardPixmapFor(icon)).pixmap(32, 32));
    titleLabel->setStyleSheet(QStringLiteral("font-weight: bold; color: #f50;"));
    textLabel->setWordWrap(true);
    textLabel->setMinimumWidth(220);
    textLabel->setMaximumWidth(320);

    auto* texts = new QVBoxLayout;
    texts->addWidget(titleLabel);
    texts->addWidget(textLabel);
    if (action) {
        actionButton = new QPushButton(actionText, this);
        actionButton->setCursor(Qt::PointingHandCursor);
        actionButton->setStyleSheet(QStringLiteral(
            "QPushButton{background: #f50; color: #fff; border: none; border-radius: 3px; padding: 4px 12px;}"
            "QPushButton:hover{background: rgba(255, 85, 0, 0.8);}"));
        connect(actionButton, &QPushButton::clicked, this, [this, action] {
            close();
            action();
        });
        texts->addWidget(actionButton, 0, Qt::AlignRight);
    }
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 10, 12, 10);
    row->addWidget(iconLabel, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    adjustSize();

    const QRect area = AvailableAreaAt(QCursor::pos());
    move(area.right() - width() - 16, area.bottom() - height() - 16);

    closeTimer->setSingleShot(true);
    connect(closeTimer, &QTimer::timeout, this, &QWidget::close);
    closeTimer->start(msecs > 0 ? msecs : 10000);
}

QString CTrayNotice::Title() const
{
    return titleLabel->text();
}

QString CTrayNotice::Text() const
{
    return textLabel->text();
}

void CTrayNotice::mouseReleaseEvent(QMouseEvent*)
{
    close();
}
