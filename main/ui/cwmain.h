#pragma once

#include <QDateTime>
#include <QSystemTrayIcon>

#include <memory>

#include "ui/cwidget.h"

class CAllList;
class CConnectionBand;
class COrder;
class CSession;
class CSoftwareUpdate;
class CUpdateButton;
class CWebLabel;
class CWindowKeeper;
class QCompleter;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QTabWidget;

// The main window of a session: who is logged in, the order lists, search by order number, the
// shortcut buttons, the tray icon and the software update. It owns the session (and with it the
// account's lock file, so that another process on this computer cannot log in the same account)
// and ends it when it goes; the windows it opens for the session (CWindowKeeper) go before it.
// Widgets are found by their object names: "plblAvatar", "plblNickname", "ptabMain", "pscrollOrders",
// "pleditSearch", "pbtnHomeLink", "pbtnCashLink", "pbtnShopCash", "pbtnServerTable", "psbtnSetup",
// "lblOffline", "ppbtnUpdate", the order pane "pallList" and the tray menu "pmenuTray".
class CWMain : public CWidget
{
    Q_OBJECT
public:
    // `session`: the logged-in session, owned by the window from now on.
    explicit CWMain(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWMain() override;

    static const QString searchHint; // "搜索：好友、订单"

    bool HoldsLoginStamp() const;
    // The tray icon of the session: the login's success and every later notice of the session.
    QSystemTrayIcon* TrayIcon() const { return trayIcon; }
    CSession* Session() const { return session.get(); }
    // Checks for a newer build once, at construction; the update button and bar follow it.
    CSoftwareUpdate* Update() const { return update; }

public slots:
    void OpenHomePage();
    void OpenCashPage();
    void onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void OpenUserInfo();
    void OpenIncome();
    void OpenSettings();
    void ShowConnectionLost(const QDateTime& since);
    void ShowConnectionRestored();
    void ShowSoundUnavailable();
    void SlotOpenOrderDetail(COrder* pOrder);
    void SearchTextChanged(QString text);
    void SearchOpenOrderDetail(QString strId);
    void UpdateLoginStamp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildHead();
    void BuildTabs();
    void BuildShortcutButtons();
    void BuildTray();
    void TellReminderWhetherSeen(bool outOfSight);
    void BuildConnectionBand();
    void ShowTrayMessage(const QString& text, const QString& title = QString());
    void ShowTrayToolTip();
    void BuildUpdate();
    void SearchEntered();
    void OpenFromSearch(const QString& id);

    std::unique_ptr<CSession> session;
    CWindowKeeper* windows = nullptr;
    CAllList* allList = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    CWebLabel* avatarLabel = nullptr;
    QLabel* nicknameLabel = nullptr;
    QPushButton* homeLinkButton = nullptr;
    QPushButton* cashLinkButton = nullptr;
    QPushButton* incomeButton = nullptr;
    QPushButton* serverTableButton = nullptr;
    QTabWidget* tabWidget = nullptr;
    QScrollArea* ordersArea = nullptr;
    QList<QWidget*> placeholderPages;
    QLineEdit* searchEdit = nullptr;
    QCompleter* searchCompleter = nullptr;
    QPushButton* settingsButton = nullptr;
    CConnectionBand* offlineBand = nullptr;
    QDateTime connectionLostSince; // invalid while connected
    bool soundUnavailable = false;

    CUpdateButton* updateButton = nullptr;
    CSoftwareUpdate* update = nullptr;

    // The id the search opened during the event being handled (see OpenFromSearch).
    QString justOpened;
};
