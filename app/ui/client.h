#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "session/sessionoptions.h"

class CUser;
class CWLogin;
class CWMain;

// The client's windows over its life: the login window until a staff member logs in, then the
// session the login opened with its main window. The login window only collects what was typed and
// says who logged in; here the session is made (with the account's lock and the network manager the
// login used) and given to the main window, which owns it and ends it when it goes.
class CClient : public QObject
{
    Q_OBJECT
public:
    // `options`: what the login and the session it opens are built with (production's by default).
    explicit CClient(const SessionOptions& options = SessionOptions(), QObject* parent = nullptr);
    // Whatever window is still open goes, and with the main window the session.
    ~CClient() override;

    // Opens the login window, centred on the screen under the mouse.
    void Start();

signals:
    // The staff member closed the login window without logging in, or closed the main window:
    // the program ends.
    void Ended();

private:
    void OpenSession(const CUser& account, const QStringList& problems);

    SessionOptions options;
    QPointer<CWLogin> login;
    QPointer<CWMain> main;
};
