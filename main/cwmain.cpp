#include "main/cwmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/constants.h"
#include "app/desktop.h"
#include "app/screens.h"
#include "app/settings.h"
#include "app/traymessage.h"
#include "detail/autoprint.h"
#include "detail/corderwidget.h"
#include "detail/receipt.h"
#include "income/cwincome.h"
#include "main/cwsettings.h"
#include "main/cwuserinfo.h"
#include "main/reminder.h"
#include "main/updatepolicy.h"
#include "net/connectionstate.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "orders/pane/callist.h"
#include "session/cuser.h"
#include "session/csession.h"
#include "ui/cweblabel.h"

const QString CWMain::searchHint = QStringLiteral("搜索：好友、订单");

namespace {

constexpr int visibleWidth = 280;
constexpr int visibleHeight = 528;
constexpr int mostWidth = 430;
constexpr int headHeight = 170;
constexpr int tabBandGap = 58; // room under the tabs for the update button
constexpr int searchHeight = 30;
// The band that says the connection is lost lies across the lower part of the avatar, clear of the
// nickname above it and of the shortcut buttons and the search field below.
constexpr int offlineBandTop = 78;
constexpr int offlineBandHeight = 24;

const QString downloadFailedText = QStringLiteral("更新下载失败，重试！\n");

// Installers live in a folder of their own, beside nothing else the client keeps.
const QString updatesFolder = QStringLiteral("updates");

} // namespace

CWMain::CWMain(CSession* givenSession, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f), session(givenSession)
{
    currentVersion = AppVersion;
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_MouseTracking);
    setWindowIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    if (qApp)
        connect(this, &CWidget::Close, qApp, &QCoreApplication::quit);

    resize(visibleWidth, visibleHeight);
    setMinimumSize(visibleWidth, visibleHeight);
    setMaximumWidth(mostWidth);
    TopBand()->setFixedHeight(headHeight);

    if (session) {
        session->setParent(nullptr);
        connect(session->Reminder(), &CNewOrderReminder::TrayNotice, this,
                [this](const QString& text) { ShowTrayMessage(text); });
        session->AutoPrint()->SetPrinter(&Receipt::PrintOnDefault);
    }

    BuildHead();
    UpdateLoginStamp();
    HttpUpdate();
    if (session)
        session->Start();
}

CWMain::~CWMain()
{
    // Replies still running are destroyed with the manager; none may call back into this window.
    if (networkManager) {
        networkManager->disconnect(this);
        for (QNetworkReply* running : networkManager->findChildren<QNetworkReply*>())
            running->disconnect(this);
    }
    // The windows this one opened work for the session, which goes with this window: they go first.
    delete settingsWindow.data();
    delete userInfoWindow.data();
    delete incomeWindow.data();
    delete allList;
    allList = nullptr;
    delete trayIcon;
    session.reset();
}

CConnectionState* CWMain::ConnectionState() const
{
    return session ? session->Connection() : nullptr;
}

CSettings* CWMain::Settings() const
{
    return session ? session->Settings() : nullptr;
}

CNewOrderReminder* CWMain::Reminder() const
{
    return session ? session->Reminder() : nullptr;
}

CAutoPrint* CWMain::AutoPrint() const
{
    return session ? session->AutoPrint() : nullptr;
}

void CWMain::BuildHead()
{
    SetTitle(tr("Tarvik"));
    MoveTitle(5, 5);
    TopBand()->setStyleSheet(QStringLiteral("QWidget#") + TopBand()->objectName() +
                             QStringLiteral("{background: transparent url(:/img/img/main_top.png) no-repeat;"
                                            "border-top-left-radius: 3px;border-top-right-radius: 3px;}"));

    const CUser* user = session ? session->User() : nullptr;
    avatarLabel = new CWebLabel(TopBand());
    if (user) {
        avatarLabel->setScaledContents(true);
        avatarLabel->setAlignment(Qt::AlignCenter);
        const QString face = user->GetFace();
        if (!face.isEmpty()) {
            avatarLabel->SetUrl(QUrl(face));
            QDir().mkpath(FacesDir());
            // The name comes from the server's address: only a plain file name may become a path.
            avatarLabel->StartDownload(
                CWebLabel::LocalCopyPath(FacesDir(), QUrl(face).fileName(QUrl::FullyDecoded)));
        }
        avatarLabel->setGeometry(8, 40, 64, 64);
        avatarLabel->SetClickMode(0);
        avatarLabel->setStyleSheet(QStringLiteral("border: 2px solid #fff;border-radius: 5px;"));
        connect(avatarLabel, &CWebLabel::clicked, this, &CWMain::OpenUserInfo);
    }

    nicknameLabel = new QLabel(TopBand());
    if (user) {
        const QString nickname = user->GetNickname();
        nicknameLabel->setText(nickname.isEmpty() ? QString::number(user->GetAccount()) : nickname);
        nicknameLabel->move(2 * avatarLabel->x() + avatarLabel->width(), avatarLabel->y());
        nicknameLabel->setStyleSheet(QStringLiteral("color: #fff; font-size: 20px;font-weight: bold;"));
        nicknameLabel->adjustSize();
    }

    BuildTabs();

    searchEdit = new QLineEdit(searchHint, TopBand());
    searchEdit->setObjectName(QStringLiteral("pleditSearch"));
    searchEdit->installEventFilter(this);
    searchEdit->setGeometry(0, TopBandHeight() - searchHeight, width(), searchHeight);
    // Only typing rebuilds the completion list: moving through the list puts each highlighted id
    // into the field too, and a list rebuilt under the cursor would lose the pick.
    connect(searchEdit, &QLineEdit::textEdited, this, &CWMain::SearchTextChanged);
    connect(searchEdit, &QLineEdit::returnPressed, this, &CWMain::SearchEntered);

    BuildShortcutButtons();

    updateButton = new QPushButton(BottomBand());
    updateButton->setObjectName(QStringLiteral("ppbtnUpdate"));
    updateButton->setGeometry(avatarLabel->x(), BottomBandHeight(), width() / 2, 24);
    updateButton->hide();

    BuildTray();
    BuildConnectionBand();
}

void CWMain::BuildTabs()
{
    tabWidget = new QTabWidget(BottomBand());
    tabWidget->setAttribute(Qt::WA_MouseTracking);
    tabWidget->tabBar()->setAttribute(Qt::WA_MouseTracking);
    tabWidget->setGeometry(0, 0, width(), BottomBandHeight() - tabBandGap);

    ordersArea = new QScrollArea;
    ordersArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ordersArea->setAttribute(Qt::WA_MouseTracking);
    ordersArea->setStyleSheet(QStringLiteral("background: transparent;border: none;"));
    ordersArea->installEventFilter(this);
    if (session) {
        allList = new CAllList(session.get(), ordersArea);
        ordersArea->setWidget(allList);
        WatchOrders();
    }
    tabWidget->addTab(ordersArea, QStringLiteral("订单"));

    for (const QString& title : {QStringLiteral("好友"), QStringLiteral("会话")}) {
        auto* page = new QWidget;
        page->installEventFilter(this);
        page->setAttribute(Qt::WA_MouseTracking);
        auto* label = new QLabel(QStringLiteral("敬请期待！谢谢！"), page);
        label->setStyleSheet(QStringLiteral("color: #f00;font-size: 16px;"));
        label->adjustSize();
        label->move((width() - label->width()) / 2, 120);
        tabWidget->addTab(page, title);
        placeholderPages.append(page);
    }
}

void CWMain::BuildShortcutButtons()
{
    auto makeButton = [this](const char* objectName, const QString& toolTip, int side) {
        auto* button = new QPushButton(TopBand());
        button->setObjectName(QLatin1String(objectName));
        button->setToolTip(toolTip);
        button->resize(side, side);
        button->setAttribute(Qt::WA_MouseTracking);
        return button;
    };
    homeLinkButton = makeButton("pbtnHomeLink", QStringLiteral("打开首页"), 20);
    cashLinkButton = makeButton("pbtnCashLink", QStringLiteral("打开网页提现"), 20);
    incomeButton = makeButton("pbtnShopCash", QStringLiteral("收入流水"), 22);
    serverTableButton = makeButton("pbtnServerTable", QStringLiteral("待确认订单"), 22);

    const int left = avatarLabel->x();
    const int y = searchEdit->y() - 20 - 3;
    homeLinkButton->move(left, y);
    cashLinkButton->move(2 * homeLinkButton->x() + homeLinkButton->width(), y);
    incomeButton->move(width() - incomeButton->width() - left, y);
    serverTableButton->move(incomeButton->x() - incomeButton->width() - left, y);

    connect(homeLinkButton, &QPushButton::clicked, this, &CWMain::OpenHomePage);
    connect(cashLinkButton, &QPushButton::clicked, this, &CWMain::OpenCashPage);
    connect(incomeButton, &QPushButton::clicked, this, &CWMain::OpenIncome);
    homeLinkButton->show();
    cashLinkButton->show();
    incomeButton->show();
    // The confirmation table belongs to the order lists: without them there is nothing to open.
    if (allList) {
        connect(serverTableButton, &QPushButton::clicked, allList, &CAllList::OpenServerTable);
        serverTableButton->show();
    } else {
        serverTableButton->hide();
    }
}

void CWMain::BuildTray()
{
    trayIcon = new QSystemTrayIcon;
    trayMenu = new QMenu(this);
    QAction* showWindow = trayMenu->addAction(tr("主界面"));
    connect(showWindow, &QAction::triggered, this, [this] {
        raise();
        show();
        setFocus();
    });
    if (session) {
        QAction* settingsAction = trayMenu->addAction(tr("设置"));
        connect(settingsAction, &QAction::triggered, this, &CWMain::OpenSettings);
    }
    QAction* quitAction = trayMenu->addAction(tr("退出程序"));
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    trayMenu->addSeparator();
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setToolTip(QStringLiteral("Velm"));
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &CWMain::onSystemTrayIconClicked);
    trayIcon->show();
}

void CWMain::BuildConnectionBand()
{
    // Settings belong to an account: without one there is nothing to set.
    if (session) {
        settingsButton = new QPushButton(TopBand());
        settingsButton->setObjectName(QStringLiteral("psbtnSetup"));
        settingsButton->setToolTip(tr("设置"));
        settingsButton->resize(minButton->size());
        settingsButton->move(minButton->x() - settingsButton->width(), minButton->y());
        settingsButton->setAttribute(Qt::WA_MouseTracking);
        connect(settingsButton, &QPushButton::clicked, this, &CWMain::OpenSettings);
    }

    offlineBand = new QLabel(TopBand());
    offlineBand->setObjectName(QStringLiteral("lblOffline"));
    offlineBand->setAlignment(Qt::AlignCenter);
    offlineBand->setStyleSheet(
        QStringLiteral("QLabel#lblOffline{background: rgba(200, 24, 24, 0.92); color: #fff;"
                       "font-size: 14px; font-weight: bold;}"));
    offlineBand->setGeometry(0, offlineBandTop, width(), offlineBandHeight);
    offlineBand->setAttribute(Qt::WA_TransparentForMouseEvents);
    offlineBand->hide();

    if (!session)
        return;
    CConnectionState* connection = session->Connection();
    connect(connection, &CConnectionState::Lost, this, &CWMain::ShowConnectionLost);
    connect(connection, &CConnectionState::Ticking, this, &CWMain::ShowConnectionLostFor);
    connect(connection, &CConnectionState::Restored, this, &CWMain::ShowConnectionRestored);
}

void CWMain::ShowConnectionLost(const QDateTime& since)
{
    ShowConnectionLostFor(ConnectionState()->SecondsLost());
    offlineBand->show();
    offlineBand->raise();
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm_offline.ico")));
    trayIcon->setToolTip(QStringLiteral("网络连接中断，自 ") + since.toString(QStringLiteral("hh:mm:ss")) +
                         QStringLiteral(" 起"));
}

void CWMain::ShowConnectionLostFor(int seconds)
{
    // A platform that answers and refuses is not a dead line: the band says what it said.
    const QString refusal = ConnectionState()->Refusal();
    if (refusal.isEmpty()) {
        offlineBand->setText(QStringLiteral("网络连接中断 · 已 %1 秒").arg(seconds));
        return;
    }
    offlineBand->ensurePolished();
    offlineBand->setText(offlineBand->fontMetrics().elidedText(QStringLiteral("订单同步被拒绝：") + refusal,
                                                               Qt::ElideRight, offlineBand->width() - 8));
}

void CWMain::ShowConnectionRestored()
{
    offlineBand->hide();
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    trayIcon->setToolTip(QStringLiteral("Velm"));
}

bool CWMain::HoldsLoginStamp() const
{
    return session && session->HoldsAccountLock();
}

void CWMain::ShowMenu() {}

void CWMain::GetUserInfo() {}

bool CWMain::SaveAllUserInfo()
{
    return false;
}

void CWMain::slotError(QNetworkReply::NetworkError) {}

void CWMain::slotErrorUpdate(QNetworkReply::NetworkError) {}

void CWMain::slotErrorDownUpdate(QNetworkReply::NetworkError) {}

void CWMain::OpenHomePage()
{
    Desktop::OpenUrl(QUrl(HomePageUrl()));
}

void CWMain::OpenCashPage()
{
    Desktop::OpenUrl(QUrl(CashPageUrl()));
}

void CWMain::onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    setWindowState(Qt::WindowActive);
    show();
    activateWindow();
}

void CWMain::OpenUserInfo()
{
    if (userInfoWindow) {
        userInfoWindow->showNormal();
        userInfoWindow->activateWindow();
        return;
    }
    if (!session)
        return;
    userInfoWindow = new CWUserInfo(session.get());
    userInfoWindow->resize(560, 580);
    const QRect area = AvailableAreaOf(this);
    userInfoWindow->move(area.left() + (area.width() - userInfoWindow->width()) / 2,
                         area.top() + (area.height() - userInfoWindow->height()) / 2);
    userInfoWindow->SetTitle(QStringLiteral("我的资料"));
    connect(userInfoWindow, &CWidget::Close, this, &CWMain::SetUserInfoNULL);
    userInfoWindow->show();
}

CWUserInfo* CWMain::UserInfoWindow() const
{
    return userInfoWindow;
}

void CWMain::SetUserInfoNULL()
{
    userInfoWindow = nullptr;
}

CWIncome* CWMain::IncomeWindow() const
{
    return incomeWindow;
}

void CWMain::OpenIncome()
{
    if (incomeWindow) {
        incomeWindow->showNormal();
        incomeWindow->activateWindow();
        return;
    }
    if (!session)
        return;
    incomeWindow = new CWIncome(session.get());
    incomeWindow->resize(1200, 700);
    incomeWindow->setMinimumSize(qRound(1200 / 2.0), qRound(700 / 2.0));
    const QRect area = AvailableAreaOf(this);
    incomeWindow->move(area.left() + (area.width() - incomeWindow->width()) / 2,
                       area.top() + (area.height() - incomeWindow->height()) / 2);
    incomeWindow->SetTitle(QStringLiteral("收入流水"));
    incomeWindow->MoveTitle(5, 5);
    connect(incomeWindow, &CWidget::Close, this, &CWMain::SetIncomeNULL);
    connect(incomeWindow, &CWIncome::SignalOpenOrderDetail, this, &CWMain::SlotOpenOrderDetail);
    incomeWindow->show();
}

void CWMain::SetIncomeNULL()
{
    incomeWindow = nullptr;
}

// The rows that blink and are opened drive the reminder.
void CWMain::WatchOrders()
{
    CNewOrderReminder* reminder = session->Reminder();
    connect(allList, &CAllList::RowBlinking, reminder, &CNewOrderReminder::OrderArrived);
    connect(allList, &CAllList::RowAcknowledged, reminder, &CNewOrderReminder::OrderAcknowledged);
}

// A tray message for a new order is due only while this window is out of sight.
void CWMain::TellReminderWhetherSeen(bool outOfSight)
{
    if (session)
        session->Reminder()->SetWindowOutOfSight(outOfSight);
}

void CWMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange)
        TellReminderWhetherSeen(!isVisible() || isMinimized());
    CWidget::changeEvent(event);
}

void CWMain::showEvent(QShowEvent* event)
{
    TellReminderWhetherSeen(isMinimized());
    CWidget::showEvent(event);
}

void CWMain::hideEvent(QHideEvent* event)
{
    TellReminderWhetherSeen(true);
    CWidget::hideEvent(event);
}

CWSettings* CWMain::SettingsWindow() const
{
    return settingsWindow;
}

void CWMain::OpenSettings()
{
    if (settingsWindow) {
        settingsWindow->showNormal();
        settingsWindow->activateWindow();
        return;
    }
    if (!session)
        return;
    settingsWindow = new CWSettings(session->Settings());
    const QRect area = AvailableAreaOf(this);
    settingsWindow->move(area.left() + (area.width() - settingsWindow->width()) / 2,
                         area.top() + (area.height() - settingsWindow->height()) / 2);
    connect(settingsWindow, &CWidget::Close, this, &CWMain::SetSettingsNULL);
    settingsWindow->show();
}

void CWMain::SetSettingsNULL()
{
    settingsWindow = nullptr;
}

// The income window replaces its orders with every period it shows: the pane opens the book's own
// record of the order, which the book makes from this one when no list brought it yet.
void CWMain::SlotOpenOrderDetail(COrder* pOrder)
{
    if (allList)
        allList->SlotOpenOrderDetail(pOrder);
}

void CWMain::SearchTextChanged(QString text)
{
    QStringList ids;
    if (allList) {
        for (const COrder* order : allList->Book()->SearchOrders(text))
            ids << QString::number(order->GetId());
    }
    if (!searchCompleter) {
        searchCompleter = new QCompleter(this);
        searchCompleter->setCaseSensitivity(Qt::CaseInsensitive);
    }
    // The completer deletes the model it owns when it gets the next one.
    searchCompleter->setModel(new QStringListModel(ids, searchCompleter));
    searchEdit->setCompleter(searchCompleter);
    // Only this window's own connection is replaced: the field keeps its link to the completer.
    disconnect(searchCompleter, nullptr, this, nullptr);
    connect(searchCompleter, QOverload<const QString&>::of(&QCompleter::activated), this,
            &CWMain::OpenFromSearch);
}

void CWMain::SearchEntered()
{
    const QString text = searchEdit->text().trimmed();
    if (text.isEmpty() || text == searchHint)
        return;
    OpenFromSearch(text);
}

void CWMain::OpenFromSearch(const QString& id)
{
    // Enter on an id of the completion list is seen twice, by the list and by the field: one key
    // press opens one window.
    if (id == justOpened)
        return;
    justOpened = id;
    QTimer::singleShot(0, this, [this] { justOpened.clear(); });
    SearchOpenOrderDetail(id);
}

void CWMain::SearchOpenOrderDetail(QString strId)
{
    if (!allList)
        return;
    COrder* order = allList->Book()->Find(strId.toLongLong(nullptr, 10));
    if (order)
        allList->SlotOpenOrderDetail(order);
    else
        ShowTrayMessage(QStringLiteral("无此订单！"));
}

void CWMain::UpdateLoginStamp()
{
    if (session)
        session->TakeAccountLock();
}

bool CWMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == searchEdit) {
        if (event->type() == QEvent::FocusIn && searchEdit->text() == searchHint)
            searchEdit->clear();
        else if (event->type() == QEvent::FocusOut && searchEdit->text().isEmpty())
            searchEdit->setText(searchHint);
        else if (event->type() == QEvent::KeyRelease &&
                 static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            searchEdit->clear();
    }
    // Dragging the window and the edge cursors keep working over the widgets that fill it.
    if (event->type() == QEvent::MouseMove && (watched == searchEdit || watched == ordersArea ||
                                               placeholderPages.contains(qobject_cast<QWidget*>(watched))))
        CWidget::mouseMoveEvent(static_cast<QMouseEvent*>(event));
    return CWidget::eventFilter(watched, event);
}

void CWMain::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

void CWMain::resizeEvent(QResizeEvent* event)
{
    CWidget::resizeEvent(event);
    if (!tabWidget)
        return;
    tabWidget->resize(width(), BottomBandHeight() - tabBandGap);
    const int tabs = tabWidget->count();
    tabWidget->tabBar()->setFixedWidth(tabs > 0 ? width() * (tabs + 1) / tabs : 2 * width());
    const int left = avatarLabel->x();
    incomeButton->move(width() - incomeButton->width() - left, homeLinkButton->y());
    serverTableButton->move(incomeButton->x() - incomeButton->width() - left, homeLinkButton->y());
    searchEdit->resize(width(), searchHeight);
    if (settingsButton)
        settingsButton->move(minButton->x() - settingsButton->width(), minButton->y());
    if (offlineBand)
        offlineBand->resize(width(), offlineBandHeight);
}

void CWMain::closeEvent(QCloseEvent* event)
{
    emit Close();
    if (trayIcon && trayIcon->isVisible())
        trayIcon->hide();
    event->accept();
}

void CWMain::ShowTrayMessage(const QString& text, const QString& title)
{
    Tray::ShowMessage(trayIcon, title.isEmpty() ? AppName : title, text, QSystemTrayIcon::Information, 10000);
}

// ---- software update ----

void CWMain::RouteUpdateButton(void (CWMain::*target)())
{
    updateButton->disconnect();
    connect(updateButton, &QPushButton::clicked, this, target);
}

void CWMain::HttpUpdate()
{
    if (!networkManager)
        networkManager = Request::CreateManager(this);
    QNetworkReply* reply = Request::Send(networkManager, Api::UpdateSoftware(), QByteArray(), this,
                                         &CWMain::ReplyHttpUpdate, &CWMain::slotErrorUpdate);
    Q_UNUSED(reply)
}

void CWMain::ReplyHttpUpdate(QNetworkReply* reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    const Request::Answer answer = Request::Read(reply);
    if (answer.networkError) {
        if (updateButton) {
            RouteUpdateButton(&CWMain::HttpUpdate);
            updateButton->setText(QStringLiteral("获取更新失败，点击重试！"));
            updateButton->setFixedWidth(updateButton->width());
            updateButton->setEnabled(true);
            updateButton->show();
        }
        ShowTrayMessage(QStringLiteral("获取更新失败!请检查网络连接，谢谢！"));
        return;
    }
    if (!updateButton || !answer.Succeeded())
        return;

    const QVariantMap info = answer.InfoMap();
    const QString build = info.value(QStringLiteral("build")).toString();
    downloadUrl = QUrl(info.value(QStringLiteral("url")).toString());
    downloadDigest = info.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    if (SlotCheckUpdate(build)) {
        if (UpdatePolicy::FromPackage()) {
            updateButton->setText(QStringLiteral("有新版本，请用包管理器更新"));
            RouteUpdateButton(&CWMain::ShowPackageUpdateHint);
        } else {
            updateButton->setText(QStringLiteral("有新版本，下载更新"));
            RouteUpdateButton(&CWMain::HttpDownUpdate);
        }
        updateButton->setEnabled(true);
        updateButton->show();
    } else {
        // A retried check that finds nothing newer takes its retry button away.
        updateButton->hide();
    }
}

bool CWMain::SlotCheckUpdate(QString strVersion)
{
    // Dotted versions compare part by part: the first part that differs decides, and a missing
    // part counts as 0, so 1.0.6 equals 1.0.6.0 and 1.0.5.3000 is older than 1.0.6.2290.
    const QStringList offered = strVersion.split(QLatin1Char('.'));
    const QStringList current = currentVersion.split(QLatin1Char('.'));
    auto part = [](const QStringList& parts, int i) {
        return i < parts.size() ? parts.at(i).toLongLong(nullptr, 10) : 0;
    };
    for (int i = 0; i < qMax(offered.size(), current.size()); ++i) {
        const qint64 mine = part(current, i);
        const qint64 theirs = part(offered, i);
        if (mine != theirs)
            return theirs > mine;
    }
    return false;
}

QString CWMain::InstallerPath(qint64 account, const QUrl& url)
{
    // The address is the server's to choose; whatever it says, the file lands in the updates
    // folder under a name that can replace nothing but an earlier installer.
    return JoinPath({AccountDir(account), updatesFolder, UpdatePolicy::InstallerName(url)});
}

void CWMain::ShowPackageUpdateHint()
{
    ShowTrayMessage(QStringLiteral("本程序由系统的软件包安装，请用软件包管理器（如 apt）更新到新版本。"),
                    QStringLiteral("安装信息"));
}

void CWMain::HttpDownUpdate()
{
    if (!networkManager)
        return;
    // The button is disabled while a download runs; a second call must not start another.
    if (downloadReply && downloadReply->isRunning())
        return;
    // A packaged copy is the package manager's to replace; a file from here would go around it.
    if (UpdatePolicy::FromPackage()) {
        ShowPackageUpdateHint();
        return;
    }
    const QString refused = UpdatePolicy::RefuseAddress(downloadUrl, !downloadDigest.isEmpty());
    if (!refused.isEmpty()) {
        DownloadFailed(downloadFailedText + refused);
        return;
    }

    // The installer goes to disk as it arrives; it takes its name only once it is whole and checked,
    // so a stopped or refused download never leaves a file that the install click could start.
    const QString path = currentUser ? InstallerPath(currentUser->GetAccount(), downloadUrl) : QString();
    installerSave = std::make_unique<QSaveFile>(path);
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()) ||
        !installerSave->open(QIODevice::WriteOnly)) {
        DropInstallerFile();
        DownloadFailed(downloadFailedText + QStringLiteral("无法保存安装文件：") +
                       QDir::toNativeSeparators(path));
        return;
    }
    installerHash.reset();
    downloadedBytes = 0;
    downloadAt = downloadUrl;
    downloadRefusal.clear();

    QNetworkRequest request(downloadUrl);
    request.setTransferTimeout(Request::TransferTimeout());
    // Every redirect is looked at before it is followed (CheckDownRedirect).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    downloadReply = networkManager->get(request);
    if (!downloadReply) {
        DropInstallerFile();
        return;
    }
    if (updateButton) {
        updateButton->setEnabled(false);
        updateButton->setText(QStringLiteral("准备下载..."));
        updateButton->show();
    }
    connect(downloadReply, &QNetworkReply::finished, this,
            [this, reply = downloadReply.data()] { ReplyFinishedDownUpdate(reply); });
    connect(downloadReply, &QNetworkReply::downloadProgress, this, &CWMain::SlotDownProgress);
    connect(downloadReply, &QNetworkReply::errorOccurred, this, &CWMain::slotErrorDownUpdate);
    connect(downloadReply, &QNetworkReply::readyRead, this, &CWMain::ReadDownUpdate);
    connect(downloadReply, &QNetworkReply::redirected, this, &CWMain::CheckDownRedirect);
    // Its size is checked as it is written; the whole of it must come within the deadline.
    Request::Bound(downloadReply, 0, UpdatePolicy::DownloadDeadline());
}

void CWMain::CheckDownRedirect(const QUrl& target)
{
    QNetworkReply* reply = downloadReply;
    if (!reply || sender() != reply)
        return;
    const QUrl next = downloadAt.resolved(target);
    if (!UpdatePolicy::RedirectAllowed(downloadAt, next, !downloadDigest.isEmpty())) {
        RefuseDownload(QStringLiteral("更新被转到了不可信的地址，已拒绝下载。"));
        return;
    }
    downloadAt = next;
    emit reply->redirectAllowed();
}

void CWMain::ReadDownUpdate()
{
    QNetworkReply* reply = downloadReply;
    if (!reply || sender() != reply || !downloadRefusal.isEmpty())
        return;
    const QString refused = TakeDownloadedBytes(reply);
    if (!refused.isEmpty())
        RefuseDownload(refused);
}

// Checks the answer's head and moves what has arrived into the file; returns why the download must
// stop, or an empty text.
QString CWMain::TakeDownloadedBytes(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        // An HTTP error ends the reply with a network error of its own; its page is not kept.
        reply->readAll();
        return QString();
    }
    if (status.isValid() && status.toInt() != 200)
        return QStringLiteral("服务器没有给出安装文件（HTTP %1）。").arg(status.toInt());
    if (UpdatePolicy::IsTextType(reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()))
        return QStringLiteral("服务器给出的是网页，不是安装文件。");
    const QString tooLarge = QStringLiteral("安装文件过大，已停止下载。");
    if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > UpdatePolicy::SizeLimit())
        return tooLarge;
    const QByteArray chunk = reply->read(qMin(reply->bytesAvailable(), UpdatePolicy::SizeLimit() + 1));
    downloadedBytes += chunk.size();
    if (downloadedBytes > UpdatePolicy::SizeLimit())
        return tooLarge;
    installerHash.addData(chunk);
    if (!installerSave || installerSave->write(chunk) != chunk.size())
        return QStringLiteral("无法保存安装文件：") +
               QDir::toNativeSeparators(installerSave ? installerSave->fileName() : QString());
    return QString();
}

void CWMain::RefuseDownload(const QString& why)
{
    // The reply's finished() carries the reason to ReplyFinishedDownUpdate.
    downloadRefusal = why;
    if (downloadReply)
        downloadReply->abort();
}

void CWMain::DropInstallerFile()
{
    if (installerSave)
        installerSave->cancelWriting();
    installerSave.reset(); // an uncommitted save file removes what it wrote
}

void CWMain::SlotDownProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (!updateButton)
        return;
    updateButton->hide();
    if (!progressBar) {
        progressBar = new QProgressBar(BottomBand());
        progressBar->setFixedHeight(updateButton->height() / 2);
        progressBar->move(updateButton->x(),
                          updateButton->y() + (updateButton->height() - progressBar->height()) / 2);
    }
    progressBar->setRange(0, int(bytesTotal));
    progressBar->setValue(int(bytesReceived));
    progressBar->repaint();
    progressBar->show();
    if (bytesReceived == bytesTotal) {
        progressBar->hide();
        if (updateButton->isHidden())
            updateButton->show();
    }
}

void CWMain::DownloadFailed(const QString& trayText)
{
    if (updateButton) {
        RouteUpdateButton(&CWMain::HttpDownUpdate);
        updateButton->setText(QStringLiteral("更新下载失败，重试！"));
        updateButton->setEnabled(true);
        updateButton->show();
    }
    if (progressBar) {
        progressBar->repaint();
        progressBar->hide();
    }
    ShowTrayMessage(trayText);
}

void CWMain::ReplyFinishedDownUpdate(QNetworkReply* reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != downloadReply)
        return;
    QString refused = downloadRefusal;
    if (refused.isEmpty() && Request::Stopped(reply) == Request::Stop::Deadline)
        refused = QStringLiteral("下载用时过长，已停止。");
    if (refused.isEmpty() && reply->error() != QNetworkReply::NoError) {
        DropInstallerFile();
        DownloadFailed(downloadFailedText + QStringLiteral("都是网络的错！"));
        return;
    }
    if (refused.isEmpty())
        refused = TakeDownloadedBytes(reply);
    if (refused.isEmpty() && !downloadDigest.isEmpty() &&
        QString::fromLatin1(installerHash.result().toHex()) != downloadDigest)
        refused = QStringLiteral("安装文件校验失败，已删除。");
    // Announcing a file that is not there (or half there) would only fail later at the install
    // click: the installer is written in one piece or not at all.
    const QString path = installerSave ? installerSave->fileName() : QString();
    if (refused.isEmpty() && !(installerSave && installerSave->commit()))
        refused = QStringLiteral("无法保存安装文件：") + QDir::toNativeSeparators(path);
    if (!refused.isEmpty()) {
        DropInstallerFile();
        DownloadFailed(downloadFailedText + refused);
        return;
    }
    installerSave.reset();
    installerFile = path;

    if (updateButton) {
        if (progressBar)
            progressBar->hide();
        RouteUpdateButton(&CWMain::slotClickInstall);
        updateButton->setText(QStringLiteral("点击安装！"));
        updateButton->setEnabled(true);
        updateButton->show();
    }
    ShowTrayMessage(QStringLiteral("新版已下载完成！"));
}

void CWMain::slotClickInstall()
{
    if (!currentUser)
        return;
    const QString path =
        installerFile.isEmpty() ? InstallerPath(currentUser->GetAccount(), downloadUrl) : installerFile;
    if (!QFile::exists(path)) {
        if (trayIcon)
            ShowTrayMessage(QStringLiteral("文件已不存在！已重新下载。 "), QStringLiteral("安装信息"));
        HttpDownUpdate();
        return;
    }
#ifndef Q_OS_WIN
    // A download arrives without the executable bit, and the system refuses to run it without one.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
#endif
    if (!Desktop::StartDetached(path) && trayIcon)
        ShowTrayMessage(QStringLiteral("无法启动安装程序！\n软件文件：") + QDir::toNativeSeparators(path),
                        QStringLiteral("安装信息"));
}
