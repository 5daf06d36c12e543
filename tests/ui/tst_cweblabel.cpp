#include "common/testmain.h"

#include "app/constants.h"
#include "ui/cweblabel.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QDirIterator>
#include <QImage>
#include <QMovie>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QString failureText = QStringLiteral("加载图像失败");

QByteArray pngPicture()
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(255, 85, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A picture host on a free local port: serves one PNG for every path, or misbehaves on demand.
class PictureServer
{
public:
    enum Mode
    {
        Serve,
        Stall,
        Drop,
        NotFound
    };

    PictureServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                Accept(socket);
        });
    }

    bool Listen() { return server.listen(QHostAddress::LocalHost); }
    QString HostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    Mode mode = Serve;
    QList<QByteArray> paths;
    QList<QByteArray> hosts;
    QByteArray picture = pngPicture();

private:
    void Accept(QTcpSocket* socket)
    {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto received = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            received->append(socket->readAll());
            if (!received->contains("\r\n\r\n"))
                return;
            const QList<QByteArray> lines = received->left(received->indexOf("\r\n\r\n")).split('\n');
            paths << lines.first().split(' ').value(1);
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("host:"))
                    hosts << line.mid(5).trimmed();
            }
            received->clear();
            Respond(socket);
        });
    }

    void Respond(QTcpSocket* socket)
    {
        const QByteArray header = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                  QByteArray::number(picture.size()) + "\r\nConnection: close\r\n\r\n";
        switch (mode) {
        case Serve:
            socket->write(header + picture);
            socket->disconnectFromHost();
            break;
        case Stall: // a few bytes, then silence with the connection held open
            socket->write(header + picture.left(16));
            break;
        case Drop:
            socket->abort();
            break;
        case NotFound:
            socket->write(
                "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
            socket->disconnectFromHost();
            break;
        }
    }

    QTcpServer server;
};

} // namespace

class TestCWebLabel : public QObject
{
    Q_OBJECT

public slots:
    void captureUrl(const QUrl& url) { opened << url; }

private slots:
    void init();
    void cleanup();
    void download_goesToImageHost_data();
    void download_goesToImageHost();
    void imageHostWithoutPort_dropsUrlPort();
    void stalledHost_animatesThenFails();
    void failedDownload_showsFailureText_data();
    void failedDownload_showsFailureText();
    void localCopy_savedUnderGivenName();
    void localCopy_refusesUnsafeNames_data();
    void localCopy_refusesUnsafeNames();
    void click_data();
    void click();
    void oversizedPicture_isRefusedAndNotCopied_data();
    void oversizedPicture_isRefusedAndNotCopied();
    void manyLabels_shareOneNetworkThread();

private:
    std::unique_ptr<PictureServer> server;
    QList<QUrl> opened;
};

void TestCWebLabel::init()
{
    server = std::make_unique<PictureServer>();
    QVERIFY(server->Listen());
    qputenv("TARVIK_IMAGE_HOST", server->HostAndPort().toLatin1());
    CWebLabel::SetTransferTimeout(20000);
    opened.clear();
}

void TestCWebLabel::cleanup()
{
    server.reset();
    qunsetenv("TARVIK_IMAGE_HOST");
}

void TestCWebLabel::download_goesToImageHost_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");

    QTest::newRow("other host and port") << "http://img.example.invalid:9/faces/a.png"
                                         << "/faces/a.png";
    QTest::newRow("other host, no port") << "http://pictures.example.invalid/goods/b.png?v=2"
                                         << "/goods/b.png?v=2";
    QTest::newRow("image host's name, another port") << "http://127.0.0.1:1/c.png"
                                                     << "/c.png";
}

void TestCWebLabel::download_goesToImageHost()
{
    QFETCH(QString, url);
    QFETCH(QString, path);

    CWebLabel label(QUrl(url), nullptr, true);
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);
    QTRY_COMPARE(finished.count(), 1);

    QCOMPARE(server->paths, QList<QByteArray>{path.toLatin1()});
    QCOMPARE(server->hosts, QList<QByteArray>{server->HostAndPort().toLatin1()});
    const QString rewritten = QStringLiteral("http://") + server->HostAndPort() + path;
    QCOMPARE(label.toolTip(), rewritten);
    QCOMPARE(label.Url()->toString(), rewritten);
    QCOMPARE(label.pixmap(Qt::ReturnByValue).size(), QSize(24, 16));
    QVERIFY(!label.movie());

    // A second URL does not replace the first.
    QUrl* stored = label.SetUrl(QUrl(QStringLiteral("http://elsewhere.invalid/x.png")));
    QCOMPARE(stored, label.Url());
    QCOMPARE(stored->toString(), rewritten);
}

void TestCWebLabel::imageHostWithoutPort_dropsUrlPort()
{
    qputenv("TARVIK_IMAGE_HOST", "127.0.0.1");
    CWebLabel label;
    label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid:8080/faces/a.png")));
    label.StartDownload(QString());
    QCOMPARE(label.toolTip(), QStringLiteral("http://127.0.0.1/faces/a.png"));
    QCOMPARE(label.Url()->port(), -1);
}

void TestCWebLabel::stalledHost_animatesThenFails()
{
    server->mode = PictureServer::Stall;
    CWebLabel::SetTransferTimeout(600);
    CWebLabel label(QUrl(QStringLiteral("http://img.example.invalid/faces/a.png")), nullptr, true);
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);

    QTRY_VERIFY(label.movie());
    QCOMPARE(label.movie()->fileName(), QStringLiteral(":/img/img/cattle.gif"));
    QTRY_COMPARE_WITH_TIMEOUT(label.text(), failureText, 3000);
    QVERIFY(!label.movie());
    QCOMPARE(finished.count(), 0);
}

void TestCWebLabel::failedDownload_showsFailureText_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("connection dropped") << int(PictureServer::Drop);
    QTest::newRow("not found") << int(PictureServer::NotFound);
}

void TestCWebLabel::failedDownload_showsFailureText()
{
    QFETCH(int, mode);
    server->mode = PictureServer::Mode(mode);
    CWebLabel label;
    label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid/faces/a.png")));
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);
    label.StartDownload(QString());
    QTRY_COMPARE(label.text(), failureText);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(label.text(), failureText);
}

void TestCWebLabel::localCopy_savedUnderGivenName()
{
    QTemporaryDir dir;
    const QString copy = CWebLabel::LocalCopyPath(dir.path(), QStringLiteral("13800000000.png"));
    QCOMPARE(copy, JoinPath(dir.path(), QStringLiteral("13800000000.png")));

    CWebLabel label;
    label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid/faces/13800000000.png")));
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);
    label.StartDownload(copy);
    QTRY_COMPARE(finished.count(), 1);
    QImage saved(copy);
    QCOMPARE(saved.size(), QSize(24, 16));
    QCOMPARE(saved.pixelColor(3, 3), QColor(255, 85, 0));

    // A link planted where the copy goes becomes a copy of its own; what it pointed at stays as it was.
    QTemporaryDir outside;
    const QString target = JoinPath(outside.path(), QStringLiteral("precious.png"));
    QFile precious(target);
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("not yours") == 9);
    precious.close();
    QVERIFY(QFile::remove(copy) && QFile::link(target, copy));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("symbolic link to .*precious.png")));
    label.StartDownload(copy);
    QTRY_COMPARE(finished.count(), 2);
    QVERIFY(!QFileInfo(copy).isSymLink());
    QCOMPARE(QImage(copy).size(), QSize(24, 16));
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("not yours"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("13800000000.png")});
}

void TestCWebLabel::localCopy_refusesUnsafeNames_data()
{
    QTest::addColumn<QString>("name");
    // Whether the label itself, given folder + "/" + name, must drop the copy: a path that climbs
    // or does not end in a file name. The others stay inside the folder anyway.
    QTest::addColumn<bool>("labelRefuses");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("dot") << "." << true;
    QTest::newRow("dot dot") << ".." << true;
    QTest::newRow("climbs with slash") << "../escaped.png" << true;
    QTest::newRow("climbs with backslash") << "..\\escaped.png" << true;
    QTest::newRow("sub folder") << "sub/face.png" << false;
    QTest::newRow("backslash") << "sub\\face.png" << false;
    QTest::newRow("absolute") << "/escaped.png" << false;
}

void TestCWebLabel::localCopy_refusesUnsafeNames()
{
    QFETCH(QString, name);
    QFETCH(bool, labelRefuses);
    QTemporaryDir root;
    const QString folder = JoinPath(root.path(), QStringLiteral("faces"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(CWebLabel::LocalCopyPath(folder, name).isEmpty());

    // A caller that joins the name itself still gets no copy outside the folder.
    CWebLabel label;
    label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid/faces/a.png")));
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);
    label.StartDownload(folder + QLatin1Char('/') + name);
    QCOMPARE(label.LocalPath().isEmpty(), labelRefuses);
    QTRY_COMPARE(finished.count(), 1);

    QStringList outside;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (QFileInfo(file).absolutePath() != QFileInfo(folder).absoluteFilePath())
            outside << file;
    }
    QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QLatin1Char(' '))));
    QVERIFY(QFileInfo(root.path()).dir().entryList({QStringLiteral("escaped.png")}).isEmpty());
}

void TestCWebLabel::click_data()
{
    QTest::addColumn<bool>("withUrl");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("emitsClicked");

    QTest::newRow("default, left") << true << -1 << int(Qt::LeftButton) << true << false;
    QTest::newRow("default, right") << true << -1 << int(Qt::RightButton) << true << false;
    QTest::newRow("default, no url") << false << -1 << int(Qt::LeftButton) << false << false;
    QTest::newRow("signal, left") << true << 0 << int(Qt::LeftButton) << false << true;
    QTest::newRow("signal, right") << true << 0 << int(Qt::RightButton) << false << false;
    QTest::newRow("inert") << true << 1 << int(Qt::LeftButton) << false << false;
}

void TestCWebLabel::click()
{
    QFETCH(bool, withUrl);
    QFETCH(int, mode);
    QFETCH(int, button);
    QFETCH(bool, opens);
    QFETCH(bool, emitsClicked);

    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "captureUrl");
    CWebLabel label;
    if (withUrl) {
        label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid/faces/a.png")));
        label.StartDownload(QString());
    }
    label.SetClickMode(mode);
    label.resize(64, 64);
    label.show();
    QSignalSpy clicked(&label, &CWebLabel::clicked);

    QTest::mouseClick(&label, Qt::MouseButton(button), Qt::NoModifier, QPoint(10, 10));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(clicked.count(), emitsClicked ? 1 : 0);
    if (opens)
        QCOMPARE(opened,
                 QList<QUrl>{QUrl(QStringLiteral("http://") + server->HostAndPort() + "/faces/a.png")});
    else
        QVERIFY(opened.isEmpty());
}

void TestCWebLabel::oversizedPicture_isRefusedAndNotCopied_data()
{
    QTest::addColumn<QByteArray>("picture");

    // 16000 x 16000 pixels in a PNG of a few tens of kilobytes: decoded, a gigabyte.
    QImage bomb(16000, 16000, QImage::Format_Mono);
    bomb.fill(0);
    QByteArray bombBytes;
    QBuffer buffer(&bombBytes);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(bomb.save(&buffer, "PNG"));
    QVERIFY(bombBytes.size() < 1024 * 1024);
    QTest::newRow("16000 px a side") << bombBytes;
    QTest::newRow("4097 px wide") << [] {
        QImage wide(CWebLabel::MaxPictureSide + 1, 2, QImage::Format_RGB32);
        wide.fill(Qt::white);
        QByteArray bytes;
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        wide.save(&out, "PNG");
        return bytes;
    }();
    // A small picture followed by more bytes than any picture needs: stopped while it arrives.
    QTest::newRow("9 MiB") << pngPicture() + QByteArray(9 * 1024 * 1024, '\0');
}

void TestCWebLabel::oversizedPicture_isRefusedAndNotCopied()
{
    QFETCH(QByteArray, picture);
    server->picture = picture;
    QTemporaryDir faces;
    const QString copy = CWebLabel::LocalCopyPath(faces.path(), QStringLiteral("13800000000.png"));
    CWebLabel label;
    label.SetUrl(QUrl(QStringLiteral("http://img.example.invalid/faces/13800000000.png")));
    QSignalSpy finished(&label, &CWebLabel::FinishedDownload);
    label.StartDownload(copy);
    QTRY_COMPARE(label.text(), QStringLiteral("图像过大"));
    QVERIFY(!label.movie());
    QVERIFY(label.pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(finished.count(), 0);
    QVERIFY(!QFile::exists(copy));

    // The same label shows a sound picture afterwards.
    server->picture = pngPicture();
    label.StartDownload(copy);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(label.pixmap(Qt::ReturnByValue).size(), QSize(24, 16));
    QVERIFY(QFile::exists(copy));
}

void TestCWebLabel::manyLabels_shareOneNetworkThread()
{
    // Each network manager runs its HTTP in a thread of its own; the threads are counted here.
    auto threads = [] {
        return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    };
    server->mode = PictureServer::Stall;
    CWebLabel first(QUrl(QStringLiteral("http://img.example.invalid/0.png")), nullptr, true);
    QTRY_VERIFY(first.movie());
    const int before = threads();
    QVERIFY(before > 0);
    std::vector<std::unique_ptr<CWebLabel>> labels;
    for (int i = 1; i <= 60; ++i)
        labels.push_back(std::make_unique<CWebLabel>(
            QUrl(QStringLiteral("http://img.example.invalid/%1.png").arg(i)), nullptr, true));
    // One manager asks at most six at a time of one host; the others wait their turn.
    QTRY_VERIFY(server->paths.size() >= 6);
    QTest::qWait(200); // time enough for sixty threads to start, were they started
    QVERIFY2(threads() - before < 5, qPrintable(QStringLiteral("%1 threads more").arg(threads() - before)));
    labels.clear(); // labels going while their pictures are on the way stop them
}

TARVIK_TEST_MAIN(TestCWebLabel)
#include "tst_cweblabel.moc"
