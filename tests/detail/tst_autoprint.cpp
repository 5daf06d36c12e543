#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include "app/constants.h"
#include "app/settings.h"
#include "common/coretestmain.h"
#include "detail/autoprint.h"
#include "detail/receiptservice.h"
#include "orders/corder.h"

namespace {

// A receipt service whose jobs end when the test says so.
class FakeReceipts : public CReceiptService
{
public:
    int Print(const COrder& order) override
    {
        printed << order.GetId();
        return ++ticket;
    }
    int Reprint(int earlier) override
    {
        reprinted << earlier;
        return ++ticket;
    }
    void WatchQueue(const QString& printer) override { watched << printer; }

    void End(int which, PrintOutcome::Result result, const QString& printer = QStringLiteral("kitchen"))
    {
        PrintOutcome outcome;
        outcome.result = result;
        outcome.printer = result == PrintOutcome::Result::SavedAsFile ? QString() : printer;
        outcome.file = result == PrintOutcome::Result::SavedAsFile ? QStringLiteral("/receipts/r.pdf") : QString();
        outcome.reason = result == PrintOutcome::Result::Failed ? QStringLiteral("打印机已暂停") : QString();
        emit Finished(which, outcome);
    }
    void Ready(const QString& printer) { emit QueueReady(printer); }

    int ticket = 0;
    QList<qint64> printed;
    QList<int> reprinted;
    QStringList watched;
};

COrder* makeOrder(qint64 id, int status)
{
    auto* order = new COrder;
    order->SetId(id);
    order->SetStatus(status);
    return order;
}

QByteArray listFile(qint64 account)
{
    QFile file(CAutoPrint::FilePath(account));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// New paid orders are printed once, counted printed only when their job completed, printed again
// once when a failed one's printer takes jobs again; a restart remembers which were printed.
class TestAutoPrint : public QObject
{
    Q_OBJECT

    qint64 account = 13700000000;

private slots:
    void init() { ++account; }

    void paidOrders_printOnce_acrossARestart()
    {
        CSettings settings(account);
        FakeReceipts receipts;
        QScopedPointer<COrder> paid(makeOrder(26120800007, 1));
        QScopedPointer<COrder> secondPaid(makeOrder(26120800008, 1));
        {
            CAutoPrint printer(&settings, account);
            printer.SetPrinter(&receipts);
            printer.DetailReady(paid.data());
            QVERIFY(receipts.printed.isEmpty()); // off by default

            settings.SetAutoPrint(true);
            QSignalSpy printed(&printer, &CAutoPrint::Printed);
            printer.DetailReady(paid.data());
            printer.DetailReady(paid.data()); // its detail fetched again while the job runs
            QCOMPARE(receipts.printed, QList<qint64>{26120800007});
            QVERIFY(printer.IsPrinting(26120800007) && !printer.WasPrinted(26120800007));
            QVERIFY(listFile(account).isEmpty());

            receipts.End(1, PrintOutcome::Result::Printed);
            QCOMPARE(printed.count(), 1);
            QCOMPARE(printed.at(0).at(0).toLongLong(), 26120800007LL);
            QVERIFY(printer.WasPrinted(26120800007) && !printer.IsPrinting(26120800007));
            QCOMPARE(listFile(account), QByteArray("26120800007\n"));
            printer.DetailReady(paid.data());
            QCOMPARE(receipts.printed.size(), 1);
        }
        // The program starts again: the first order is not printed again, the second one is.
        CAutoPrint restarted(&settings, account);
        restarted.SetPrinter(&receipts);
        QVERIFY(restarted.WasPrinted(26120800007));
        restarted.DetailReady(paid.data());
        restarted.DetailReady(secondPaid.data());
        QCOMPARE(receipts.printed, (QList<qint64>{26120800007, 26120800008}));
        receipts.End(2, PrintOutcome::Result::SavedAsFile); // no printer: its PDF counts
        QVERIFY(CAutoPrint(&settings, account).WasPrinted(26120800008));
        // Another account on this computer keeps its own list.
        QVERIFY(!CAutoPrint(&settings, account + 1000).WasPrinted(26120800007));
    }

    void onlyPaidOrders_andNull_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("jobs");
        QTest::newRow("unpaid") << 0 << 0;
        QTest::newRow("paid") << 1 << 1;
        QTest::newRow("served") << 2 << 0;
        QTest::newRow("refunded") << 9 << 0;
    }
    void onlyPaidOrders_andNull()
    {
        QFETCH(int, status);
        QFETCH(int, jobs);
        CSettings settings(account);
        settings.SetAutoPrint(true);
        FakeReceipts receipts;
        CAutoPrint printer(&settings, account);
        printer.SetPrinter(&receipts);
        printer.DetailReady(nullptr);
        QScopedPointer<COrder> order(makeOrder(26120800100 + status, status));
        printer.DetailReady(order.data());
        QCOMPARE(receipts.printed.size(), jobs);
    }

    // A failed job: printed.txt keeps nothing, the staff member is told, and the receipt is printed
    // again once when its printer takes jobs again; a retry that fails too is not tried again.
    void failedJob_isRetriedOnce_whenItsPrinterTakesJobs_data()
    {
        QTest::addColumn<bool>("retrySucceeds");
        QTest::newRow("the retry prints it") << true;
        QTest::newRow("the retry fails too") << false;
    }
    void failedJob_isRetriedOnce_whenItsPrinterTakesJobs()
    {
        QFETCH(bool, retrySucceeds);
        CSettings settings(account);
        settings.SetAutoPrint(true);
        FakeReceipts receipts;
        CAutoPrint printer(&settings, account);
        printer.SetPrinter(&receipts);
        QSignalSpy failed(&printer, &CAutoPrint::PrintFailed);
        QSignalSpy printed(&printer, &CAutoPrint::Printed);
        QScopedPointer<COrder> order(makeOrder(26120800300, 1));

        printer.DetailReady(order.data());
        receipts.End(1, PrintOutcome::Result::Failed);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("打印失败：kitchen：打印机已暂停"));
        QVERIFY(!printer.WasPrinted(26120800300) && printer.AwaitsRetry(26120800300));
        QVERIFY(listFile(account).isEmpty());
        QCOMPARE(receipts.watched, QStringList{"kitchen"});
        printer.DetailReady(order.data()); // a detail read again waits for the retry
        QCOMPARE(receipts.printed.size(), 1);

        receipts.Ready(QStringLiteral("another printer"));
        QVERIFY(receipts.reprinted.isEmpty());
        receipts.Ready(QStringLiteral("kitchen"));
        QCOMPARE(receipts.reprinted, QList<int>{1});
        receipts.Ready(QStringLiteral("kitchen")); // once
        QCOMPARE(receipts.reprinted, QList<int>{1});

        receipts.End(2, retrySucceeds ? PrintOutcome::Result::Printed : PrintOutcome::Result::Failed);
        QCOMPARE(printer.WasPrinted(26120800300), retrySucceeds);
        QCOMPARE(listFile(account), retrySucceeds ? QByteArray("26120800300\n") : QByteArray());
        QCOMPARE(printed.count(), retrySucceeds ? 1 : 0);
        QCOMPARE(failed.count(), retrySucceeds ? 1 : 2);
        QCOMPARE(receipts.watched.size(), 1); // not watched for a second retry
        QVERIFY(!printer.AwaitsRetry(26120800300));
        QCOMPARE(printer.Failed(), retrySucceeds ? QList<qint64>() : QList<qint64>{26120800300});

        // "重新打印" prints a failed one again at the staff member's word, and nothing else.
        printer.Reprint(26120800300);
        QCOMPARE(receipts.reprinted.size(), retrySucceeds ? 1 : 2);
    }

    void rememberedIds_areBounded_andOddLinesSkipped()
    {
        QDir().mkpath(AccountDir(account));
        QFile list(CAutoPrint::FilePath(account));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("garbage\n-5\n\n");
        for (qint64 id = 1; id <= CAutoPrint::RememberedIds + 10; ++id)
            list.write(QByteArray::number(id) + '\n');
        list.write("12345"); // a line torn by a crash: still a whole id
        list.close();

        CSettings settings(account);
        settings.SetAutoPrint(true);
        FakeReceipts receipts;
        CAutoPrint printer(&settings, account);
        printer.SetPrinter(&receipts);
        QCOMPARE(printer.PrintedCount(), CAutoPrint::RememberedIds);
        QVERIFY(!printer.WasPrinted(11)); // the oldest were forgotten
        QVERIFY(printer.WasPrinted(12));
        QVERIFY(printer.WasPrinted(12345));
        QVERIFY(printer.WasPrinted(CAutoPrint::RememberedIds + 10));

        QScopedPointer<COrder> order(makeOrder(26120800200, 1));
        printer.DetailReady(order.data());
        receipts.End(1, PrintOutcome::Result::Printed);
        QCOMPARE(printer.PrintedCount(), CAutoPrint::RememberedIds);
        CAutoPrint reread(&settings, account);
        QCOMPARE(reread.PrintedCount(), CAutoPrint::RememberedIds);
        QVERIFY(reread.WasPrinted(26120800200));
        QVERIFY(!reread.WasPrinted(12)); // the oldest made room for it
    }
};

TARVIK_GUILESS_TEST_MAIN(TestAutoPrint)
#include "tst_autoprint.moc"
