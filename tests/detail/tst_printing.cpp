#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include "app/log.h"
#include "app/settings.h"
#include "app/ui/traymessage.h"
#include "common/fakenetwork.h"
#include "common/orderfixture.h"
#include "common/pdfpages.h"
#include "common/privatecups.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "common/windowparts.h"
#include "detail/autoprint.h"
#include "detail/cupsspooler.h"
#include "detail/printspooler.h"
#include "detail/ui/corderwidget.h"
#include "detail/ui/receipt.h"
#include "detail/ui/receiptprinter.h"
#include "main/ui/cwsettings.h"
#include "ui/msgbox.h"

// Receipts printed through a real print spooler: a CUPS server of the test's own with two PDF queues,
// whose default paper is a 58 mm and an 80 mm roll. What the queues write is read back.
class TestPrinting : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateCups> cups;
    QTemporaryDir logs;
    qint64 account = 13600000000;
    static constexpr int slowMsecs = 60000; // a job passes several filters; slower under the sanitizers

    static const QString longName() { return QStringLiteral("招牌红烧牛肉拉面（特大碗，加卤蛋加牛肉，少放辣，不要香菜葱花）"); }

    static void addItem(COrder& order, const QString& name, int num, double price)
    {
        auto* item = new CCommodity;
        item->SetName(name);
        item->SetNum(num);
        item->SetPrice(price);
        item->SetTotal(num * price);
        order.AddCommodity(item);
    }

    static QString boxText(const CMsgBox* box)
    {
        const QLabel* label = box ? box->MsgBoxLabel() : nullptr;
        return label && label->isVisible() ? label->text() : QString();
    }

    static QString logText()
    {
        QFile file(Log::FilePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    std::unique_ptr<CSession> session(const QString& printer, CSettings::Paper paper, int copies = 1)
    {
        CUser user;
        user.SetAccount(account);
        auto made = MakeSession(user);
        made->Settings()->SetReceiptPrinter(printer);
        made->Settings()->SetReceiptPaper(paper);
        made->Settings()->SetReceiptCopies(copies);
        return made;
    }

private slots:
    void initTestCase()
    {
        const QString why = PrivateCups::Unavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        CPrintSpooler::SetPollMsecs(100);
        QVERIFY(Log::Install(logs.path()));
        cups = std::make_unique<PrivateCups>();
        QString error;
        QVERIFY2(cups->Start({{QStringLiteral("roll58"), 58}, {QStringLiteral("roll80"), 80}}, &error), qPrintable(error));
        // Every spooler of this process talks to it from now on.
        qputenv("CUPS_SERVER", cups->Socket().toLocal8Bit());
        Tray::SetAlwaysUseNotice(true);
    }

    void cleanupTestCase()
    {
        Log::Uninstall();
        cups.reset();
    }

    void init()
    {
        ++account;
        // Whatever a failed test left behind: both queues print again.
        for (const QString& queue : {QStringLiteral("roll58"), QStringLiteral("roll80")}) {
            cups->Run(QStringLiteral("cancel"), {QStringLiteral("-a"), queue});
            cups->Run(QStringLiteral("cupsenable"), {queue});
            cups->Run(QStringLiteral("cupsaccept"), {queue});
        }
    }

    void cleanup() { FakeNetworkManager::Uninstall(); }

    // The print button prints at once on the shop's printer, laid out for its roll: the page is the
    // roll's width, the long name wraps and every line stays inside the printable width.
    void button_printsOnTheChosenRoll_data()
    {
        QTest::addColumn<QString>("queue");
        QTest::addColumn<int>("paper");
        QTest::addColumn<double>("widthMm");
        QTest::addColumn<double>("printableMm");
        QTest::addColumn<int>("copies");
        QTest::newRow("58 mm") << "roll58" << int(CSettings::Paper::Roll58) << 58.0 << 48.0 << 1;
        QTest::newRow("80 mm, two copies") << "roll80" << int(CSettings::Paper::Roll80) << 80.0 << 72.0 << 2;
    }
    void button_printsOnTheChosenRoll()
    {
        QFETCH(QString, queue);
        QFETCH(int, paper);
        QFETCH(double, widthMm);
        QFETCH(double, printableMm);
        QFETCH(int, copies);
        const QString other = queue == QLatin1String("roll58") ? QStringLiteral("roll80") : QStringLiteral("roll58");
        const int otherBefore = cups->Pdfs(other).size();
        const qint64 id = 26120900000 + account % 1000;
        FakeNetworkManager::Install([=](const RecordedRequest&) {
            return FakeResponse::Json(QStringLiteral(
                R"({"status":1,"info":{"id":%1,"status":2,"amount":86.5,"taker":"李四","tel":"13700000000",)"
                R"("message":"","ptime":"2026-12-09 11:05:09","address":"幸福路 8 号",)"
                R"("out":[{"name":"%2","num":2,"price":38,"total":76},{"name":"凉皮","num":1,"price":12.5,"total":12.5}]}})")
                                          .arg(id)
                                          .arg(longName())
                                          .toUtf8());
        });
        auto staff = session(queue, CSettings::Paper(paper), copies);
        COrder& order = NewOrder(*staff->Book(), id);
        order.SetStatus(2);
        QPointer<COrderWidget> window = new COrderWidget(&order, staff.get());
        window->Show();
        QTRY_VERIFY_WITH_TIMEOUT(PartOf<QPushButton>(window, "printButton")->isVisible(), 10000);
        QTest::mouseClick(PartOf<QPushButton>(window, "printButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(MessageBoxOf(window)), QStringLiteral("小票已打印：") + queue,
                                  slowMsecs);
        delete window;

        // The chosen queue got it, the other did not.
        const QStringList pdfs = cups->Pdfs(queue);
        QCOMPARE(pdfs.size(), 1);
        QCOMPARE(cups->Pdfs(other).size(), otherBefore);
        const PdfPages page = PdfPages::Read(pdfs.first());
        QVERIFY2(qAbs(page.widthMm - widthMm) < 1, qPrintable(QString::number(page.widthMm)));
        QCOMPARE(page.count, copies); // one page of its own length for each copy
        const double side = (widthMm - printableMm) / 2;
        QVERIFY2(page.left >= side - 0.5 && page.right <= widthMm - side + 0.5,
                 qPrintable(QStringLiteral("ink from %1 to %2 mm").arg(page.left).arg(page.right)));

        // Every item whole: the name, wrapped or not, then its quantity and its price.
        const QStringList lines = PdfPages::Lines(pdfs.first());
        const int first = lines.indexOf(QStringLiteral("Velm订单"));
        QVERIFY(first >= 0);
        const QStringList receipt = lines.mid(first, lines.lastIndexOf(QStringLiteral("Velm订单")) > first
                                                         ? lines.lastIndexOf(QStringLiteral("Velm订单")) - first
                                                         : lines.size());
        int at = receipt.indexOf(QStringLiteral("外卖：")) + 1;
        QVERIFY(at > 0);
        QString name;
        while (at < receipt.size() && name.size() < longName().size())
            name += receipt.at(at++);
        QCOMPARE(name.remove(QLatin1Char(' ')), QString(longName()).remove(QLatin1Char(' ')));
        if (widthMm < 60)
            QVERIFY(receipt.indexOf(longName()) < 0); // it did have to wrap
        QCOMPARE(receipt.value(at), QStringLiteral("数量：2 价格：38.00"));
        QCOMPARE(receipt.value(at + 1), QStringLiteral("凉皮"));
        QCOMPARE(receipt.value(at + 2), QStringLiteral("数量：1 价格：12.50"));
        QVERIFY(receipt.contains(QStringLiteral("合计：88.50 总金额：86.50")));
        QVERIFY(receipt.contains(QStringLiteral("订单时间：2026-12-09 11:05:09")));
        QVERIFY(receipt.join(QString()).contains(QStringLiteral("感谢您使用Velm购物，欢迎您下次光临！"))); // wrapped
        QVERIFY(logText().contains(QStringLiteral("receipt of order %1: job").arg(id)));
        QVERIFY(logText().contains(QStringLiteral(" on %1 completed").arg(queue)));
    }

    // A queue that holds its jobs or turns them away: the automatic receipt fails and says so in the
    // tray, printed.txt keeps nothing; once the queue takes jobs again it is printed, once.
    void autoPrint_failsOnAStoppedQueue_andIsPrintedOnceWhenItTakesJobs_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("restart");
        QTest::addColumn<QString>("reason");
        QTest::newRow("disabled") << "cupsdisable" << "cupsenable" << "打印机已暂停";
        QTest::newRow("rejecting") << "cupsreject" << "cupsaccept" << "打印机不接受新的打印任务";
    }
    void autoPrint_failsOnAStoppedQueue_andIsPrintedOnceWhenItTakesJobs()
    {
        QFETCH(QString, stop);
        QFETCH(QString, restart);
        QFETCH(QString, reason);
        auto staff = session(QStringLiteral("roll58"), CSettings::Paper::Roll58);
        staff->Settings()->SetAutoPrint(true);
        CReceiptPrinter::ForSession(staff.get());
        CAutoPrint* autoPrint = staff->AutoPrint();
        QSystemTrayIcon tray;
        connect(autoPrint, &CAutoPrint::PrintFailed, &tray,
                [&](qint64 id, const QString& text) { Receipt::ShowFailureInTray(&tray, autoPrint, id, text); });
        QSignalSpy failed(autoPrint, &CAutoPrint::PrintFailed);
        QSignalSpy printed(autoPrint, &CAutoPrint::Printed);
        const int before = cups->Pdfs(QStringLiteral("roll58")).size();
        const int completedBefore = cups->CompletedJobs(QStringLiteral("roll58"));

        QVERIFY(cups->Run(stop, {QStringLiteral("roll58")}));
        COrder order;
        order.SetId(26120910000 + account % 1000);
        order.SetStatus(1);
        order.SetPtime(QDateTime::currentDateTime());
        addItem(order, QStringLiteral("牛肉面"), 1, 18);
        autoPrint->DetailReady(&order);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, slowMsecs);
        const QString text = failed.at(0).at(1).toString();
        QVERIFY2(text.startsWith(QStringLiteral("打印失败：roll58：") + reason), qPrintable(text));
        QCOMPARE(Tray::LastMessage().text, text);
        QCOMPARE(Tray::LastMessage().actionText, QStringLiteral("重新打印"));
        QVERIFY(!autoPrint->WasPrinted(order.GetId()));
        QVERIFY(!QFile(CAutoPrint::FilePath(account)).exists());
        QVERIFY(autoPrint->AwaitsRetry(order.GetId()));

        QVERIFY(cups->Run(restart, {QStringLiteral("roll58")}));
        QTRY_COMPARE_WITH_TIMEOUT(printed.count(), 1, slowMsecs);
        QVERIFY(autoPrint->WasPrinted(order.GetId()));
        QFile list(CAutoPrint::FilePath(account));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), QByteArray::number(order.GetId()) + '\n');
        QVERIFY(!autoPrint->AwaitsRetry(order.GetId()) && !autoPrint->IsPrinting(order.GetId()));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(cups->Pdfs(QStringLiteral("roll58")).size(), before + 1);
        QCOMPARE(cups->CompletedJobs(QStringLiteral("roll58")), completedBefore + 1);
        QCOMPARE(cups->UnfinishedJobs(QStringLiteral("roll58")), 0);
    }

    // The button on a stopped queue says why in the window, and "重新打印" prints it once it runs.
    void button_onAStoppedQueue_saysWhy_andPrintsAgain()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json(R"({"status":1,"info":{"id":77,"status":2,"amount":12,"taker":"李四"}})");
        });
        auto staff = session(QStringLiteral("roll80"), CSettings::Paper::Roll80);
        COrder& order = NewOrder(*staff->Book(), 77);
        order.SetStatus(2);
        QPointer<COrderWidget> window = new COrderWidget(&order, staff.get());
        window->Show();
        QTRY_VERIFY_WITH_TIMEOUT(PartOf<QPushButton>(window, "printButton")->isVisible(), 10000);
        const int before = cups->Pdfs(QStringLiteral("roll80")).size();

        QVERIFY(cups->Run(QStringLiteral("cupsdisable"), {QStringLiteral("roll80")}));
        QTest::mouseClick(PartOf<QPushButton>(window, "printButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            boxText(MessageBoxOf(window)).startsWith(QStringLiteral("打印失败：roll80：打印机已暂停")),
            slowMsecs);
        QVERIFY(PartOf<QPushButton>(window, "reprintButton")->isVisible());
        QVERIFY(!MessageBoxOf(window)->MsgBoxTimer() ||
                !MessageBoxOf(window)->MsgBoxTimer()->isActive()); // it stays

        QVERIFY(cups->Run(QStringLiteral("cupsenable"), {QStringLiteral("roll80")}));
        QTest::mouseClick(PartOf<QPushButton>(window, "reprintButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(MessageBoxOf(window)), QStringLiteral("小票已打印：roll80"),
                                  slowMsecs);
        QCOMPARE(cups->Pdfs(QStringLiteral("roll80")).size(), before + 1);
        delete window;
    }

    // How a job is followed: through CUPS to its end (a job waiting on a stopped queue is cancelled
    // and fails), or, where a platform cannot follow jobs, done once the spooler took it.
    void jobFollowers_data()
    {
        QTest::addColumn<bool>("followed");
        QTest::newRow("CUPS follows the job") << true;
        QTest::newRow("accepted counts as done") << false;
    }
    void jobFollowers()
    {
        QFETCH(bool, followed);
        QTemporaryDir folder;
        PrintJob job;
        job.printer = QStringLiteral("roll80");
        job.file = folder.filePath(QStringLiteral("receipt.pdf"));
        job.title = QStringLiteral("follower");
        QVERIFY(Receipt::WritePdf(job.file, Receipt::Data::Sample(), CSettings::Paper::Roll80, QSizeF(), &job.paperMm));
        QVERIFY(cups->Run(QStringLiteral("cupsdisable"), {job.printer}));

        std::unique_ptr<JobFollower> follower;
        if (followed)
            follower = std::make_unique<CupsJobFollower>();
        else
            follower = std::make_unique<AcceptedJobFollower>();
        CPrintSpooler spooler(std::move(follower));
        QSignalSpy accepted(&spooler, &CPrintSpooler::Accepted);
        QSignalSpy ended(&spooler, &CPrintSpooler::Ended);
        spooler.Submit(7, job);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, slowMsecs);
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(ended.at(0).at(0).toInt(), 7);
        const PrintJobEnd end = ended.at(0).at(1).value<PrintJobEnd>();
        QCOMPARE(end.jobId, accepted.at(0).at(1).toInt());
        QCOMPARE(end.completed, !followed);
        if (followed) {
            QVERIFY2(end.reason.startsWith(QStringLiteral("打印机已暂停")), qPrintable(end.reason));
            QCOMPARE(cups->UnfinishedJobs(job.printer), 0); // cancelled: it will not come out later
        } else {
            QCOMPARE(cups->UnfinishedJobs(job.printer), 1); // it still waits in the stopped queue
        }
    }

    // The settings window lists the system's printers after "系统默认打印机", keeps the choice, and
    // prints a test page on it.
    void settings_listThePrinters_andPrintATestPage()
    {
        CSettings settings(account);
        CReceiptPrinter receipts(&settings);
        CWSettings window(&settings, &receipts);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(window.PrintersListed(), slowMsecs);
        QComboBox* printers = SettingsParts::Printer(&window);
        QStringList names;
        for (int i = 0; i < printers->count(); ++i)
            names << printers->itemText(i);
        QCOMPARE(names, (QStringList{"系统默认打印机", "roll58", "roll80"}));
        QCOMPARE(printers->currentIndex(), 0);

        printers->setCurrentIndex(2);
        SettingsParts::Paper(&window)->setCurrentIndex(SettingsParts::Paper(&window)->findData(int(CSettings::Paper::Roll80)));
        SettingsParts::Copies(&window)->setCurrentIndex(SettingsParts::Copies(&window)->findData(3));
        QCOMPARE(CSettings(account).ReceiptPrinter(), QStringLiteral("roll80"));
        QCOMPARE(CSettings(account).ReceiptPaper(), CSettings::Paper::Roll80);
        QCOMPARE(CSettings(account).ReceiptCopies(), 3);

        const int before = cups->Pdfs(QStringLiteral("roll80")).size();
        QTest::mouseClick(SettingsParts::TestPage(&window), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(SettingsParts::Box(&window)), QStringLiteral("测试页已打印：roll80"), slowMsecs);
        const QStringList pdfs = cups->Pdfs(QStringLiteral("roll80"));
        QCOMPARE(pdfs.size(), before + 1);
        QCOMPARE(PdfPages::Read(pdfs.last()).count, 3);
        QVERIFY(PdfPages::Lines(pdfs.last()).contains(QStringLiteral("Velm订单（测试页）")));

        // The system's default is this server's default queue.
        printers->setCurrentIndex(0);
        QCOMPARE(settings.ReceiptPrinter(), QString());
        QTest::mouseClick(SettingsParts::TestPage(&window), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(SettingsParts::Box(&window)), QStringLiteral("测试页已打印：roll58"), slowMsecs);

        // A printer the system no longer has stays chosen, marked as missing; printing on it fails.
        settings.SetReceiptPrinter(QStringLiteral("gone"));
        QCOMPARE(printers->currentText(), QStringLiteral("gone（未找到）"));
        QTest::mouseClick(SettingsParts::TestPage(&window), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxText(SettingsParts::Box(&window)), QStringLiteral("打印失败：gone：找不到打印机"), slowMsecs);
    }
};

TARVIK_TEST_MAIN(TestPrinting)
#include "tst_printing.moc"
