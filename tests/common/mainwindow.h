#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QWidget>

#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "main/ui/cwmain.h"
#include "orders/corder.h"
#include "orders/ui/callist.h"
#include "session/ui/cwlogin.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

// The open top-level windows of one kind.
template <class Window> QList<Window*> OpenWindows()
{
    QList<Window*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<Window*>(widget))
            found.append(window);
    return found;
}

// The detail window of an order (not one that was closed and is about to go); null when none shows it.
inline COrderWidget* DetailWindowOf(qint64 id)
{
    for (COrderWidget* detail : OpenWindows<COrderWidget>())
        if (detail->Order() && detail->Order()->GetId() == id && detail->isVisible())
            return detail;
    return nullptr;
}

// The confirmation table, once it has been opened (closed, it only hides).
inline CWServerTable* ServerTableWindow()
{
    return OpenWindows<CWServerTable>().value(0);
}

// The main window a login opened, found among the top-level windows; null before a login and
// once it has gone.
inline CWMain* MainWindow()
{
    return OpenWindows<CWMain>().value(0);
}

// The login window on the screen (not one that was closed and is about to go).
inline CWLogin* LoginWindow()
{
    for (CWLogin* login : OpenWindows<CWLogin>())
        if (login->isVisible())
            return login;
    return nullptr;
}

// The parts of the login form.
namespace LoginForm {
inline QComboBox* Account(const QObject* login) { return PartOf<QComboBox>(login, "leditUser"); }
inline QLineEdit* Password(const QObject* login) { return PartOf<QLineEdit>(login, "leditPassword"); }
inline QCheckBox* Remember(const QObject* login) { return PartOf<QCheckBox>(login, "chkRememberPassword"); }
inline QCheckBox* AutoLogin(const QObject* login) { return PartOf<QCheckBox>(login, "chkAutoLogin"); }
inline QPushButton* Button(const QObject* login) { return PartOf<QPushButton>(login, "pbtnLogin"); }
inline CWebLabel* Avatar(const QObject* login) { return PartOf<CWebLabel>(login, "plblAvatar"); }
} // namespace LoginForm

// The parts of the main window.
namespace MainParts {
inline CWebLabel* Avatar(const QObject* main) { return PartOf<CWebLabel>(main, "plblAvatar"); }
inline QLabel* Nickname(const QObject* main) { return PartOf<QLabel>(main, "plblNickname"); }
inline QTabWidget* Tabs(const QObject* main) { return PartOf<QTabWidget>(main, "ptabMain"); }
inline QScrollArea* OrdersArea(const QObject* main) { return PartOf<QScrollArea>(main, "pscrollOrders"); }
inline CAllList* Pane(const QObject* main) { return PartOf<CAllList>(main, "pallList"); }
inline QLineEdit* Search(const QObject* main) { return PartOf<QLineEdit>(main, "pleditSearch"); }
inline QPushButton* HomeLink(const QObject* main) { return PartOf<QPushButton>(main, "pbtnHomeLink"); }
inline QPushButton* CashLink(const QObject* main) { return PartOf<QPushButton>(main, "pbtnCashLink"); }
inline QPushButton* Income(const QObject* main) { return PartOf<QPushButton>(main, "pbtnShopCash"); }
inline QPushButton* ServerTable(const QObject* main) { return PartOf<QPushButton>(main, "pbtnServerTable"); }
inline QPushButton* Settings(const QObject* main) { return PartOf<QPushButton>(main, "psbtnSetup"); }
inline QPushButton* Update(const QObject* main) { return PartOf<QPushButton>(main, "ppbtnUpdate"); }
// The bar that takes the update button's place while the installer comes in (it has no name of its own).
inline QProgressBar* UpdateBar(const QObject* main) { return main ? main->findChild<QProgressBar*>() : nullptr; }
inline QLabel* OfflineBand(const QObject* main) { return PartOf<QLabel>(main, "lblOffline"); }
inline QMenu* TrayMenu(const QObject* main) { return PartOf<QMenu>(main, "pmenuTray"); }
} // namespace MainParts

// The parts of the settings window.
namespace SettingsParts {
inline QComboBox* Reminder(const QObject* w) { return PartOf<QComboBox>(w, "cboxReminder"); }
inline QCheckBox* TrayNotice(const QObject* w) { return PartOf<QCheckBox>(w, "chkTrayNotice"); }
inline QCheckBox* AutoPrint(const QObject* w) { return PartOf<QCheckBox>(w, "chkAutoPrint"); }
inline QComboBox* Printer(const QObject* w) { return PartOf<QComboBox>(w, "cboxPrinter"); }
inline QComboBox* Paper(const QObject* w) { return PartOf<QComboBox>(w, "cboxPaper"); }
inline QComboBox* Copies(const QObject* w) { return PartOf<QComboBox>(w, "cboxCopies"); }
inline QPushButton* TestPage(const QObject* w) { return PartOf<QPushButton>(w, "pbtnTestPage"); }
inline CMsgBox* Box(const QObject* w) { return w ? w->findChild<CMsgBox*>() : nullptr; }
} // namespace SettingsParts
