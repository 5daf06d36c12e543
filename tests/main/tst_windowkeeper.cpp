#include <QSignalSpy>

#include "app/ui/screens.h"
#include "common/fakenetwork.h"
#include "common/mainwindow.h"
#include "common/orderfixture.h"
#include "common/testmain.h"
#include "income/ui/cwincome.h"
#include "main/ui/cwsettings.h"
#include "main/ui/cwuserinfo.h"
#include "main/ui/windowkeeper.h"
#include "orders/orderbook.h"
#include "session/csession.h"

// The windows of a session: one of each kind and one per order, brought forward when asked for again,
// centred on the main window's screen, and gone with the keeper. The platform refuses everything here:
// only the windows count.
class TestWindowKeeper : public QObject
{
    Q_OBJECT

    std::unique_ptr<CSession> session;
    std::unique_ptr<QWidget> anchor;
    std::unique_ptr<CWindowKeeper> keeper;

    COrder* order(qint64 id)
    {
        COrder* known = session->Book()->Find(id);
        return known ? known : session->Book()->Take(Entry(id, 1), COrderBook::Listed);
    }

    // The window of a kind on the screen (not one closed and about to go).
    template <class Window> static Window* shown()
    {
        for (Window* window : OpenWindows<Window>())
            if (window->isVisible())
                return window;
        return nullptr;
    }

    // Opens the window of one kind (for "detail", the window of order `id`) and returns it.
    CWidget* open(const QString& kind, qint64 id = 1)
    {
        if (kind == "profile") {
            keeper->OpenUserInfo();
            return shown<CWUserInfo>();
        }
        if (kind == "income") {
            keeper->OpenIncome();
            return shown<CWIncome>();
        }
        if (kind == "settings") {
            keeper->OpenSettings();
            return shown<CWSettings>();
        }
        if (kind == "table") {
            keeper->OpenServerTable();
            return ServerTableWindow();
        }
        keeper->OpenOrderDetail(order(id));
        return DetailWindowOf(id);
    }

    static QPoint centredIn(const QRect& area, const CWidget* window)
    {
        return QPoint(area.left() + (area.width() - window->width()) / 2,
                      area.top() + (area.height() - window->height()) / 2);
    }

private slots:
    void init()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json(R"({"status":0,"info":"not in this test"})");
        });
        CUser user;
        user.SetAccount(13800000009);
        session = std::make_unique<CSession>(user);
        anchor = std::make_unique<QWidget>();
        anchor->resize(100, 100);
        anchor->show();
        keeper = std::make_unique<CWindowKeeper>(session.get(), anchor.get());
    }
    void cleanup()
    {
        keeper.reset();
        anchor.reset();
        session.reset();
        FakeNetworkManager::Uninstall();
    }

    void eachWindowOnce_raisedAndCentred_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"profile", "income", "settings", "table", "detail"})
            QTest::newRow(kind) << kind;
    }
    void eachWindowOnce_raisedAndCentred()
    {
        QFETCH(QString, kind);
        QPointer<CWidget> first = open(kind);
        QVERIFY(first);
        QVERIFY(QTest::qWaitForWindowExposed(first));
        QCOMPARE(first->pos(), centredIn(AvailableAreaOf(anchor.get()), first));
        const int windows = QApplication::topLevelWidgets().size();

        // Asked again while minimised: the same window comes back, and no other is made.
        first->showMinimized();
        QCOMPARE(open(kind), first.data());
        QVERIFY(!first->isMinimized());
        QVERIFY(first->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);

        // Closed: the next request makes a new one, even before the old one is gone; the table only
        // hides and comes back.
        first->close();
        CWidget* next = open(kind);
        QVERIFY(next && next->isVisible());
        QCOMPARE(next == first.data(), kind == "table");

        // The windows work for the session: they go with the keeper.
        QPointer<CWidget> last = next;
        keeper.reset();
        QVERIFY(!last);
    }

    void detailWindows_onePerOrder()
    {
        CWidget* one = open("detail", 26120800001);
        CWidget* two = open("detail", 26120800002);
        QVERIFY(one && two && one != two);
        QCOMPARE(open("detail", 26120800001), one);
        QCOMPARE(OpenWindows<COrderWidget>().size(), 2);
        QCOMPARE(one->windowTitle(), QStringLiteral("26120800001 订单详情"));

        // A row of the income list asks through the keeper, which leaves the book to the order pane.
        QSignalSpy asked(keeper.get(), &CWindowKeeper::OrderDetailAsked);
        COrder copy;
        copy.SetId(26120800003);
        emit static_cast<CWIncome*>(open("income"))->SignalOpenOrderDetail(&copy);
        QCOMPARE(asked.count(), 1);
        QCOMPARE(OpenWindows<COrderWidget>().size(), 2);
    }
};

TARVIK_TEST_MAIN(TestWindowKeeper)
#include "tst_windowkeeper.moc"
