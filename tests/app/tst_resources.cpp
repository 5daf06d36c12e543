// Every compiled-in picture and the style sheet load from the paths the windows use, and the sound
// files sit in the "audio" folder the client plays them from.

#include "common/testmain.h"

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextCodec>

class TestResources : public QObject
{
    Q_OBJECT

public:
    enum Kind
    {
        Picture,
        Animation,
        Icon,
        StyleSheet,
        Sound
    };
    Q_ENUM(Kind)

private slots:
    void resource_loads_data();
    void resource_loads();

private:
    void CheckStyleSheet(const QString& path);
    void CheckSound(const QString& path);
};

namespace {

const QSize AnySize(1, 1);
const QSize Huge(100000, 100000);

void AddPicture(const char* name, QSize min = AnySize, QSize max = Huge)
{
    const QString path = QStringLiteral(":/img/img/") + QLatin1String(name);
    QTest::newRow(name) << path << TestResources::Picture << min << max;
}

void AddFixed(const char* name, QSize size)
{
    AddPicture(name, size, size);
}

} // namespace

void TestResources::resource_loads_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QSize>("minSize");
    QTest::addColumn<QSize>("maxSize");

    QTest::newRow("velm.ico") << ":/img/img/velm.ico" << Icon << AnySize << Huge;
    QTest::newRow("velm_unconnect.ico") << ":/img/img/velm_unconnect.ico" << Icon << AnySize << Huge;
    QTest::newRow("velm_offline.ico") << ":/img/img/velm_offline.ico" << Icon << AnySize << Huge;
    AddFixed("login_top.png", QSize(430, 180));
    // the band picture of every other window, up to the 1200-pixel income window
    AddPicture("main_top.png", QSize(1200, 180), QSize(100000, 180));
    for (const char* name :
         {"btn_min.png", "btn_max.png", "btn_max2min.png", "btn_close.png", "btn_close_hover.png"})
        AddFixed(name, QSize(30, 30));
    QTest::newRow("cattle.gif") << ":/img/img/cattle.gif" << Animation << AnySize << Huge;
    AddPicture("user.png");
    AddFixed("order.png", QSize(42, 42));
    AddFixed("orderNew.png", QSize(42, 42));
    AddFixed("fold.png", QSize(12, 12));
    AddFixed("unfold.png", QSize(12, 12));
    AddFixed("homelink.png", QSize(20, 20));
    AddFixed("cashlink.png", QSize(20, 20));
    AddFixed("income.png", QSize(22, 22));
    AddFixed("scannedorder.png", QSize(22, 22));
    for (const char* name : {"menu.png", "menu_hover.png", "arrow_top.png", "arrow_bottom.png"})
        AddPicture(name);

    QTest::newRow("velm.qss") << ":/qss/velm.qss" << StyleSheet << QSize() << QSize();

    // relative to the working directory, exactly as the client opens them
    for (const char* name : {"audio/neworder.mp3", "audio/notify.wav", "audio/server.mp3"})
        QTest::newRow(name) << QString::fromLatin1(name) << Sound << QSize() << QSize();
}

void TestResources::resource_loads()
{
    QFETCH(QString, path);
    QFETCH(Kind, kind);
    QFETCH(QSize, minSize);
    QFETCH(QSize, maxSize);

    switch (kind) {
    case Picture: {
        const QPixmap pixmap(path);
        QVERIFY2(!pixmap.isNull(), qPrintable(path));
        QVERIFY2(pixmap.width() >= minSize.width() && pixmap.height() >= minSize.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(pixmap.width()).arg(pixmap.height())));
        QVERIFY2(pixmap.width() <= maxSize.width() && pixmap.height() <= maxSize.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(pixmap.width()).arg(pixmap.height())));
        break;
    }
    case Animation: {
        QMovie movie(path);
        QVERIFY(movie.isValid());
        QVERIFY2(movie.frameCount() > 1, qPrintable(QString::number(movie.frameCount())));
        QCOMPARE(movie.loopCount(), -1); // loops for as long as the label shows it
        // every frame decodes, not just the first
        QImageReader reader(path);
        int decoded = 0;
        for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read())
            ++decoded;
        QCOMPARE(decoded, movie.frameCount());
        break;
    }
    case Icon: {
        const QIcon icon(path);
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY(!sizes.isEmpty());
        for (const QSize& size : sizes)
            QVERIFY(!icon.pixmap(size).isNull());
        // the tray asks for a small one
        QVERIFY(!icon.pixmap(16, 16).isNull());
        break;
    }
    case StyleSheet:
        CheckStyleSheet(path);
        break;
    case Sound:
        CheckSound(path);
        break;
    }
}

void TestResources::CheckStyleSheet(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(!bytes.trimmed().isEmpty());

    QTextCodec::ConverterState state;
    const QString sheet =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    QCOMPARE(state.invalidChars, 0);
    QCOMPARE(state.remainingChars, 0);

    const char* names[] = {"minButton",    "maxButton",    "closeButton",     "pbtnHomeLink",
                           "pbtnCashLink", "pbtnShopCash", "pbtnServerTable", "psbtnSetup",
                           "ppbtnUpdate",  "pleditSearch", "leditUser",       "lblDateTime"};
    for (const char* name : names)
        QVERIFY2(sheet.contains(QLatin1Char('#') + QLatin1String(name)), name);

    // a picture the sheet names but the collection lacks shows up only as a missing button face
    const QRegularExpression url(QStringLiteral("url\\(\\s*([^)\\s]+)\\s*\\)"));
    int urls = 0;
    for (auto it = url.globalMatch(sheet); it.hasNext(); ++urls) {
        const QString target = it.next().captured(1);
        QVERIFY2(target.startsWith(QLatin1String(":/")), qPrintable(target));
        QVERIFY2(QFile::exists(target), qPrintable(target));
    }
    QVERIFY(urls > 0);

    // Qt drops the whole sheet on a syntax error; a red date label and the font rule show it was taken.
    qApp->setStyleSheet(sheet);
    QLabel label;
    label.setObjectName(QStringLiteral("lblDateTime"));
    label.ensurePolished();
    const QColor text = label.palette().color(QPalette::WindowText);
    const QFont font = label.font();
    qApp->setStyleSheet(QString());
    QCOMPARE(text, QColor(Qt::red));
    QCOMPARE(font.pixelSize(), 12);
    QCOMPARE(font.families().value(0), QStringLiteral("微软雅黑"));
}

void TestResources::CheckSound(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path + QStringLiteral(": ") + file.errorString()));
    const QByteArray head = file.read(12);
    QVERIFY(file.size() > 1024);
    QCOMPARE(head.size(), 12);
    if (path.endsWith(QLatin1String(".wav"))) {
        QVERIFY(head.startsWith("RIFF"));
        QCOMPARE(head.mid(8, 4), QByteArray("WAVE"));
    } else {
        // an ID3 tag or straight away an MPEG frame sync
        const bool id3 = head.startsWith("ID3");
        const bool frameSync = quint8(head[0]) == 0xFF && (quint8(head[1]) & 0xE0) == 0xE0;
        QVERIFY2(id3 || frameSync, head.toHex().constData());
    }
}

TARVIK_TEST_MAIN(TestResources)

#include "tst_resources.moc"
