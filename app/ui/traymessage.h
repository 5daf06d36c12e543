#pragma once

#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTimer;

// Balloon messages of the tray icon. Where the desktop has no system tray (many Linux desktops,
// Xvfb) a balloon would be lost, so the same message is shown as a small notice in the corner of
// the screen for the same time instead.
namespace Tray {

struct Message
{
    QString title;
    QString text;
    QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
    bool asNotice = false; // shown by the corner notice rather than the system tray
    QString actionText;    // the message's button, empty when it has none
};

// Shows the message through `trayIcon`. Without a tray icon nothing is shown.
void ShowMessage(QSystemTrayIcon* trayIcon, const QString& title, const QString& text,
                 QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::Information, int msecs = 10000);
// The same with something to do about it: a button `actionText` on the corner notice, or a click on
// the balloon (whose text then says so). A newer message drops the action of the one before.
void ShowMessage(QSystemTrayIcon* trayIcon, const QString& title, const QString& text,
                 QSystemTrayIcon::MessageIcon icon, int msecs, const QString& actionText,
                 std::function<void()> action);

Message LastMessage();
int MessageCount();
QWidget* CurrentNotice(); // the corner notice on screen, or null

// Forces the corner notice even where a system tray exists (for tests and for desktops whose tray
// swallows balloons).
void SetAlwaysUseNotice(bool always);

} // namespace Tray

// The corner notice: title, text and the message kind's icon, closed after its time or by a click.
class CTrayNotice : public QWidget
{
    Q_OBJECT
public:
    CTrayNotice(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs,
                const QString& actionText = QString(), std::function<void()> action = nullptr);

    QString Title() const;
    QString Text() const;
    QPushButton* ActionButton() const { return actionButton; } // null without an action

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* titleLabel;
    QLabel* textLabel;
    QPushButton* actionButton = nullptr;
    QTimer* closeTimer;
};
