#include "app/ui/client.h"

#include <QCursor>

#include "app/accountlock.h"
#include "app/constants.h"
#include "app/ui/screens.h"
#include "app/ui/traymessage.h"
#include "main/ui/cwmain.h"
#include "session/csession.h"
#include "session/ui/cwlogin.h"

CClient::CClient(const SessionOptions& options, QObject* parent) : QObject(parent), options(options) {}

CClient::~CClient()
{
    delete login.data();
    delete main.data();
}

void CClient::Start()
{
    login = new CWLogin(options);
    login->CentreIn(AvailableAreaAt(QCursor::pos()));
    connect(login, &CWidget::Close, this, &CClient::Ended);
    connect(login, &CWLogin::LoggedIn, this, &CClient::OpenSession);
    login->show();
}

void CClient::OpenSession(const CUser& account, const QStringList& problems)
{
    // The session goes on with the lock and the manager the login used; the main window owns it.
    auto* session = new CSession(account, login->HandOverAccountLock(), login->HandOverNetwork(), options);
    main = new CWMain(session);
    connect(main, &CWidget::Close, this, &CClient::Ended);
    // Near the right edge of the login's screen, halfway down.
    const QRect area = AvailableAreaOf(login);
    main->move(area.left() + int(area.width() - 1.2 * main->width()),
               area.top() + (area.height() - main->height()) / 2);
    main->show();

    // Said through the main window's tray icon, which stays when the login window closes in a moment.
    Tray::ShowMessage(main->TrayIcon(), AppName,
                      problems.isEmpty() ? QStringLiteral("成功登录!") : problems.join(QLatin1Char('\n')),
                      problems.isEmpty() ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning, 10000);
}
