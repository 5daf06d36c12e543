#include <QMenu>

#include "common/testmain.h"
#include "detail/corderwidget.h"
#include "orders/orderpane.h"
#include "ui/quietplatform.h"

// Groups and rows the way a person uses them: folding, selecting, blinking, the detail window and
// the moves it asks for. No network: the pane has no session and the orders come from the test.
class TestOrderWidgets : public QObject
{
    Q_OBJECT

    QList<COrder*> orders;

    COrder* order(qint64 id, int status)
    {
        auto* o = new COrder;
        o->SetId(id);
        o->SetStatus(status);
        o->SetAmount(12.5f);
        o->SetCtime(QDateTime(QDate(2026, 5, 1), QTime(9, 30)));
        orders.append(o);
        return o;
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
    // The frames' fade animations delete themselves when they end: let the last ones end.
    void cleanupTestCase() { QTest::qWait(300); }

    void initTestCase() { QuietPlatform::Install(); }

    void cleanup()
    {
        for (COrderWidget* w : detailWindows())
            delete w;
        qDeleteAll(orders);
        orders.clear();
    }

    void count_showsDotsUntilTheFirstLayout()
    {
        COrderList fresh(QStringLiteral("已支付"), nullptr);
        QCOMPARE(fresh.GroupCount()->text(), QStringLiteral("..."));
        QCOMPARE(fresh.size(), QSize(50, 28));
        fresh.Fold();
        QCOMPARE(fresh.GroupCount()->text(), QString());

        OrderPane pane(nullptr);
        for (int i = 1; i <= 3; ++i)
            pane.list->AddOrderItem(order(i, 1), 0);
        QCOMPARE(pane.group(1)->GroupCount()->text(), QStringLiteral("3"));
        QCOMPARE(pane.group(2)->GroupCount()->text(), QStringLiteral("..."));
        QCOMPARE(pane.ids(1), (QList<qint64>{1, 2, 3}));
        pane.list->AddOrderItem(order(0, 0), 1); // unpaid: no group, no row
        QCOMPARE(pane.group(1)->Count(), 3);
    }

    void folding_movesTheFollowingGroups()
    {
        OrderPane pane(nullptr);
        pane.list->AddOrderItem(order(1, 1), 0);
        pane.list->AddOrderItem(order(2, 1), 0);
        COrderList* paid = pane.group(1);
        COrderList* served = pane.group(2);
        QCOMPARE(served->y(), 28);
        QVERIFY(!paid->Items().first()->IdLabel()); // never shown, no labels yet

        QTest::mouseClick(paid, Qt::LeftButton, Qt::NoModifier, QPoint(40, 10));
        QVERIFY(paid->IsExpanded());
        QCOMPARE(served->y(), 28 + 2 * COrderItem::rowHeight);
        COrderItem* second = paid->Items().at(1);
        QVERIFY(second->isVisible());
        QCOMPARE(second->y(), 28 + COrderItem::rowHeight);
        QTRY_VERIFY(second->IdLabel()); // created once the row has been painted
        QCOMPARE(second->IdLabel()->text(), QStringLiteral("订单号：2"));
        QCOMPARE(second->MoneyLabel()->text(), QStringLiteral("金额：12.5"));
        QCOMPARE(second->TimeLabel()->text(), QStringLiteral("05-01 09:30"));
        QCOMPARE(second->IdLabel()->width(), 193);

        // The right button offers the same through a menu.
        QString action;
        chooseFromNextMenu(&action);
        QTest::mouseClick(paid, Qt::RightButton, Qt::NoModifier, QPoint(40, 10));
        QCOMPARE(action, QStringLiteral("显示或隐藏"));
        QVERIFY(!paid->IsExpanded());
        QVERIFY(second->isHidden());
        QCOMPARE(served->y(), 28);
        QCOMPARE(pane.list->height(), 5 * 28);
    }

    void selection_isOneRowInTheWholeProgram()
    {
        OrderPane pane(nullptr);
        pane.list->AddOrderItem(order(1, 1), 0);
        pane.list->AddOrderItem(order(2, 2), 0);
        pane.group(1)->Fold();
        pane.group(2)->Fold();
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

        second->OperateMe(0); // deleted
        QTRY_VERIFY(!second);
        QVERIFY(!COrderItem::SelectedItem());
    }

    void doubleClick_stopsBlinkingAndOpensOneDetailWindow()
    {
        OrderPane pane(nullptr);
        pane.list->AddOrderItem(order(1234, 1), 1);
        pane.group(1)->Fold();
        COrderItem* row = pane.group(1)->Items().first();
        QVERIFY(row->IsFlashing());
        QTRY_VERIFY(row->IconLabel() && row->IconLabel()->isHidden());

        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(!row->IsFlashing());
        QVERIFY(!row->FlashTimer());
        QVERIFY(!row->IconLabel()->isHidden());
        QVERIFY(row->ShowsNewOrderIcon());
        QPointer<COrderWidget> window = row->DetailWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("1234 订单详情"));
        QTest::qWait(600);
        QVERIFY(!row->IconLabel()->isHidden()); // stays still

        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(row->DetailWindow(), window.data());
        QCOMPARE(detailWindows().size(), 1);

        window->close(); // deletes itself
        QTRY_VERIFY(!window);
        QVERIFY(!row->DetailWindow());

        // The context menu opens it as well, without stopping a blink.
        row->StartFlash();
        QString action;
        chooseFromNextMenu(&action);
        QTest::mouseClick(row, Qt::RightButton);
        QCOMPARE(action, QStringLiteral("查看信息"));
        QVERIFY(row->DetailWindow());
        QVERIFY(row->IsFlashing());
    }

    void detailWindowStatus_movesTheRow_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("group"); // 0: the row is deleted
        QTest::addColumn<bool>("plainIcon");
        QTest::newRow("served") << 2 << 2 << true;
        QTest::newRow("reviewed") << 3 << 3 << false;
        QTest::newRow("completed") << 4 << 4 << true;
        QTest::newRow("refunded") << 9 << 9 << false;
        QTest::newRow("unpaid") << 0 << 0 << false;
        QTest::newRow("unknown") << 7 << 0 << false;
    }
    void detailWindowStatus_movesTheRow()
    {
        QFETCH(int, state);
        QFETCH(int, group);
        QFETCH(bool, plainIcon);
        OrderPane pane(nullptr);
        pane.list->AddOrderItem(order(8, state == 2 ? 4 : 2), 0); // a row already in the target group
        pane.list->AddOrderItem(order(1234, 1), 1);
        for (COrderList* list : pane.list->Lists())
            list->Fold();
        QPointer<COrderItem> row = pane.group(1)->FindItem(1234);
        row->OpenOrderDetail();
        QPointer<COrderWidget> window = row->DetailWindow();

        emit window->signalOperateMe(state);
        QVERIFY(!pane.group(1)->FindItem(1234));
        if (group == 0) {
            QTRY_VERIFY(!row);
            QTRY_VERIFY(!window); // the detail window closes with its row
            return;
        }
        QCOMPARE(pane.ids(group).first(), qint64(1234));
        QCOMPARE(row->GetOrder()->GetStatus(), state);
        QCOMPARE(row->ShowsNewOrderIcon(), !plainIcon);
        QVERIFY(row->IsFlashing());
        QVERIFY(row->isVisible());
        QCOMPARE(row->DetailWindow(), window.data());
    }

    void closingThePane_closesItsWindows()
    {
        auto* pane = new OrderPane(nullptr);
        pane->list->AddOrderItem(order(5, 1), 1);
        pane->group(1)->FindItem(5)->OpenOrderDetail();
        pane->list->SlotOpenOrderDetail(order(6, 0));
        QCOMPARE(detailWindows().size(), 2);
        delete pane;
        QCOMPARE(detailWindows().size(), 0);
    }
};

TARVIK_TEST_MAIN(TestOrderWidgets)
#include "tst_orderwidgets.moc"
