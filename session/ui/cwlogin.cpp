#include "session/ui/cwlogin.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMovie>
#include <QPropertyAnimation>
#include <QPushButton>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/screens.h"
#include "app/ui/singleapplication.h"
#include "app/ui/traymessage.h"
#include "net/request.h"
#include "session/ui/comboboxitem.h"
#include "session/cuser.h"
#include "session/loginjob.h"
#include "session/passwordvault.h"
#include "session/userstore.h"
#include "ui/cweblabel.h"

const QString CWLogin::accountHint = QStringLiteral("请输入手机号");
const QString CWLogin::passwordHint = QStringLiteral("密码");

static const int avatarSide = 80;

CWLogin::CWLogin(const SessionOptions& sessionOptions, QWidget* parent)
    : CWidget(parent), users(nullptr), options(sessionOptions), manager(nullptr), trayIcon(nullptr), trayMenu(nullptr),
      avatarLabel(nullptr), accountBox(nullptr), passwordBox(nullptr), rememberBox(nullptr),
      autoLoginBox(nullptr), registerLink(nullptr), forgetLink(nullptr), loginButton(nullptr)
{
    setFixedSize(430, 330);
    TopBand()->setFixedHeight(180);
    BottomBand()->setFixedHeight(150);
    setAttribute(Qt::WA_DeleteOnClose);

    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    SetResizable(false);
    SetTitle(tr("用户登录-Velm"));
    setWindowIcon(QIcon(QStringLiteral(":/img/img/velm_unconnect.ico")));

    TopBand()->setStyleSheet(QStringLiteral("QWidget#") + TopBand()->objectName() +
                             QStringLiteral("{background: transparent url(:/img/img/login_top.png);"
                                            "border-top-left-radius: 3px;border-top-right-radius: 3px;}"));

    QWidget* band = BottomBand();
    const int bandHeight = BottomBandHeight();

    avatarLabel = new CWebLabel(band);
    avatarLabel->setObjectName(QStringLiteral("plblAvatar"));
    avatarLabel->setScaledContents(true);
    avatarLabel->setAlignment(Qt::AlignCenter);
    avatarLabel->setGeometry(30, (bandHeight - avatarSide) / 2, avatarSide, avatarSide);
    ShowAvatar(QStringLiteral(":/img/img/cattle.gif"));

    accountBox = new QComboBox(band);
    accountBox->setEditable(true);
    // Enter submits the login; it must not also add the typed text as a row of the drop-down.
    accountBox->setInsertPolicy(QComboBox::NoInsert);
    accountBox->setGeometry(avatarLabel->x() + avatarLabel->width() + 10, avatarLabel->y(), 195, 30);
    accountBox->setEditText(accountHint);
    accountBox->setObjectName(QStringLiteral("leditUser"));
    accountBox->setStyleSheet(QStringLiteral(
        "QComboBox{background: transparent;border: 1px solid rgba( 255, 85, 0, 0.5);font-size: 13px;"
        "border-top-left-radius: 2px;border-top-right-radius: 2px;border-bottom-color: rgba(221, 221, 221, "
        "0.5);}"
        "QComboBox::down-arrow{background: transparent;border: none;image: "
        "url(:/img/img/arrow_bottom.png);padding: 0;}"
        "QComboBox::down-arrow:on{image: url(:/img/img/arrow_top.png);}QComboBox::drop-down{border: 0px;}"
        "QComboBox QAbstractItemView{border: 1px solid rgba( 255, 85, 0, 1);border-bottom-left-radius: 2px;"
        "border-bottom-right-radius: 2px;selection-background-color: rgba(255, 85, 0, 0.5);}"
        "QComboBox QAbstractItemView::item{height: 36px;}QComboBox:hover{border: 1px solid #f50;}"
        "QListView::item:selected{background: rgba(255, 85, 0, 1);}"
        "QListView::item:hover{background: rgba(255, 85, 0, 0.5);color: #fff;}"));
    connect(accountBox, &QComboBox::editTextChanged, this, &CWLogin::EditUserChanged);

    passwordBox = new QLineEdit(passwordHint, band);
    passwordBox->setObjectName(QStringLiteral("leditPassword"));
    passwordBox->setGeometry(accountBox->x(), accountBox->y() + accountBox->height(), accountBox->width(),
                             accountBox->height());
    passwordBox->setStyleSheet(QStringLiteral(
        "QLineEdit{background: transparent;border: 1px solid rgba( 255, 85, 0, 0.5);font-size: 13px;"
        "border-bottom-left-radius: 2px;border-bottom-right-radius: 2px;}QLineEdit:hover{border: 1px solid "
        "#f50;}"));

    auto makeLink = [band](const QString& url, const QString& text) {
        auto* link = new QLabel(band);
        link->setTextFormat(Qt::RichText);
        link->setText(QStringLiteral("<a style='text-decoration:none; color: #ff5500;' href='%1'>%2</a>")
                          .arg(url, text));
        link->resize(50, 30);
        link->setStyleSheet(QStringLiteral("color: rgba(255, 85, 0, 1);"));
        link->setOpenExternalLinks(true);
        return link;
    };
    registerLink = makeLink(RegisterPageUrl(), QStringLiteral("注册账号"));
    forgetLink = makeLink(ForgetPageUrl(), QStringLiteral("找回密码"));
    registerLink->move(10, bandHeight - passwordBox->height());
    forgetLink->move(width() - forgetLink->width() - 10, bandHeight - passwordBox->height());

    rememberBox = new QCheckBox(QStringLiteral("记住密码"), band);
    autoLoginBox = new QCheckBox(QStringLiteral("自动登录"), band);
    rememberBox->setObjectName(QStringLiteral("chkRememberPassword"));
    autoLoginBox->setObjectName(QStringLiteral("chkAutoLogin"));
    rememberBox->adjustSize();
    autoLoginBox->adjustSize();
    const int optionsY = passwordBox->y() + passwordBox->height();
    rememberBox->move(passwordBox->x(), optionsY);
    autoLoginBox->move(passwordBox->x() + passwordBox->width() - int(0.65 * autoLoginBox->width()), optionsY);

    loginButton = new QPushButton(QStringLiteral("登 录"), band);
    loginButton->setObjectName(QStringLiteral("pbtnLogin"));
    loginButton->setGeometry(accountBox->x() + accountBox->width() + 10, accountBox->y(),
                             2 * accountBox->height(), 2 * accountBox->height());
    loginButton->setStyleSheet(
        QStringLiteral("QPushButton{ border-radius: 30px;color: #fff; background: rgba( 7, 118, 197, 1 ); }"
                       "QPushButton:hover{ background: rgba( 7, 118, 197, 0.5 ); }"));

    accountBox->installEventFilter(this);
    passwordBox->installEventFilter(this);
    installEventFilter(this);
    loginButton->installEventFilter(this);

    CreateTrayIcon();
    LoadUsers();
    AskPasswordVault();
    FillRows();

    // Only with a password known now; one the credential store holds logs in once it has come.
    if (autoLoginBox->isChecked() && rememberBox->checkState() == Qt::Checked &&
        !(theApp && theApp->IsRunning()))
        Login();
}

CWLogin::~CWLogin()
{
    // Before the manager it goes through, so that a login still running is dropped, not orphaned.
    delete loginJob;
    delete trayIcon;
    if (users) {
        qDeleteAll(*users);
        delete users;
    }
}

// Passwords found in users.xml move into the credential store; the others are asked from it. The
// remember box's tooltip says where remembered passwords are kept, and when the store does not answer.
void CWLogin::AskPasswordVault()
{
    PasswordVault* vault = PasswordVault::Instance();
    auto showPlace = [this](PasswordVault::Place place) {
        switch (place) {
        case PasswordVault::Place::Keychain:
            rememberBox->setToolTip(QStringLiteral("密码保存在系统的凭据存储中。"));
            break;
        case PasswordVault::Place::File:
            rememberBox->setToolTip(
                QStringLiteral("没有可用的系统凭据存储：记住的密码经编码（未加密）保存在 users.xml 中。"));
            break;
        case PasswordVault::Place::NoAnswer:
            rememberBox->setToolTip(
                QStringLiteral("系统的凭据存储在 %1 秒内没有应答：存在其中的密码暂时取不到，"
                               "请手动输入；记住的密码暂经编码（未加密）保存在 users.xml 中。")
                    .arg(PasswordVault::AnswerDeadline() / 1000.0));
            break;
        case PasswordVault::Place::Unknown:
            rememberBox->setToolTip(QString());
            break;
        }
    };
    showPlace(vault->Where());
    connect(vault, &PasswordVault::PlaceChanged, this, showPlace);
    connect(vault, &PasswordVault::Recalled, this, &CWLogin::PasswordRecalled);
    connect(vault, &PasswordVault::RecallUnanswered, this, &CWLogin::PasswordUnanswered);
    if (!users)
        return;
    for (const CUser* user : qAsConst(*users)) {
        if (user->GetRememberPassword()) {
            vault->Keep(user->GetAccount(), user->GetPassword());
        } else {
            awaitingStore.insert(user->GetAccount());
            vault->Recall(user->GetAccount());
        }
    }
    const CUser* first = users->value(0);
    if (first && first->GetAutoLogin() && !first->GetRememberPassword())
        autoLoginAccount = first->GetAccount();
}

bool CWLogin::RememberUnknown(const CUser* user) const
{
    return user && !user->GetRememberPassword() && awaitingStore.contains(user->GetAccount());
}

void CWLogin::PasswordRecalled(qint64 account, const QString& password)
{
    const bool autoLogin = account == autoLoginAccount;
    if (autoLogin)
        autoLoginAccount = 0;
    awaitingStore.remove(account);
    if (!users)
        return;
    if (!password.isEmpty()) {
        for (CUser* user : qAsConst(*users)) {
            if (user->GetAccount() == account && !user->GetRememberPassword()) {
                user->SetPassword(password);
                user->SetRememberPassword(true);
            }
        }
    }
    // The form follows the answer only while it shows this account and nothing has been typed as
    // its password.
    if (IsWaiting() || accountBox->currentText() != QString::number(account) || !PasswordIsEmpty())
        return;
    GetPasswordToInput(QString::number(account));
    if (autoLogin && !password.isEmpty() && autoLoginBox->isChecked() && !(theApp && theApp->IsRunning()))
        Login();
}

// The store gave no answer in time, or refused: the form stops waiting for it. A late answer still
// fills it in (and logs in by itself) as long as nothing has been typed.
void CWLogin::PasswordUnanswered(qint64 account)
{
    if (!users)
        return;
    if (!IsWaiting() && accountBox->currentText() == QString::number(account) && PasswordIsEmpty())
        GetPasswordToInput(QString::number(account));
    if (account == autoLoginAccount)
        ShowTrayMessage(QStringLiteral("未能从系统的凭据存储取回记住的密码，请输入密码登录。"),
                        QSystemTrayIcon::Warning);
}

void CWLogin::ShowRemembered(const CUser* user)
{
    const bool unknown = RememberUnknown(user);
    const bool fetching = unknown && PasswordVault::Instance()->IsRecalling(user->GetAccount());
    passwordBox->setEnabled(!fetching);
    rememberBox->setEnabled(!fetching);
    autoLoginBox->setEnabled(!fetching);
    passwordBox->setPlaceholderText(fetching ? QStringLiteral("正在从系统凭据存储取回密码…") : QString());
    if (fetching) {
        rememberBox->setCheckState(Qt::PartiallyChecked);
        autoLoginBox->setChecked(user->GetAutoLogin());
        return;
    }
    rememberBox->setTristate(false);
    rememberBox->setChecked(user && user->GetRememberPassword());
    autoLoginBox->setChecked(user && user->GetRememberPassword() && user->GetAutoLogin());
}

void CWLogin::CreateTrayIcon()
{
    trayIcon = new QSystemTrayIcon;
    trayMenu = new QMenu(this);
    QAction* showWindow = trayMenu->addAction(QStringLiteral("主界面"));
    connect(showWindow, &QAction::triggered, this, [this] {
        raise();
        show();
        setFocus();
    });
    QAction* quitAction = trayMenu->addAction(QStringLiteral("退出程序"));
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    trayMenu->addSeparator();
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setToolTip(AppName);
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm_unconnect.ico")));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &CWLogin::OnSystemTrayIconClicked);
    trayIcon->show();
}

void CWLogin::FillRows()
{
    auto* list = new QListWidget(this);
    if (!users) {
        delete list;
        return;
    }
    accountBox->setModel(list->model());
    accountBox->setView(list);
    for (CUser* user : qAsConst(*users)) {
        auto* row = new ComboBoxItem(user, accountBox);
        auto* item = new QListWidgetItem(list);
        item->setSizeHint(row->size());
        list->setItemWidget(item, row);
        connect(row, &ComboBoxItem::Delete, this, &CWLogin::DeleteItem);
        connect(row, &ComboBoxItem::ShowAccount, this, &CWLogin::GetPasswordToInput);
    }
    if (!users->isEmpty())
        GetPasswordToInput(QString::number(users->first()->GetAccount()));
}

void CWLogin::ShowAvatar(const QString& path)
{
    // The label never deletes a movie, and a picture set after one only unhooks it: without this
    // every account typed would leave another animation running on the avatar.
    QMovie* previous = avatarMovie;
    const bool ours = path.startsWith(QLatin1String(":/"));
    if (ours && path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        if (previous && previous->fileName() == path && avatarLabel->movie() == previous)
            return;
        avatarMovie = new QMovie(path, QByteArray(), avatarLabel);
        avatarLabel->setMovie(avatarMovie);
        avatarMovie->start();
    } else {
        avatarMovie = nullptr;
        // A kept avatar is read within the limits of every picture from outside.
        avatarLabel->setPixmap(ours ? QPixmap(path) : CWebLabel::LoadPicture(path));
    }
    delete previous;
}

void CWLogin::ShowTrayMessage(const QString& text, QSystemTrayIcon::MessageIcon icon)
{
    Tray::ShowMessage(trayIcon, AppName, text, icon, 10000);
}

bool CWLogin::IsWaiting() const
{
    return loginButton && loginButton->isHidden();
}

void CWLogin::LoadUsers()
{
    UserStore store;
    if (store.Users().isEmpty())
        return;
    if (!users)
        users = new QList<CUser*>;
    qDeleteAll(*users);
    users->clear();
    for (const CUser* user : store.Users())
        users->append(new CUser(*user));
}

bool CWLogin::SaveUsers()
{
    if (!users)
        return false;
    UserStore store(users->toVector());
    return store.Save(PasswordVault::Instance()->HeldAccounts());
}

void CWLogin::RememberCurrentUser()
{
    if (!users)
        users = new QList<CUser*>;
    for (int i = 0; i < users->size(); ++i) {
        CUser* user = users->at(i);
        if (user->GetAccount() == loginUser.GetAccount()) {
            users->removeAt(i);
            *user = loginUser;
            users->prepend(user);
            return;
        }
    }
    users->prepend(new CUser(loginUser));
}

bool CWLogin::IsAccountLoggedIn()
{
    return AccountLock::IsHeldByLiveSession(AccountLockFile(loginUser.GetAccount()));
}

void CWLogin::CreateAccountLock()
{
    accountLock = std::make_unique<AccountLock>(loginUser.GetAccount());
    if (accountLock->Take() == AccountLock::Outcome::HeldByAnotherSession)
        accountLock.reset();
}

bool CWLogin::HoldsAccountLock() const
{
    return accountLock && accountLock->IsHeld();
}

void CWLogin::Login()
{
    if (!accountBox || !passwordBox || !rememberBox || !autoLoginBox)
        return;
    loginUser = CUser();
    loginUser.SetAccount(accountBox->currentText().toLongLong(nullptr, 10));
    loginUser.SetPassword(passwordBox->text());
    // Half ticked while the store is still asked: nothing is remembered anew, nothing forgotten.
    loginUser.SetRememberPassword(rememberBox->checkState() == Qt::Checked);
    loginUser.SetAutoLogin(autoLoginBox->isChecked());
    loginForgets = false;
    if (users) {
        for (const CUser* user : qAsConst(*users)) {
            if (user->GetAccount() == loginUser.GetAccount()) {
                loginUser.SetFace(user->GetFace());
                // Only a password that was shown as remembered is forgotten by unticking the box.
                loginForgets = user->GetRememberPassword() && !loginUser.GetRememberPassword();
                // What the store remembers of it is not known: its auto-login stays as it was, so
                // that it works again once the store gives the password.
                if (RememberUnknown(user) && !loginUser.GetRememberPassword())
                    loginUser.SetAutoLogin(user->GetAutoLogin());
                break;
            }
        }
    }

    // Taken before the request goes out, so that of two logins of one account that overlap only
    // one gets through. A lock that cannot be written (a full disk) does not stop the login; the
    // message after it says so.
    CreateAccountLock();
    if (!accountLock) {
        ShowTrayMessage(QStringLiteral("此用户已登录，不能重复登录。"), QSystemTrayIcon::Information);
        return;
    }

    ShowLoadingAnimation();
    if (HttpLogin(&loginUser))
        return;
    accountLock.reset();
    HideLoadingAnimation();
    ShowTrayMessage(QStringLiteral("登录失败，请重试！\n"), QSystemTrayIcon::Critical);
}

bool CWLogin::HttpLogin(const CUser* user)
{
    if (!manager)
        manager = options.MakeNetwork(this);
    if (!user)
        return false;
    if (!loginJob) {
        ApiLine line;
        line.network = manager;
        line.transferTimeoutMs = options.transferTimeoutMs;
        line.transferDeadlineMs = options.transferDeadlineMs;
        loginJob = new CLoginJob(line, this);
        connect(loginJob, &CLoginJob::LoggedIn, this, &CWLogin::ReplyLogin);
        connect(loginJob, &CJob::Failed, this, &CWLogin::LoginFailed);
    }
    return loginJob->Start(*user);
}

void CWLogin::LoginFailed(const JobFailure& failure)
{
    QString message;
    switch (failure.kind) {
    case JobFailure::Line:
        message = QStringLiteral("登录失败! 都是网络的错！\n") + QString::number(failure.errorCode) +
                  QStringLiteral(": ") + failure.message;
        break;
    case JobFailure::Refused:
        message = QStringLiteral("登录失败!\n") + failure.message;
        break;
    case JobFailure::Malformed:
        message = failure.message;
        break;
    }
    accountLock.reset();
    HideLoadingAnimation();
    accountBox->setFocus();
    ShowTrayMessage(message, QSystemTrayIcon::Critical);
}

void CWLogin::ReplyLogin(const CUser& account)
{
    loginUser = account;
    const bool lockHeld = HoldsAccountLock();
    if (loginUser.GetRememberPassword())
        PasswordVault::Instance()->Keep(loginUser.GetAccount(), loginUser.GetPassword());
    else if (loginForgets)
        PasswordVault::Instance()->Forget(loginUser.GetAccount());
    RememberCurrentUser();
    QStringList problems;
    if (!SaveUsers())
        problems << QStringLiteral("存储用户数据失败！");
    if (!lockHeld)
        problems << QStringLiteral("账号锁文件无法写入，本机可能重复登录此账号。");

    emit LoggedIn(loginUser, problems);
    // This close is the login's, not the staff member's: nobody hears it.
    disconnect(this, &CWidget::Close, nullptr, nullptr);
    close();
}

std::unique_ptr<AccountLock> CWLogin::HandOverAccountLock()
{
    return std::move(accountLock);
}

QNetworkAccessManager* CWLogin::HandOverNetwork()
{
    QNetworkAccessManager* network = manager;
    manager = nullptr;
    // The job went through it and is no use without it; it may be reporting right now.
    if (loginJob)
        loginJob->deleteLater();
    loginJob = nullptr;
    return network;
}

void CWLogin::AnimateAvatarTo(const QPoint& target, void (CWLogin::*whenDone)())
{
    // Owned by the label, so a window closed mid-move (a quick login) takes its animation along.
    auto* animation = new QPropertyAnimation(avatarLabel, "pos", avatarLabel);
    animation->setDuration(200);
    animation->setStartValue(avatarLabel->pos());
    animation->setEndValue(target);
    animation->setEasingCurve(QEasingCurve::Linear);
    if (whenDone)
        connect(animation, &QPropertyAnimation::finished, this, whenDone);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CWLogin::ShowLoadingAnimation()
{
    HideAll();
    AnimateAvatarTo(QPoint((width() - avatarSide) / 2, (BottomBandHeight() - avatarSide) / 2), nullptr);
}

void CWLogin::HideLoadingAnimation()
{
    AnimateAvatarTo(QPoint(30, (BottomBandHeight() - avatarSide) / 2), &CWLogin::ShowAll);
}

QList<QWidget*> CWLogin::FormWidgets() const
{
    const QList<QWidget*> widgets{loginButton, accountBox,  passwordBox, registerLink,
                                  forgetLink,  rememberBox, autoLoginBox};
    return widgets.contains(nullptr) ? QList<QWidget*>() : widgets;
}

void CWLogin::HideAll()
{
    for (QWidget* widget : FormWidgets())
        widget->hide();
}

void CWLogin::ShowAll()
{
    for (QWidget* widget : FormWidgets())
        widget->show();
}

void CWLogin::GetPasswordToInput(QString id)
{
    if (!users)
        return;
    const qint64 account = id.toLongLong(nullptr, 10);
    for (int row = 0; row < users->size(); ++row) {
        const CUser* user = users->at(row);
        if (user->GetAccount() != account)
            continue;
        accountBox->setCurrentIndex(row);
        const QString facePath = LocalFacePath(user->GetFace());
        ShowAvatar(facePath.isEmpty() ? QStringLiteral(":/img/img/user.png") : facePath);
        accountBox->setEditText(QString::number(user->GetAccount()));
        passwordBox->setText(user->GetPassword());
        ShowRemembered(user);
        if (!user->GetPassword().isEmpty())
            passwordBox->setEchoMode(QLineEdit::Password);
        else
            passwordBox->setFocus();
        accountBox->hidePopup();
    }
}

void CWLogin::EditUserChanged(QString text)
{
    if (!passwordBox || !rememberBox || !autoLoginBox)
        return;
    const qint64 account = text.toLongLong(nullptr, 10);
    bool matched = false;
    if (users) {
        for (const CUser* user : qAsConst(*users)) {
            if (user->GetAccount() != account)
                continue;
            matched = true;
            const QString facePath = LocalFacePath(user->GetFace());
            ShowAvatar(facePath.isEmpty() ? QStringLiteral(":/img/img/cattle.gif") : facePath);
            passwordBox->setText(user->GetPassword());
            ShowRemembered(user);
        }
    }
    if (!matched) {
        ShowAvatar(QStringLiteral(":/img/img/cattle.gif"));
        passwordBox->clear();
        ShowRemembered(nullptr);
    }
}

void CWLogin::DeleteItem(QString id)
{
    if (!users)
        return;
    const qint64 account = id.toLongLong(nullptr, 10);
    auto* list = qobject_cast<QListWidget*>(accountBox->view());
    for (int row = users->size() - 1; row >= 0; --row) {
        if (users->at(row)->GetAccount() != account)
            continue;
        if (list) {
            QListWidgetItem* item = list->item(row);
            list->removeItemWidget(item);
            delete list->takeItem(row);
        }
        delete users->takeAt(row);
        PasswordVault::Instance()->Forget(account);
        SaveUsers();
        // A live session elsewhere keeps its lock; only a leftover file goes.
        AccountLock::RemoveIfStale(AccountLockFile(account));
    }
}

void CWLogin::OnSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    setWindowState(Qt::WindowActive);
    show();
    activateWindow();
}

void CWLogin::closeEvent(QCloseEvent* event)
{
    emit Close();
    if (trayIcon && trayIcon->isVisible())
        trayIcon->hide();
    event->accept();
}

bool CWLogin::AccountIsEmpty() const
{
    return accountHint.contains(accountBox->currentText());
}

bool CWLogin::PasswordIsEmpty() const
{
    return passwordHint.contains(passwordBox->text());
}

// Logs in when both fields hold input; otherwise sends the cursor to the first empty one.
void CWLogin::SubmitOrFocus()
{
    if (AccountIsEmpty())
        accountBox->setFocus();
    else if (PasswordIsEmpty())
        passwordBox->setFocus();
    else
        Login();
}

bool CWLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (!accountBox || !passwordBox || !loginButton)
        return CWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched == accountBox && AccountIsEmpty()) {
            accountBox->setEditText(QString());
        } else if (watched == passwordBox) {
            if (PasswordIsEmpty())
                passwordBox->clear();
            passwordBox->setEchoMode(QLineEdit::Password);
        }
        break;
    case QEvent::FocusOut:
        if (watched == accountBox && AccountIsEmpty()) {
            accountBox->setEditText(accountHint);
        } else if (watched == passwordBox) {
            if (PasswordIsEmpty()) {
                passwordBox->setEchoMode(QLineEdit::Normal);
                passwordBox->setText(passwordHint);
            } else {
                passwordBox->setEchoMode(QLineEdit::Password);
            }
        }
        break;
    case QEvent::KeyPress: {
        // A key press that one of the inputs ignores travels on to the window, which watches key
        // presses too: act on it once, where it was first delivered.
        QWidget* focused = QApplication::focusWidget();
        const bool fromWatchedInput = focused && (focused == passwordBox || focused == loginButton ||
                                                  focused == accountBox || accountBox->isAncestorOf(focused));
        if (watched == this && fromWatchedInput)
            break;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && loginButton->isVisible())
            SubmitOrFocus();
        break;
    }
    case QEvent::MouseButtonRelease:
        if (watched == loginButton && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            SubmitOrFocus();
        break;
    default:
        break;
    }
    return CWidget::eventFilter(watched, event);
}
