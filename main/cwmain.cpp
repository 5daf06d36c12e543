#include "main/cwmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QMouseEvent>

#include "app/constants.h"
#include "session/cuser.h"

CWMain::CWMain(QWidget* parent, Qt::WindowFlags f) : CWidget(parent, f), loginStampLock(nullptr)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_MouseTracking);
    setWindowIcon(QIcon(QStringLiteral(":/img/img/velm.ico")));
    if (qApp)
        connect(this, &CWidget::Close, qApp, &QCoreApplication::quit);

    resize(280, 528);
    setMinimumSize(280, 528);
    setMaximumWidth(430);
    TopBand()->setFixedHeight(170);

    SetTitle(tr("Tarvik"));
    MoveTitle(5, 5);
    TopBand()->setStyleSheet(QStringLiteral("QWidget#") + TopBand()->objectName() +
                             QStringLiteral("{background: transparent url(:/img/img/main_top.png) no-repeat;"
                                            "border-top-left-radius: 3px;border-top-right-radius: 3px;}"));

    UpdateLoginStamp();
}

CWMain::~CWMain()
{
    if (loginStampLock) {
        loginStampLock->unlock();
        delete loginStampLock;
    }
}

bool CWMain::HoldsLoginStamp() const
{
    return loginStampLock && loginStampLock->isLocked();
}

void CWMain::UpdateLoginStamp()
{
    if (!currentUser)
        return;
    const qint64 account = currentUser->GetAccount();
    QDir().mkpath(AccountDir(account));
    if (!loginStampLock) {
        loginStampLock = new QLockFile(AccountLockFile(account));
        // The session holds the stamp for hours: its age must never make it look abandoned.
        loginStampLock->setStaleLockTime(0);
    }
    // The login refused this account if a live session held the stamp, so the lock is normally free;
    // a login that lost a race with another process must not freeze the window waiting for it.
    if (!loginStampLock->isLocked())
        loginStampLock->tryLock(0);
}

void CWMain::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

void CWMain::closeEvent(QCloseEvent* event)
{
    emit Close();
    event->accept();
}
