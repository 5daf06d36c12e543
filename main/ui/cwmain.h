#pragma once

#include <QDateTime>
#include <QNetworkReply>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

#include "ui/cwidget.h"

class CAllList;
class CAutoPrint;
class CConnectionBand;
class CConnectionState;
class CNewOrderReminder;
class COrder;
class COrderWidget;
class CSession;
class CSettings;
class CSoftwareUpdate;
class CUpdateButton;
class CWIncome;
class CWSettings;
class CWebLabel;
class CWUserInfo;
class QCompleter;
class QLabel;
class QLineEdit;
class QMenu;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTabWidget;

// The main window a login opens: who is logged in, the order lists, search by order number, the
// shortcut buttons, the tray icon and the software update. It owns the session the login made (and
// with it the account's lock file, so that another process on this computer cannot log in the same
// account) and ends it when it goes; closing it ends the program.
class CWMain : public CWidget
{
    Q_OBJECT
public:
    // `session`: the logged-in session, owned by the window from now on; without one the window
    // shows no orders and no account.
    explicit CWMain(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWMain() override;

    static const QString searchHint; // "搜索：好友、订单"

    bool HoldsLoginStamp() const;

    // For the window's tests and for tools that drive it.
    CWebLabel* AvatarLabel() const { return avatarLabel; }
    QLabel* NicknameLabel() const { return nicknameLabel; }
    QLineEdit* SearchEdit() const { return searchEdit; }
    QTabWidget* TabWidget() const { return tabWidget; }
    QScrollArea* OrdersArea() const { return ordersArea; }
    QPushButton* HomeLinkButton() const { return homeLinkButton; }
    QPushButton* CashLinkButton() const { return cashLinkButton; }
    QPushButton* IncomeButton() const { return incomeButton; }
    QPushButton* ServerTableButton() const { return serverTableButton; }
    QPushButton* UpdateButton() const;
    QProgressBar* ProgressBar() const;
    QSystemTrayIcon* TrayIcon() const { return trayIcon; }
    QMenu* TrayMenu() const { return trayMenu; }
    CWUserInfo* UserInfoWindow() const;
    CWIncome* IncomeWindow() const;
    CAllList* AllList() const { return allList; }
    QPushButton* SettingsButton() const { return settingsButton; }
    QLabel* OfflineBand() const;
    CWSettings* SettingsWindow() const;

    CSession* Session() const { return session.get(); }
    // The session's connection state: while it says the connection is lost, the head shows a band
    // and the tray icon and tooltip say so. The tooltip also says when the sounds cannot be heard.
    CConnectionState* ConnectionState() const;
    // The logged-in account's settings and the helpers that follow them; null without a session.
    CSettings* Settings() const;
    // Told when a new order's row starts blinking and when it is opened.
    CNewOrderReminder* Reminder() const;
    CAutoPrint* AutoPrint() const;
    // Checks for a newer build once, at construction; the update button and bar follow it.
    CSoftwareUpdate* Update() const { return update; }

public slots:
    void ShowMenu();
    void OpenHomePage();
    void OpenCashPage();
    void onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void slotError(QNetworkReply::NetworkError);
    void OpenUserInfo();
    void OpenIncome();
    void SetUserInfoNULL();
    void SetIncomeNULL();
    void OpenSettings();
    void SetSettingsNULL();
    void ShowConnectionLost(const QDateTime& since);
    void ShowConnectionRestored();
    void ShowSoundUnavailable();
    void SlotOpenOrderDetail(COrder* pOrder);
    void SearchTextChanged(QString text);
    void SearchOpenOrderDetail(QString strId);
    void UpdateLoginStamp();
    void GetUserInfo();
    bool SaveAllUserInfo();

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
    template <class Window, class Make>
    void OpenOne(QPointer<Window>& window, void (CWMain::*forget)(), Make make);
    void SearchEntered();
    void OpenFromSearch(const QString& id);

    std::unique_ptr<CSession> session;
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
    QPointer<CWUserInfo> userInfoWindow;
    QPointer<CWIncome> incomeWindow;
    QPointer<CWSettings> settingsWindow;
    QPushButton* settingsButton = nullptr;
    CConnectionBand* offlineBand = nullptr;
    QDateTime connectionLostSince; // invalid while connected
    bool soundUnavailable = false;

    CUpdateButton* updateButton = nullptr;
    CSoftwareUpdate* update = nullptr;

    // The id the search opened during the event being handled (see OpenFromSearch).
    QString justOpened;
};
