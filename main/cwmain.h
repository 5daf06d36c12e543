#pragma once

#include <QCryptographicHash>
#include <QDateTime>
#include <QNetworkReply>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>

#include <memory>

#include "ui/cwidget.h"

class CAllList;
class CAutoPrint;
class CConnectionState;
class CNewOrderReminder;
class COrder;
class COrderWidget;
class CSession;
class CSettings;
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
class QSaveFile;
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

    // Where a downloaded installer goes: the "updates" folder of the account's folder, under the
    // download address's file name reduced to a safe one that ends in the installer suffix.
    static QString InstallerPath(qint64 account, const QUrl& url);

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

    CSession* Session() const { return session.get(); }
    // The session's connection state: while it says the connection is lost, the head shows a band
    // and the tray icon and tooltip say so.
    CConnectionState* ConnectionState() const;
    // The logged-in account's settings and the helpers that follow them; null without a session.
    CSettings* Settings() const;
    // Told when a new order's row starts blinking and when it is opened.
    CNewOrderReminder* Reminder() const;
    CAutoPrint* AutoPrint() const;
    QString CurrentVersion() const { return currentVersion; }
    void SetCurrentVersion(const QString& version) { currentVersion = version; }
    QUrl DownloadUrl() const { return downloadUrl; }
    QString DownloadDigest() const { return downloadDigest; } // the SHA-256 the platform named, hex

public slots:
    void ShowMenu();
    void OpenHomePage();
    void OpenCashPage();
    bool SlotCheckUpdate(QString strVersion);
    void HttpUpdate();
    void HttpDownUpdate();
    void ReplyHttpUpdate(QNetworkReply* reply);
    void ReplyFinishedDownUpdate(QNetworkReply* reply);
    void slotClickInstall();
    void onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void SlotDownProgress(qint64 bytesReceived, qint64 bytesTotal);
    void slotError(QNetworkReply::NetworkError);
    void slotErrorUpdate(QNetworkReply::NetworkError);
    void slotErrorDownUpdate(QNetworkReply::NetworkError);
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
    void WatchOrders();
    void TellReminderWhetherSeen(bool outOfSight);
    void BuildConnectionBand();
    void ShowTrayMessage(const QString& text, const QString& title = QString());
    void RouteUpdateButton(void (CWMain::*target)());
    void DownloadFailed(const QString& trayText);
    void ShowPackageUpdateHint();
    void ReadDownUpdate();
    void CheckDownRedirect(const QUrl& target);
    QString TakeDownloadedBytes(QNetworkReply* reply);
    void RefuseDownload(const QString& why);
    void DropInstallerFile();
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
    QLabel* offlineBand = nullptr;

    QProgressBar* progressBar = nullptr;
    QPushButton* updateButton = nullptr;
    QString currentVersion;
    QNetworkAccessManager* networkManager = nullptr;
    QPointer<QNetworkReply> downloadReply;
    QUrl downloadUrl;
    QString downloadDigest; // lower-case hex SHA-256 from the update check; empty when none came
    QString installerFile;  // the file the last download was written to
    // The running download: written as it arrives into a file that takes the installer's name only
    // once it is whole and checked; the address it is on now (after redirects) and why it was stopped.
    std::unique_ptr<QSaveFile> installerSave;
    QCryptographicHash installerHash{QCryptographicHash::Sha256};
    qint64 downloadedBytes = 0;
    QUrl downloadAt;
    QString downloadRefusal;

    // The id the search opened during the event being handled (see OpenFromSearch).
    QString justOpened;
};
