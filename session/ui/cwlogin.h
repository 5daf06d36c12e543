#pragma once

#include <QList>
#include <QMovie>
#include <QPointer>
#include <QSet>
#include <QSystemTrayIcon>

#include <memory>

#include "net/job.h"
#include "session/cuser.h"
#include "session/sessionoptions.h"
#include "ui/cwidget.h"

class AccountLock;
class CLoginJob;
class CWebLabel;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QNetworkAccessManager;
class QPushButton;

// The first window: remembered accounts, password, the two options and the login itself. It only
// collects what the staff member typed and logs the account in: a successful login is reported
// (LoggedIn) with the account as the platform knows it, and whoever opened the window takes the
// account's lock and the network manager the login used (HandOverAccountLock, HandOverNetwork) to
// make the session. Widgets are found by their object names: "leditUser", "leditPassword",
// "chkRememberPassword", "chkAutoLogin", "pbtnLogin", "plblAvatar".
class CWLogin : public CWidget
{
    Q_OBJECT
public:
    // `options`: the limits its login request is held to and where its network manager comes from.
    explicit CWLogin(const SessionOptions& options = SessionOptions(), QWidget* parent = nullptr);
    ~CWLogin() override;

    static const QString accountHint;  // "请输入手机号"
    static const QString passwordHint; // "密码"

    void LoadUsers();
    bool SaveUsers();
    void RememberCurrentUser();
    bool IsAccountLoggedIn();
    // Takes the session account's lock for this login, before its request goes out; afterwards
    // HoldsAccountLock() says whether it was got. A lock held by another live session is refused.
    void CreateAccountLock();
    bool HoldsAccountLock() const;
    bool IsWaiting() const; // the inputs are hidden while a login request runs

    // After LoggedIn: the account's lock this login took (null when it could not be written) and
    // the network manager it used, each given once to whoever makes the session.
    std::unique_ptr<AccountLock> HandOverAccountLock();
    QNetworkAccessManager* HandOverNetwork();

signals:
    // The platform let `account` in. The accounts are remembered and saved already; `problems` says
    // what of that (or of the account's lock) failed, in the staff member's words. The window
    // closes right after, without this close counting as the staff member's.
    void LoggedIn(const CUser& account, const QStringList& problems);

public slots:
    bool HttpLogin(const CUser* user);
    void ReplyLogin(const CUser& account);
    void ShowLoadingAnimation();
    void HideLoadingAnimation();
    void Login();
    void HideAll();
    void ShowAll();
    void GetPasswordToInput(QString id);
    void OnSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void DeleteItem(QString);
    void EditUserChanged(QString text);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTrayIcon();
    void FillRows();
    void ShowAvatar(const QString& path);
    void ShowTrayMessage(const QString& text, QSystemTrayIcon::MessageIcon icon);
    void LoginFailed(const JobFailure& failure);
    QList<QWidget*> FormWidgets() const; // the seven inputs and links, or none while any is missing
    void SubmitOrFocus();
    bool AccountIsEmpty() const;
    bool PasswordIsEmpty() const;
    void AnimateAvatarTo(const QPoint& target, void (CWLogin::*whenDone)());
    void AskPasswordVault();
    void PasswordRecalled(qint64 account, const QString& password);
    void PasswordUnanswered(qint64 account);
    // Whether the credential store has not said yet whether it remembers the password of `user`.
    bool RememberUnknown(const CUser* user) const;
    // The password box and the two options for `user` (none: an account not remembered).
    void ShowRemembered(const CUser* user);

    QList<CUser*>* users;
    SessionOptions options;
    QNetworkAccessManager* manager;
    CLoginJob* loginJob = nullptr;
    QSystemTrayIcon* trayIcon;
    QMenu* trayMenu;
    CWebLabel* avatarLabel;
    QComboBox* accountBox;
    QLineEdit* passwordBox;
    QCheckBox* rememberBox;
    QCheckBox* autoLoginBox;
    QLabel* registerLink;
    QLabel* forgetLink;
    QPushButton* loginButton;
    QPointer<QMovie> avatarMovie; // the avatar's animation while it shows one
    // From CreateAccountLock() until the login ends: handed over with the session on success, given
    // back on failure. Null when another session holds the account.
    std::unique_ptr<AccountLock> accountLock;
    // The account being logged in, as typed; the session starts from it.
    CUser loginUser;
    // The first account logs in by itself once the credential store has given its password.
    qint64 autoLoginAccount = 0;
    // Accounts asked of the credential store whose answer has not come: what it remembers of them
    // is unknown, so it is neither shown nor forgotten.
    QSet<qint64> awaitingStore;
    // The login takes the password out of the store: "记住密码" was shown ticked and is not now.
    bool loginForgets = false;
};
