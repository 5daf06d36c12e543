#include <QMenu>

#include "common/testmain.h"
#include "detail/ui/corderwidget.h"
#include "common/orderfixture.h"
#include "main/reminder.h"
#include "orders/neworders.h"
#include "orders/orderpane.h"

// Groups and rows the way a person uses them: folding, selecting, blinking, the detail window and
// the moves it asks for. No network: the pane has no session and the orders come from the test.
class TestOrderWidgets : public QObject
{
    Q_OBJECT

    // An order of the pane's book; `fresh` as if the new-order poll brought it (it blinks on top).
    static COrder* order(OrderPane& pane, qint64 id, int status, bool fresh = false)
    {
        OrderEntry entry = Entry(id, status);
        entry.amount = 12.5;
        entry.ctime = QDateTime(QDate(2026, 5, 1), QTime(9, 30));
        COrder* o = pane.list->Book()->Take(entry, fresh ? COrderBook::New : COrderBook::Listed);
        settle();
        return o;
    }

    // The groups lay out once the burst of changes has returned to the event loop.
    static void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
    }

    static QList<COrderWidget*> detailWindows()
    {
        QList<COrderWidget*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<COrderWidget*>(w))
                found.append(d);
        return found;
    }

    // Picks the first action of the next popup menu.
    static void chooseFromNextMenu(QString* seen)
    {
        QTimer::singleShot(50, [seen] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            *seen = menu->actions().value(0)->text();
            menu->actions().value(0)->trigger();
            menu->close();
        });
    }

private slots:

    void cleanup()
    {
        for (COrderWidget* w : detailWindows())
            delete w;
    }

    void count_showsDotsUntilTheFirstLayout()
    {
        COrderList fresh(QStringLiteral("已支付"), nullptr);
        QCOMPARE(fresh.findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text(), QStringLiteral("..."));
        QCOMPARE(fresh.size(), QSize(50, 28));
        fresh.Fold();
        QCOMPARE(fresh.findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text(), QString());

        OrderPane pane;
        for (int i = 1; i <= 3; ++i)
            order(pane, i, 1);
        QCOMPARE(pane.group(1)->findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text(), QStringLiteral("3"));
        QCOMPARE(pane.group(2)->findChild<QLabel*>(QStringLiteral("plblGroupCount"))->text(), QStringLiteral("..."));
        QCOMPARE(pane.ids(1), (QList<qint64>{1, 2, 3}));
        order(pane, 10, 0, true); // unpaid: no group, no row
        QCOMPARE(pane.group(1)->Count(), 3);
    }

    void folding_movesTheFollowingGroups()
    {
        OrderPane pane;
        order(pane, 1, 1);
        order(pane, 2, 1);
        COrderList* paid = pane.group(1);
        COrderList* served = pane.group(2);
        QCOMPARE(served->y(), 28);
        QVERIFY(!paid->Items().first()->IdLabel()); // never shown, no labels yet

        QTest::mouseClick(paid, Qt::LeftButton, Qt::NoModifier, QPoint(40, 10));
        settle();
        QVERIFY(paid->IsExpanded());
        QCOMPARE(served->y(), 28 + 2 * COrderItem::rowHeight);
        COrderItem* second = paid->Items().at(1);
        QVERIFY(second->isVisible());
        QCOMPARE(second->y(), 28 + COrderItem::rowHeight);
        QTRY_VERIFY(second->IdLabel()); // created once the row has been painted
        QCOMPARE(second->IdLabel()->text(), QStringLiteral("订单号：2"));
        QCOMPARE(second->MoneyLabel()->text(), QStringLiteral("金额：12.50"));
        QCOMPARE(second->TimeLabel()->text(), QStringLiteral("05-01 09:30"));
        QCOMPARE(second->IdLabel()->width(), 193);

        // The right button offers the same through a menu.
        QString action;
        chooseFromNextMenu(&action);
        QTest::mouseClick(paid, Qt::RightButton, Qt::NoModifier, QPoint(40, 10));
        QCOMPARE(action, QStringLiteral("显示或隐藏"));
        settle();
        QVERIFY(!paid->IsExpanded());
        QVERIFY(second->isHidden());
        QCOMPARE(served->y(), 28);
        QCOMPARE(pane.list->height(), 5 * 28);
    }

    void selection_isOneRowInTheWholeProgram()
    {
        OrderPane pane;
        order(pane, 1, 1);
        order(pane, 2, 2);
        pane.group(1)->Fold();
        pane.group(2)->Fold();
        settle();
        COrderItem* first = pane.group(1)->Items().first();
        QPointer<COrderItem> second = pane.group(2)->Items().first().data();

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(first, &enter);
        QCOMPARE(first->HighlightAlpha(), 75);
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(first->HighlightAlpha(), 127);
        QTest::mouseClick(second, Qt::LeftButton);
        QCOMPARE(COrderItem::SelectedItem(), second.data());
        QCOMPARE(first->HighlightAlpha(), 0);
        QCOMPARE(second->HighlightAlpha(), 127);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(second, &leave);
        QCOMPARE(second->HighlightAlpha(), 127);

        Report(*pane.list->Book(), second->GetOrder(), 0); // no group: the row goes
        QTRY_VERIFY(!second);
        QVERIFY(!COrderItem::SelectedItem());
    }

    void doubleClick_stopsBlinkingAndOpensOneDetailWindow()
    {
        OrderPane pane;
        order(pane, 1234, 1, true);
        pane.group(1)->Fold();
        COrderItem* row = pane.group(1)->Items().first();
        QVERIFY(row->IsFlashing());
        QTRY_VERIFY(row->IconLabel() && row->IconLabel()->isHidden());

        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(!row->IsFlashing());
        QVERIFY(!row->FlashTimer());
        QVERIFY(!row->IconLabel()->isHidden());
        QVERIFY(row->ShowsNewOrderIcon());
        QPointer<COrderWidget> window = pane.detailWindow(1234);
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("1234 订单详情"));
        QTest::qWait(200); // two blinks while tests run: the icon stays still
        QVERIFY(!row->IconLabel()->isHidden());

        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(pane.detailWindow(1234), window.data());
        QCOMPARE(detailWindows().size(), 1);

        window->close(); // deletes itself
        QTRY_VERIFY(!window);
        QVERIFY(!pane.detailWindow(1234));

        // The context menu opens a new order as well, and that too deals with its blinking.
        order(pane, 1235, 1, true);
        COrderItem* next = pane.group(1)->Items().first();
        QVERIFY(next->IsFlashing());
        QString action;
        chooseFromNextMenu(&action);
        QTest::mouseClick(next, Qt::RightButton);
        QCOMPARE(action, QStringLiteral("查看信息"));
        QVERIFY(pane.detailWindow(1235));
        QVERIFY(!next->IsFlashing());
        QVERIFY(pane.session->NewOrders()->Waiting().isEmpty());
    }

    // A new order blinks, and the reminder counts it, until it is dealt with by any road.
    void newOrder_dealtWith_stopsBlinkingAndReminding_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<bool>("waits");
        QTest::newRow("nothing yet") << "" << true;
        QTest::newRow("opened from search") << "search" << false;
        QTest::newRow("finished in its window") << "finish" << false;
        QTest::newRow("served elsewhere") << "served" << false;
        QTest::newRow("reported paid again") << "paid" << true;
    }
    void newOrder_dealtWith_stopsBlinkingAndReminding()
    {
        QFETCH(QString, road);
        QFETCH(bool, waits);
        OrderPane pane;
        COrder* fresh = order(pane, 77, 1, true);
        order(pane, 78, 1, true);
        pane.group(1)->Fold();
        settle();
        QVERIFY(pane.list->FindOrderItem(77)->IsFlashing());
        if (road == QLatin1String("search"))
            pane.list->SlotOpenOrderDetail(fresh); // the main window's search opens it this way
        else if (road == QLatin1String("finish"))
            pane.list->Book()->ApplyAction(fresh, 1, 2, "test");
        else if (road == QLatin1String("served"))
            Report(*pane.list->Book(), fresh, 2);
        else if (road == QLatin1String("paid"))
            Report(*pane.list->Book(), fresh, 1);
        settle();
        QCOMPARE(pane.list->FindOrderItem(77)->IsFlashing(), waits);
        const QList<qint64> waiting = waits ? QList<qint64>{77, 78} : QList<qint64>{78};
        QCOMPARE(pane.session->Reminder()->Waiting(), waiting);
        QVERIFY(pane.list->FindOrderItem(78)->IsFlashing());
    }

    // Whoever changes a status (the detail window, the confirmation table, a poll) tells the book;
    // the row follows. A status without a group takes the row away; the order keeps its place in
    // the book and gets its row back when it reaches a status that has one.
    void statusChange_movesTheRow_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("group"); // 0: no row
        QTest::addColumn<bool>("newOrderIcon");
        QTest::newRow("paid → served") << 1 << 2 << 2 << false;
        QTest::newRow("paid → reviewed") << 1 << 3 << 3 << true;
        QTest::newRow("paid → completed") << 1 << 4 << 4 << false;
        QTest::newRow("paid → refunded") << 1 << 9 << 9 << true;
        QTest::newRow("paid → unpaid") << 1 << 0 << 0 << false;
        QTest::newRow("paid → unknown") << 1 << 7 << 0 << false;
        QTest::newRow("served → paid again") << 2 << 1 << 1 << true;
        QTest::newRow("completed → paid again") << 4 << 1 << 1 << true;
    }
    void statusChange_movesTheRow()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, group);
        QFETCH(bool, newOrderIcon);
        OrderPane pane;
        for (int status : GroupStatuses())
            order(pane, 8 + status, status); // every group holds a row already
        COrder* moving = order(pane, 1234, from, from == 1);
        for (COrderList* list : pane.list->Lists())
            list->Fold();
        pane.list->SlotOpenOrderDetail(moving);
        QPointer<COrderWidget> window = pane.detailWindow(1234);

        Report(*pane.list->Book(), moving, to);
        settle();
        QVERIFY(!pane.group(from)->FindItem(1234));
        QVERIFY(window); // the window stays open: it shows the order, not the row
        if (group == 0) {
            QTRY_VERIFY(!pane.list->FindOrderItem(1234));
            QCOMPARE(pane.list->Book()->Find(1234), moving);
            // Back to a status with a group: the row returns, on top.
            Report(*pane.list->Book(), moving, 2);
            settle();
            QCOMPARE(pane.ids(2).first(), qint64(1234));
            return;
        }
        QCOMPARE(pane.ids(group).first(), qint64(1234));
        QCOMPARE(pane.ids(group).count(1234), 1);
        COrderItem* row = pane.list->FindOrderItem(1234);
        QCOMPARE(row->ShowsNewOrderIcon(), newOrderIcon);
        QVERIFY(row->isVisible());
        // Only an order that has just become paid blinks: leaving "paid" dealt with it.
        QCOMPARE(row->IsFlashing(), to == 1);
    }

    // An order opened from search or income before any list brought it: no row until it is paid,
    // then a blinking one on top of "已支付".
    void adoptedOrder_getsItsRowOncePaid()
    {
        OrderPane pane;
        COrder incomeCopy;
        incomeCopy.SetId(31);
        incomeCopy.SetStatus(0);
        pane.list->SlotOpenOrderDetail(&incomeCopy);
        COrder* adopted = pane.list->Book()->Find(31);
        QVERIFY(adopted && adopted != &incomeCopy);
        QCOMPARE(pane.detailWindow(31)->Order(), adopted);
        settle();
        QVERIFY(!pane.list->FindOrderItem(31));
        Report(*pane.list->Book(), adopted, 1);
        settle();
        QCOMPARE(pane.ids(1), (QList<qint64>{31}));
        QVERIFY(pane.list->FindOrderItem(31)->IsFlashing());
    }

    void closingThePane_closesItsWindows()
    {
        auto* pane = new OrderPane;
        order(*pane, 5, 1, true);
        pane->group(1)->FindItem(5)->OpenOrderDetail();
        pane->list->SlotOpenOrderDetail(order(*pane, 6, 0));
        QCOMPARE(detailWindows().size(), 2);
        delete pane;
        QCOMPARE(detailWindows().size(), 0);
    }
};

TARVIK_TEST_MAIN(TestOrderWidgets)
#include "tst_orderwidgets.moc"
