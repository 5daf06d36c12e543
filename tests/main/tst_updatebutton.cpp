#include <QSignalSpy>
#include <QWidget>

#include "common/fakenetwork.h"
#include "common/testmain.h"
#include "main/softwareupdate.h"
#include "main/ui/updatebutton.h"

// The update button of a copy installed from a system package: the offer points at the package
// manager, and a click says so instead of downloading.
class TestUpdateButton : public QObject
{
    Q_OBJECT

private slots:
    void packagedCopy_pointsAtThePackageManager()
    {
        FakeNetworkManager::Recorded().clear();
        FakeNetworkManager network;
        network.SetHandler([](const RecordedRequest&) {
            return FakeResponse::Json(
                "{\"status\":1,\"info\":{\"build\":\"9.0\",\"url\":\"http://h/d/tarvik-setup-9.0.sh\"}}");
        });
        ApiLine line;
        line.network = &network;
        UpdateOptions options;
        options.fromPackage = true;
        CSoftwareUpdate update(line, 13800000001LL, options);
        QWidget band;
        CUpdateButton button(&update, &band);
        QSignalSpy tray(&button, &CUpdateButton::TrayMessage);
        band.show();

        update.HttpUpdate();
        QTRY_COMPARE(button.text(), QStringLiteral("有新版本，请用包管理器更新"));
        QVERIFY(button.isVisible() && button.isEnabled());
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(tray.count(), 1);
        QVERIFY(tray.at(0).at(0).toString().contains(QStringLiteral("软件包管理器")));
        QCOMPARE(tray.at(0).at(1).toString(), QStringLiteral("安装信息"));
        // The check went out, and nothing was downloaded.
        QCOMPARE(FakeNetworkManager::Recorded().size(), 1);
        QCOMPARE(FakeNetworkManager::Recorded().first().operation, QNetworkAccessManager::PostOperation);
    }
};

TARVIK_TEST_MAIN(TestUpdateButton)
#include "tst_updatebutton.moc"
