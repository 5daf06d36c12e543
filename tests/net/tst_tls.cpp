// The client against the local platform serving HTTPS with a certificate made here: untrusted, every
// request and picture fails; once its authority is trusted (TARVIK_CA_FILE), a login goes through.

#include "app/constants.h"
#include "common/platformprocess.h"
#include "common/testmain.h"
#include "net/request.h"
#include "ui/cweblabel.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QSslSocket>

#include <memory>

class TlsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void untrustedCertificateFailsEveryRequest();
    void trustedAuthorityCarriesLoginAndPicture();

private:
    Request::Answer login();
    // The picture label's text once it is done: empty when it shows a picture.
    QString fetchFace();

    QTemporaryDir dir;
    std::unique_ptr<PlatformProcess> platform;
};

void TlsTest::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    QVERIFY(dir.isValid());
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                   dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                   dir.filePath(QStringLiteral("cert.pem"))});
    const bool made = openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    QVERIFY2(made, qPrintable(QStringLiteral("openssl could not make a certificate: ") +
                              QString::fromLocal8Bit(openssl.readAll())));

    platform = std::make_unique<PlatformProcess>(QStringList{
        QStringLiteral("--seed"), QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("cert.pem")),
        QStringLiteral("--tls-key"), dir.filePath(QStringLiteral("key.pem"))});
    QVERIFY2(platform->isRunning(), qPrintable(platform->errorString()));
    QVERIFY(platform->baseUrl().startsWith(QLatin1String("https://")));
    platform->serveClient();
    QVERIFY(Api::LoginMd5().startsWith(QStringLiteral("https://") + platform->hostPort()));
}

Request::Answer TlsTest::login()
{
    QNetworkAccessManager manager;
    const QByteArray body = Request::EncodeBody(
        {{QStringLiteral("account"), QString::number(PlatformProcess::DemoAccount)},
         {QStringLiteral("pass"),
          QString::fromLatin1(
              QCryptographicHash::hash(PlatformProcess::DemoPassword, QCryptographicHash::Md5).toHex())}});
    QNetworkReply* reply = Request::Post(&manager, Api::LoginMd5(), body);
    if (!reply->isFinished()) {
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(15000);
    }
    const Request::Answer answer = Request::Read(reply);
    delete reply;
    return answer;
}

QString TlsTest::fetchFace()
{
    // The URL names plain http and another host, as a reply may: the label goes to the image host
    // with the configured scheme.
    CWebLabel label(QUrl(QStringLiteral("http://img.example/img/face/1.png")), nullptr, true);
    if (!QTest::qWaitFor([&] { return !label.pixmap(Qt::ReturnByValue).isNull() || !label.text().isEmpty(); },
                         15000))
        return QStringLiteral("(no answer)");
    return label.pixmap(Qt::ReturnByValue).isNull() ? label.text() : QString();
}

void TlsTest::untrustedCertificateFailsEveryRequest()
{
    const Request::Answer answer = login();
    QVERIFY(answer.networkError);
    QCOMPARE(answer.errorCode, int(QNetworkReply::SslHandshakeFailedError));
    QCOMPARE(fetchFace(), QStringLiteral("加载图像失败"));
}

void TlsTest::trustedAuthorityCarriesLoginAndPicture()
{
    qputenv("TARVIK_CA_FILE", QFile::encodeName(dir.filePath(QStringLiteral("missing.pem"))));
    QString error;
    QVERIFY(!Request::TrustCaFile(&error));
    QVERIFY(error.contains(QLatin1String("missing.pem")));

    qputenv("TARVIK_CA_FILE", QFile::encodeName(dir.filePath(QStringLiteral("cert.pem"))));
    QVERIFY2(Request::TrustCaFile(&error), qPrintable(error));
    // The client trusts its authority before its first request; this process has already failed a
    // handshake with the shared picture manager, which keeps what it learnt about the host.
    CWebLabel::SharedManager()->clearConnectionCache();
    const Request::Answer answer = login();
    QVERIFY2(answer.Succeeded(), qPrintable(answer.errorString + answer.text));
    QVERIFY(answer.InfoMap().value(QStringLiteral("face")).toString().startsWith(QLatin1String("https://")));
    QCOMPARE(fetchFace(), QString());
}

TARVIK_TEST_MAIN(TlsTest)
#include "tst_tls.moc"
