#include <QDir>
#include <QPrinter>
#include <QSignalSpy>

#include "app/constants.h"
#include "app/desktop.h"
#include "app/settings.h"
#include "common/testmain.h"
#include "detail/autoprint.h"
#include "detail/receipt.h"
#include "orders/corder.h"

namespace {

QString printFolder;
int printerCount = 0;

// Every receipt becomes its own PDF file in the test's folder, whatever printers the machine has.
QPrinter* pdfPrinter()
{
    auto* printer = new QPrinter(QPrinter::ScreenResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(
        QDir(printFolder).filePath(QStringLiteral("receipt-%1.pdf").arg(++printerCount)));
    return printer;
}

} // namespace

// New paid orders are printed once, and a restart remembers which.
class TestAutoPrint : public QObject
{
    Q_OBJECT

    QTemporaryDir receipts;
    qint64 account = 13700000000;

    static COrder* makeOrder(qint64 id, int status)
    {
        auto* order = new COrder;
        order->SetId(id);
        order->SetStatus(status);
        order->SetPtime(QDateTime::currentDateTime());
        order->SetAmount(12.5f);
        auto* noodles = new CCommodity;
        noodles->SetName(QStringLiteral("牛肉面"));
        noodles->SetNum(1);
        noodles->SetPrice(12.5f);
        noodles->SetTotal(12.5f);
        order->AddCommodity(noodles);
        return order;
    }

    QStringList pdfs() const { return QDir(printFolder).entryList({QStringLiteral("*.pdf")}, QDir::Files); }

private slots:
    void initTestCase()
    {
        printFolder = receipts.path();
        Desktop::SetPrinterFactory(pdfPrinter);
    }
    void cleanupTestCase() { Desktop::SetPrinterFactory(nullptr); }
    void init()
    {
        ++account;
        for (const QString& name : pdfs())
            QFile::remove(QDir(printFolder).filePath(name));
    }

    void paidOrders_printOnce_acrossARestart()
    {
        CSettings settings(account);
        QScopedPointer<COrder> paid(makeOrder(26120800007, 1));
        QScopedPointer<COrder> secondPaid(makeOrder(26120800008, 1));
        {
            CAutoPrint printer(&settings, account);
            printer.SetPrinter(&Receipt::PrintOnDefault);
            printer.DetailReady(paid.data());
            QCOMPARE(pdfs().size(), 0); // off by default

            settings.SetAutoPrint(true);
            QSignalSpy printed(&printer, &CAutoPrint::Printed);
            printer.DetailReady(paid.data());
            printer.DetailReady(paid.data()); // its detail fetched again
            QCOMPARE(printed.count(), 1);
            QCOMPARE(pdfs().size(), 1);
            QVERIFY(QFileInfo(printed.at(0).at(1).toString()).size() > 0);
            QCOMPARE(printed.at(0).at(0).toLongLong(), 26120800007LL);
        }
        // The program starts again: the first order is not printed again, the second one is.
        CAutoPrint restarted(&settings, account);
        restarted.SetPrinter(&Receipt::PrintOnDefault);
        QVERIFY(restarted.WasPrinted(26120800007));
        restarted.DetailReady(paid.data());
        QCOMPARE(pdfs().size(), 1);
        restarted.DetailReady(secondPaid.data());
        QCOMPARE(pdfs().size(), 2);
        QVERIFY(CAutoPrint(&settings, account).WasPrinted(26120800008));
        // Another account on this computer keeps its own list.
        QVERIFY(!CAutoPrint(&settings, account + 1000).WasPrinted(26120800007));
    }

    void onlyPaidOrders_andNull_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("files");
        QTest::newRow("unpaid") << 0 << 0;
        QTest::newRow("paid") << 1 << 1;
        QTest::newRow("served") << 2 << 0;
        QTest::newRow("refunded") << 9 << 0;
    }
    void onlyPaidOrders_andNull()
    {
        QFETCH(int, status);
        QFETCH(int, files);
        CSettings settings(account);
        settings.SetAutoPrint(true);
        CAutoPrint printer(&settings, account);
        printer.SetPrinter(&Receipt::PrintOnDefault);
        printer.DetailReady(nullptr);
        QScopedPointer<COrder> order(makeOrder(26120800100 + status, status));
        printer.DetailReady(order.data());
        QCOMPARE(pdfs().size(), files);
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
        CAutoPrint printer(&settings, account);
        printer.SetPrinter(&Receipt::PrintOnDefault);
        QCOMPARE(printer.PrintedCount(), CAutoPrint::RememberedIds);
        QVERIFY(!printer.WasPrinted(11)); // the oldest were forgotten
        QVERIFY(printer.WasPrinted(12));
        QVERIFY(printer.WasPrinted(12345));
        QVERIFY(printer.WasPrinted(CAutoPrint::RememberedIds + 10));

        QScopedPointer<COrder> order(makeOrder(26120800200, 1));
        printer.DetailReady(order.data());
        QCOMPARE(printer.PrintedCount(), CAutoPrint::RememberedIds);
        CAutoPrint reread(&settings, account);
        reread.SetPrinter(&Receipt::PrintOnDefault);
        QCOMPARE(reread.PrintedCount(), CAutoPrint::RememberedIds);
        QVERIFY(reread.WasPrinted(26120800200));
        QVERIFY(!reread.WasPrinted(12)); // the oldest made room for it
    }
};

TARVIK_TEST_MAIN(TestAutoPrint)
#include "tst_autoprint.moc"
