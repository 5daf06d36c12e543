#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>

#include "app/constants.h"
#include "app/settings.h"
#include "common/mainwindow.h"
#include "common/testmain.h"
#include "main/ui/cwsettings.h"

// The settings window saves each change at once; a store opened later reads what it saved.
class TestCWSettings : public QObject
{
    Q_OBJECT

    qint64 account = 13900000000;

private slots:
    void init() { ++account; }

    void defaults_areAllOff()
    {
        CSettings settings(account);
        QCOMPARE(settings.ReminderInterval(), 0);
        QVERIFY(!settings.TrayNotice());
        QVERIFY(!settings.AutoPrint());
        CWSettings window(&settings);
        QCOMPARE(SettingsParts::Reminder(&window)->currentText(), QStringLiteral("关闭"));
        QVERIFY(!SettingsParts::TrayNotice(&window)->isChecked());
        QVERIFY(!SettingsParts::AutoPrint(&window)->isChecked());
        QCOMPARE(window.TitleLabel()->text(), QStringLiteral("设置"));
    }

    void windowChanges_areSaved_andReadByANewStore()
    {
        {
            CSettings settings(account);
            QSignalSpy changed(&settings, &CSettings::Changed);
            auto* window = new CWSettings(&settings);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QComboBox* reminder = SettingsParts::Reminder(window);
            reminder->setCurrentIndex(reminder->findText(QStringLiteral("每 60 秒")));
            QTest::mouseClick(SettingsParts::TrayNotice(window), Qt::LeftButton);
            QTest::mouseClick(SettingsParts::AutoPrint(window), Qt::LeftButton);
            QCOMPARE(changed.count(), 3);
            QVERIFY(QFile::exists(CSettings::FilePath(account))); // written without closing anything

            // Another store of the same account reads the file as it is now.
            CSettings other(account);
            QCOMPARE(other.ReminderInterval(), 60);
            QVERIFY(other.TrayNotice());
            QVERIFY(other.AutoPrint());

            // A change made elsewhere shows in the open window.
            settings.SetAutoPrint(false);
            QVERIFY(!SettingsParts::AutoPrint(window)->isChecked());
            QCOMPARE(changed.count(), 4);
            settings.SetAutoPrint(false); // no change, no signal
            QCOMPARE(changed.count(), 4);
            window->close();
        }
        CSettings reopened(account);
        QCOMPARE(reopened.ReminderInterval(), 60);
        QVERIFY(reopened.TrayNotice());
        QVERIFY(!reopened.AutoPrint());

        // Each account has its own.
        CSettings stranger(account + 1000);
        QCOMPARE(stranger.ReminderInterval(), 0);
        QVERIFY(!stranger.TrayNotice());
    }

    void oddValues_fallBackToOff_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("interval not offered") << QByteArray("[reminder]\ninterval=1\n");
        QTest::newRow("interval negative") << QByteArray("[reminder]\ninterval=-30\n");
        QTest::newRow("interval not a number") << QByteArray("[reminder]\ninterval=often\n");
        QTest::newRow("not an ini file") << QByteArray("\x00\x01\xff garbage [[[ =\n", 17);
        QTest::newRow("paper and copies not offered") << QByteArray("[printing]\npaper=A3\ncopies=9\n");
        QTest::newRow("copies not a number") << QByteArray("[printing]\ncopies=two\n");
    }
    void oddValues_fallBackToOff()
    {
        QFETCH(QByteArray, file);
        QDir().mkpath(AccountDir(account));
        QFile ini(CSettings::FilePath(account));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(file);
        ini.close();
        CSettings settings(account);
        QCOMPARE(settings.ReminderInterval(), 0);
        QVERIFY(!settings.AutoPrint());
        QCOMPARE(settings.ReceiptPaper(), CSettings::Paper::PrinterPage);
        QCOMPARE(settings.ReceiptCopies(), 1);
        settings.SetReceiptCopies(4); // refused too
        QCOMPARE(settings.ReceiptCopies(), 1);
        settings.SetReminderInterval(45); // not a choice: refused
        QCOMPARE(settings.ReminderInterval(), 0);
        settings.SetReminderInterval(120);
        QCOMPARE(CSettings(account).ReminderInterval(), 120);
    }

    // A printer's name comes back as it was chosen, whatever characters it has.
    void receiptPrinter_readsBackAsChosen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "Kitchen-58mm";
        QTest::newRow("INI's own characters") << "厨房;58,mm=\"前台\"#1 %20";
        QTest::newRow("none: the system's default") << "";
    }
    void receiptPrinter_readsBackAsChosen()
    {
        QFETCH(QString, name);
        CSettings settings(account);
        settings.SetReceiptPrinter(QStringLiteral("before"));
        settings.SetReceiptPrinter(name);
        settings.SetReceiptPaper(CSettings::Paper::Roll58);
        settings.SetReceiptCopies(2);
        CSettings reread(account);
        QCOMPARE(reread.ReceiptPrinter(), name);
        QCOMPARE(reread.ReceiptPaper(), CSettings::Paper::Roll58);
        QCOMPARE(reread.ReceiptCopies(), 2);
    }
};

TARVIK_TEST_MAIN(TestCWSettings)
#include "tst_cwsettings.moc"
