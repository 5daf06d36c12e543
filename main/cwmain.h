#pragma once

#include <QDateTime>
#include <QNetworkReply>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

#include "app/accountlock.h"
#include "ui/cwidget.h"

class CAllList;
class CAutoPrint;
class CConnectionState;
class CNewOrderReminder;
class COrder;
class COrderWidget;
class CSettings;
class CSoftwareUpdate;
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
// shortcut buttons, the tray icon and the software update. It holds the account's lock file for as
// long as it lives, so that another process on this computer cannot log in the same account, and
// closing it ends the program.
class CWMain : public CWidget
{
    Q_OBJECT
public:
    // `accountLock`: the lock the login took for this account, held from now on by the window; without
    // one the window takes the account's lock itself.
    explicit CWMain(QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags(),
                    std::unique_ptr<AccountLock> accountLock = nullptr);
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
    QPushButton* UpdateButton() const { return updateButton; }
    QProgressBar* ProgressBar() const { return progressBar; }
    QSystemTrayIcon* TrayIcon() const { return trayIcon; }
    QMenu* TrayMenu() const { return trayMenu; }
    CWUserInfo* UserInfoWindow() const;
    CWIncome* IncomeWindow() const;
    CAllList* AllList() const { return allList; }
    QPushButton* SettingsButton() const { return settingsButton; }
    QLabel* OfflineBand() const { return offlineBand; }
    CWSettings* SettingsWindow() const;

    // Fed by the order polls (a success or a failure of each poll); while it says the connection is
    // lost, the head shows a band and the tray icon and tooltip say so.
    CConnectionState* ConnectionState() const { return connectionState; }
    // The logged-in account's settings and the helpers that follow them; null without an account.
    CSettings* Settings() const { return settings; }
    // Told when a new order's row starts blinking and when it is opened.
    CNewOrderReminder* Reminder() const { return reminder; }
    // Told when the detail of a new order has been fetched.
    CAutoPrint* AutoPrint() const { return autoPrint; }
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
    void ShowConnectionLostFor(int seconds);
    void ShowConnectionRestored();
    void SlotOpenOrderDetail(COrder* pOrder);
    void SearchTextChanged(QString text);
    void SearchOpenOrderDetail(QString strId);
    void UpdateLoginStamp();
    void GetUserInfo();
    bool SaveAllUserInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildHead();
    void BuildTabs();
    void BuildShortcutButtons();
    void BuildTray();
    void WatchOrders();
    void BuildConnectionBand();
    void ShowTrayMessage(const QString& text, const QString& title = QString());
    void BuildUpdate();
    void ShowUpdateState();
    void ShowUpdateProgress(qint64 bytesReceived, qint64 bytesTotal);
    void SearchEntered();
    void OpenFromSearch(const QString& id);

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
    QLabel* offlineBand = nullptr;
    CConnectionState* connectionState = nullptr;
    CSettings* settings = nullptr;
    CNewOrderReminder* reminder = nullptr;
    CAutoPrint* autoPrint = nullptr;
    std::unique_ptr<AccountLock> loginStampLock;

    QProgressBar* progressBar = nullptr;
    QPushButton* updateButton = nullptr;
    QNetworkAccessManager* networkManager = nullptr; // the update's
    CSoftwareUpdate* update = nullptr;

    // The id the search opened during the event being handled (see OpenFromSearch).
    QString justOpened;
};
