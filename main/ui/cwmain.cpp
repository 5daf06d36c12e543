#include "main/ui/cwmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDir>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/constants.h"
#include "app/ui/desktop.h"
#include "app/ui/screens.h"
#include "app/settings.h"
#include "app/sound.h"
#include "app/ui/traymessage.h"
#include "detail/autoprint.h"
#include "detail/ui/receiptprinter.h"
#include "main/reminder.h"
#include "main/softwareupdate.h"
#include "main/ui/connectionband.h"
#include "main/ui/updatebutton.h"
#include "main/ui/windowkeeper.h"
#include "net/connectionstate.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "orders/ui/callist.h"
#include "session/csession.h"
#include "session/cuser.h"
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

} // namespace

CWMain::CWMain(CSession* givenSession, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f), session(givenSession)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_MouseTracking);
    setWindowIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));

    resize(visibleWidth, visibleHeight);
    setMinimumSize(visibleWidth, visibleHeight);
    setMaximumWidth(mostWidth);
    TopBand()->setFixedHeight(headHeight);

    session->setParent(nullptr);
    windows = new CWindowKeeper(session.get(), this, this);
    connect(session->Reminder(), &CNewOrderReminder::TrayNotice, this,
            [this](const QString& text) { ShowTrayMessage(text); });
    // New orders' receipts go through the same printer as the detail windows' print buttons; a
    // failed one is said in the tray, with the button that prints it again.
    CReceiptPrinter::ForSession(session.get());
    CAutoPrint* autoPrint = session->AutoPrint();
    connect(autoPrint, &CAutoPrint::PrintFailed, this, [this, autoPrint](qint64 id, const QString& text) {
        Receipt::ShowFailureInTray(trayIcon, autoPrint, id, text);
    });
    connect(session->Sounds(), &Sound::Service::Unavailable, this, &CWMain::ShowSoundUnavailable);

    BuildHead();
    UpdateLoginStamp();
    update->HttpUpdate();
    session->Start();
}

CWMain::~CWMain()
{
    // The update goes before the widgets it drives: nothing it still hears may reach this window.
    delete update;
    // The windows this one opened work for the session, which goes with this window: they go first.
    delete windows;
    windows = nullptr;
    delete allList;
    allList = nullptr;
    delete trayIcon;
    session.reset();
}

void CWMain::BuildHead()
{
    SetTitle(tr("Tarvik"));
    MoveTitle(5, 5);
    TopBand()->setStyleSheet(QStringLiteral("QWidget#") + TopBand()->objectName() +
                             QStringLiteral("{background: transparent url(:/img/img/main_top.png) no-repeat;"
                                            "border-top-left-radius: 3px;border-top-right-radius: 3px;}"));

    const CUser* user = session->User();
    avatarLabel = new CWebLabel(TopBand());
    avatarLabel->setObjectName(QStringLiteral("plblAvatar"));
    avatarLabel->setScaledContents(true);
    avatarLabel->setAlignment(Qt::AlignCenter);
    const QString face = user->GetFace();
    if (!face.isEmpty()) {
        avatarLabel->SetUrl(QUrl(face));
        QDir().mkpath(FacesDir());
        // The name comes from the server's address: only a plain file name may become a path.
        avatarLabel->StartDownload(CWebLabel::LocalCopyPath(FacesDir(), QUrl(face).fileName(QUrl::FullyDecoded)));
    }
    avatarLabel->setGeometry(8, 40, 64, 64);
    avatarLabel->SetClickMode(0);
    avatarLabel->setStyleSheet(QStringLiteral("border: 2px solid #fff;border-radius: 5px;"));
    connect(avatarLabel, &CWebLabel::clicked, this, &CWMain::OpenUserInfo);

    nicknameLabel = new QLabel(TopBand());
    nicknameLabel->setObjectName(QStringLiteral("plblNickname"));
    const QString nickname = user->GetNickname();
    nicknameLabel->setText(nickname.isEmpty() ? QString::number(user->GetAccount()) : nickname);
    nicknameLabel->move(2 * avatarLabel->x() + avatarLabel->width(), avatarLabel->y());
    nicknameLabel->setStyleSheet(QStringLiteral("color: #fff; font-size: 20px;font-weight: bold;"));
    nicknameLabel->adjustSize();

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

    BuildUpdate();
    BuildTray();
    BuildConnectionBand();
}

void CWMain::BuildTabs()
{
    tabWidget = new QTabWidget(BottomBand());
    tabWidget->setObjectName(QStringLiteral("ptabMain"));
    tabWidget->setAttribute(Qt::WA_MouseTracking);
    tabWidget->tabBar()->setAttribute(Qt::WA_MouseTracking);
    tabWidget->setGeometry(0, 0, width(), BottomBandHeight() - tabBandGap);

    ordersArea = new QScrollArea;
    ordersArea->setObjectName(QStringLiteral("pscrollOrders"));
    ordersArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ordersArea->setAttribute(Qt::WA_MouseTracking);
    ordersArea->setStyleSheet(QStringLiteral("background: transparent;border: none;"));
    ordersArea->installEventFilter(this);
    allList = new CAllList(session.get(), ordersArea);
    allList->setObjectName(QStringLiteral("pallList"));
    ordersArea->setWidget(allList);
    connect(allList, &CAllList::OrderDetailWanted, windows, &CWindowKeeper::OpenOrderDetail);
    connect(allList, &CAllList::ServerTableWanted, windows, &CWindowKeeper::OpenServerTable);
    // A row of the income list or of the confirmation table goes through the pane, like a row of its own.
    connect(windows, &CWindowKeeper::OrderDetailAsked, allList, &CAllList::SlotOpenOrderDetail);
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
    connect(serverTableButton, &QPushButton::clicked, allList, &CAllList::OpenServerTable);
    serverTableButton->show();
}

void CWMain::BuildTray()
{
    trayIcon = new QSystemTrayIcon;
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("pmenuTray"));
    QAction* showWindow = trayMenu->addAction(tr("主界面"));
    connect(showWindow, &QAction::triggered, this, [this] {
        raise();
        show();
        setFocus();
    });
    QAction* settingsAction = trayMenu->addAction(tr("设置"));
    connect(settingsAction, &QAction::triggered, this, &CWMain::OpenSettings);
    QAction* quitAction = trayMenu->addAction(tr("退出程序"));
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    trayMenu->addSeparator();
    trayIcon->setContextMenu(trayMenu);
    ShowTrayToolTip();
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &CWMain::onSystemTrayIconClicked);
    trayIcon->show();
}

void CWMain::BuildConnectionBand()
{
    settingsButton = new QPushButton(TopBand());
    settingsButton->setObjectName(QStringLiteral("psbtnSetup"));
    settingsButton->setToolTip(tr("设置"));
    settingsButton->resize(minButton->size());
    settingsButton->move(minButton->x() - settingsButton->width(), minButton->y());
    settingsButton->setAttribute(Qt::WA_MouseTracking);
    connect(settingsButton, &QPushButton::clicked, this, &CWMain::OpenSettings);

    offlineBand = new CConnectionBand(session->Connection(), TopBand());
    offlineBand->setGeometry(0, offlineBandTop, width(), offlineBandHeight);
    connect(session->Connection(), &CConnectionState::Lost, this, &CWMain::ShowConnectionLost);
    connect(session->Connection(), &CConnectionState::Restored, this, &CWMain::ShowConnectionRestored);
}

// The band in the head follows the connection by itself; the tray icon and its tooltip say it too.
void CWMain::ShowConnectionLost(const QDateTime& since)
{
    connectionLostSince = since;
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm_offline.ico")));
    ShowTrayToolTip();
}

void CWMain::ShowConnectionRestored()
{
    connectionLostSince = QDateTime();
    trayIcon->setIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    ShowTrayToolTip();
}

// Orders still come without sound: the staff are told where they look when something seems wrong.
void CWMain::ShowSoundUnavailable()
{
    soundUnavailable = true;
    ShowTrayToolTip();
}

// The connection first, the sounds on a line of their own.
void CWMain::ShowTrayToolTip()
{
    QString tip = QStringLiteral("Velm");
    if (connectionLostSince.isValid())
        tip = CConnectionBand::Heading(session->Connection()) + QStringLiteral("，自 ") +
              connectionLostSince.toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(" 起");
    if (soundUnavailable)
        tip += QStringLiteral("\n声音不可用");
    trayIcon->setToolTip(tip);
}

bool CWMain::HoldsLoginStamp() const
{
    return session->HoldsAccountLock();
}

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
    windows->OpenUserInfo();
}

void CWMain::OpenIncome()
{
    windows->OpenIncome();
}

void CWMain::OpenSettings()
{
    windows->OpenSettings();
}

// A tray message for a new order is due only while this window is out of sight.
void CWMain::TellReminderWhetherSeen(bool outOfSight)
{
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

// The income window replaces its orders with every period it shows: the pane opens the book's own
// record of the order, which the book makes from this one when no list brought it yet.
void CWMain::SlotOpenOrderDetail(COrder* pOrder)
{
    allList->SlotOpenOrderDetail(pOrder);
}

void CWMain::SearchTextChanged(QString text)
{
    QStringList ids;
    for (const COrder* order : session->Book()->SearchOrders(text))
        ids << QString::number(order->GetId());
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
    COrder* order = session->Book()->Find(strId.toLongLong(nullptr, 10));
    if (order)
        allList->SlotOpenOrderDetail(order);
    else
        ShowTrayMessage(QStringLiteral("无此订单！"));
}

void CWMain::UpdateLoginStamp()
{
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

void CWMain::BuildUpdate()
{
    update = new CSoftwareUpdate(session->Line(), session->Account(), UpdateOptions(), this);
    update->SetInstallerStarter(&Desktop::StartDetached);
    updateButton = new CUpdateButton(update, BottomBand());
    updateButton->setGeometry(avatarLabel->x(), BottomBandHeight(), width() / 2, 24);
    updateButton->setFixedWidth(updateButton->width());
    connect(updateButton, &CUpdateButton::TrayMessage, this, &CWMain::ShowTrayMessage);
}
