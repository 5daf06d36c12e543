#include <QPrinter>
#include <QPushButton>

#include "common/fakenetwork.h"
#include "common/orderfixture.h"
#include "common/pdfpages.h"
#include "common/testmain.h"
#include "common/testsession.h"
#include "common/windowparts.h"
#include "detail/ui/corderwidget.h"
#include "detail/ui/receipt.h"
#include "detail/ui/receiptprinter.h"
#include "orders/corder.h"
#include "session/csession.h"

// Receipts printed to PDF and read back as text, page by page.
class TestReceipt : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

    static void addItem(COrder& order, const QString& name, int num, float price, float total)
    {
        auto* item = new CCommodity;
        item->SetName(name);
        item->SetNum(num);
        item->SetPrice(price);
        item->SetTotal(total);
        order.AddCommodity(item);
    }

    static QPrinter* pdfPrinter(const QString& path)
    {
        auto* printer = new QPrinter(QPrinter::ScreenResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        return printer;
    }

    QString print(const COrder& order, const QString& name)
    {
        const QString path = folder.filePath(name);
        QScopedPointer<QPrinter> printer(pdfPrinter(path));
        if (!Receipt::Paint(printer.data(), order))
            return QString();
        return path;
    }

private slots:

    void receipt_data()
    {
        QTest::addColumn<bool>("takeout");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("items");
        QTest::addColumn<QStringList>("expected"); // the receipt's lines, in order, blanks squeezed

        const QStringList head{"Velm订单", "订单号：26120700012", "订单时间：2026-12-07 11:05:09"};
        const QStringList tail{"买家联系方式：13912345678", "联系人：张三"};
        QTest::newRow("takeout order with a message")
            << true << "少放辣" << 2
            << head +
                   QStringList{"外卖：",
                               "招牌牛肉拉面",
                               "数量：2 价格：18.00",
                               "秘制凉皮",
                               "数量：1 价格：10.00",
                               "外卖地址：幸福路 8 号 3 单元",
                               "合计：46.00 总金额：40.00",
                               "数量：3",
                               "本单Velm为您节省 6.00 元"} +
                   tail + QStringList{"买家留言：少放辣", "感谢您使用Velm购物，欢迎您下次光临！"};
        QTest::newRow("in-shop order without a message")
            << false << "" << 2
            << head + QStringList{"招牌牛肉拉面",
                                  "数量：2 价格：18.00",
                                  "秘制凉皮",
                                  "数量：1 价格：10.00",
                                  "合计：46.00 总金额：40.00",
                                  "数量：3",
                                  "本单Velm为您节省 6.00 元"} +
                   tail + QStringList{"买家留言：暂无留言", "感谢您使用Velm购物，欢迎您下次光临！"};
        QTest::newRow("no items")
            << false << "" << 0
            << head + QStringList{"合计：0.00 总金额：40.00", "数量：0", "本单Velm为您节省 0.00 元"} + tail +
                   QStringList{"买家留言：暂无留言", "感谢您使用Velm购物，欢迎您下次光临！"};
    }
    void receipt()
    {
        QFETCH(bool, takeout);
        QFETCH(QString, message);
        QFETCH(int, items);
        QFETCH(QStringList, expected);

        COrder order;

        order.SetId(26120700012LL);
        order.SetPtime(QDateTime(QDate(2026, 12, 7), QTime(11, 5, 9)));
        order.SetTakeout(takeout);
        order.SetAddress(QStringLiteral("幸福路 8 号 3 单元"));
        order.SetAmount(40);
        order.SetTel(QStringLiteral("13912345678"));
        order.SetTaker(QStringLiteral("张三"));
        order.SetMessage(message);
        if (items > 0) {
            addItem(order, QStringLiteral("招牌牛肉拉面"), 2, 18, 36);
            addItem(order, QStringLiteral("秘制凉皮"), 1, 10, 10);
        }
        const QString path = print(order, QStringLiteral("%1.pdf").arg(QTest::currentDataTag()));
        QVERIFY(!path.isEmpty());
        const QList<QStringList> pages = PdfPages::Text(path);
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.first(), expected);
    }

    void longOrder_spansPagesAndLosesNothing()
    {
        COrder order;
        order.SetId(26120700099LL);
        order.SetPtime(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)));
        order.SetTakeout(true);
        order.SetAddress(QStringLiteral("幸福路 8 号"));
        order.SetAmount(500);
        order.SetTaker(QStringLiteral("张三"));
        for (int i = 1; i <= 60; ++i)
            addItem(order, QStringLiteral("菜品%1号").arg(i, 2, 10, QLatin1Char('0')), 1, 9, 9);

        const QString path = print(order, QStringLiteral("long.pdf"));
        QVERIFY(!path.isEmpty());
        const QList<QStringList> pages = PdfPages::Text(path);
        QVERIFY2(pages.size() > 1, qPrintable(QString::number(pages.size())));
        const QStringList lines = PdfPages::Lines(path);

        // Every item once, in order, each followed by its price line; then everything after them.
        int at = lines.indexOf(QStringLiteral("外卖："));
        QVERIFY(at > 0);
        for (int i = 1; i <= 60; ++i) {
            const QString name = QStringLiteral("菜品%1号").arg(i, 2, 10, QLatin1Char('0'));
            QCOMPARE(lines.count(name), 1);
            QCOMPARE(lines.indexOf(name), at + 1);
            QCOMPARE(lines.at(at + 2), QStringLiteral("数量：1 价格：9.00"));
            at += 2;
        }
        const QStringList rest{"外卖地址：幸福路 8 号",
                               "合计：540.00 总金额：500.00",
                               "数量：60",
                               "本单Velm为您节省 40.00 元",
                               "买家联系方式：",
                               "联系人：张三",
                               "买家留言：暂无留言",
                               "感谢您使用Velm购物，欢迎您下次光临！"};
        QCOMPARE(lines.mid(at + 1), rest);
    }

    // On a roll the receipt is one page as wide as the roll and as long as the receipt: the long
    // name wraps, prices stay whole, and no word passes the printable width.
    void roll_isOnePageOfItsOwnLength_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<double>("widthMm");
        QTest::addColumn<double>("printableMm");
        QTest::newRow("58 mm") << int(CSettings::Paper::Roll58) << 58.0 << 48.0;
        QTest::newRow("80 mm") << int(CSettings::Paper::Roll80) << 80.0 << 72.0;
    }
    void roll_isOnePageOfItsOwnLength()
    {
        QFETCH(int, paper);
        QFETCH(double, widthMm);
        QFETCH(double, printableMm);
        const QString name = QStringLiteral("招牌红烧牛肉拉面（特大碗，加卤蛋加牛肉，少放辣，不要香菜葱花，打包带走）");
        Receipt::Data data = Receipt::Data::Sample();
        data.items = {{name, 123456.78, 2}};
        const QString shortPdf = folder.filePath(QStringLiteral("short-%1.pdf").arg(paper));
        QSizeF size;
        QVERIFY(Receipt::WritePdf(shortPdf, data, CSettings::Paper(paper), QSizeF(), &size));
        for (int i = 1; i <= 40; ++i)
            data.items.append({QStringLiteral("菜品%1号").arg(i), 9, 1});
        const QString longPdf = folder.filePath(QStringLiteral("long-%1.pdf").arg(paper));
        QSizeF longSize;
        QVERIFY(Receipt::WritePdf(longPdf, data, CSettings::Paper(paper), QSizeF(), &longSize));

        for (const QString& pdf : {shortPdf, longPdf}) {
            const PdfPages pages = PdfPages::Read(pdf);
            QCOMPARE(pages.count, 1);
            QVERIFY2(qAbs(pages.widthMm - widthMm) < 0.5, qPrintable(QString::number(pages.widthMm)));
            const double side = (widthMm - printableMm) / 2;
            QVERIFY2(pages.left >= side - 0.5 && pages.right <= widthMm - side + 0.5,
                     qPrintable(QStringLiteral("%1 .. %2").arg(pages.left).arg(pages.right)));
        }
        QCOMPARE(size.width(), widthMm);
        QVERIFY2(longSize.height() > size.height() + 40 * 6, qPrintable(QString::number(longSize.height())));

        const QStringList lines = PdfPages::Lines(longPdf);
        int at = lines.indexOf(QStringLiteral("外卖：")) + 1;
        QVERIFY(at > 0);
        QString wrapped;
        while (at < lines.size() && !lines.at(at).startsWith(QStringLiteral("数量：")))
            wrapped += lines.at(at++);
        QCOMPARE(wrapped.remove(QLatin1Char(' ')), QString(name).remove(QLatin1Char(' ')));
        QVERIFY(lines.indexOf(name) < 0); // it had to wrap, even at 80 mm
        QCOMPARE(lines.value(at), QStringLiteral("数量：2 价格：123456.78"));
        QCOMPARE(lines.value(at + 1), QStringLiteral("菜品1号"));
        QCOMPARE(lines.value(at + 2), QStringLiteral("数量：1 价格：9.00"));
    }

    void printButton_printsAtOnceOnTheReceiptPrinter()
    {
        FakeNetworkManager::Install([](const RecordedRequest&) {
            return FakeResponse::Json("{\"status\":1,\"info\":{\"id\":88,\"status\":2,\"amount\":12,"
                                      "\"taker\":\"李四\",\"tel\":\"13700000000\",\"message\":\"\"}}");
        });
        const QString target = folder.filePath(QStringLiteral("button.pdf"));
        CSession session{CUser(), nullptr, nullptr, TestOptions()};
        // The session's receipt printer, the one the window's print button finds, prints on the PDF.
        session.SetReceipts(
            new CReceiptPrinter(session.Settings(), &session, [target] { return pdfPrinter(target); }));
        COrder& order = NewOrder(*session.Book(), 88);
        order.SetStatus(2);
        QPointer<COrderWidget> window = new COrderWidget(&order, &session);
        window->Show();
        QTRY_VERIFY(PartOf<QPushButton>(window, "printButton")->isVisible());
        QCOMPARE(PartOf<QPushButton>(window, "printButton")->text(), QStringLiteral("打印"));
        QTest::mouseClick(PartOf<QPushButton>(window, "printButton"), Qt::LeftButton);
        FakeNetworkManager::Uninstall();

        const QStringList lines = PdfPages::Lines(target);
        QVERIFY(lines.contains(QStringLiteral("订单号：88")));
        QVERIFY(lines.contains(QStringLiteral("联系人：李四")));
        QVERIFY(lines.contains(QStringLiteral("买家留言：暂无留言")));
        delete window;
    }
};

TARVIK_TEST_MAIN(TestReceipt)
#include "tst_receipt.moc"
