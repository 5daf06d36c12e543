#include "ui/cweblabel.h"

#include "app/atomicfile.h"
#include "app/constants.h"
#include "app/ui/desktop.h"
#include "net/request.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPixmap>
#include <QRegularExpression>

namespace {

int transferTimeoutMsecs = 20000;
// The whole of a picture, however slowly it arrives: 8 MiB at a poor 1 Mbit/s.
constexpr int pictureDeadlineMsecs = 90000;

const QString failureText = QStringLiteral("加载图像失败");
const QString tooLargeText = QStringLiteral("图像过大");

const QRegularExpression& pathSeparators()
{
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    return separators;
}

// A path is used for the copy only if it does not climb out of its folder and ends in a file name.
bool isSafeCopyPath(const QString& path)
{
    const QStringList parts = path.split(pathSeparators());
    if (!CWebLabel::IsPlainFileName(parts.last()))
        return false;
    return !parts.contains(QStringLiteral(".."));
}

// The copy is written whole or not at all, through a file of its own even where a link lay, and only
// into a folder that is there: the label makes none. A copy that cannot be written goes to the log;
// it is not worth bothering the user.
void SaveLocalCopy(const QPixmap& picture, const QString& path)
{
    const QFileInfo info(path);
    if (!info.dir().exists())
        return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // The format follows the name, as the copy's readers expect; a name without a known one gets none.
    const QByteArray format = info.suffix().toLatin1();
    if (!format.isEmpty() && picture.save(&buffer, format.constData()))
        AtomicFile::Write(path, bytes);
}

} // namespace

CWebLabel::CWebLabel(QWidget* parent) : QLabel(parent)
{
    Init();
}

CWebLabel::CWebLabel(const QUrl& url, QWidget* parent, const bool& start) : QLabel(parent)
{
    Init();
    SetUrl(url);
    if (start)
        StartDownload(QString());
}

CWebLabel::~CWebLabel()
{
    DropReply();
    delete imageUrl;
}

QNetworkAccessManager* CWebLabel::SharedManager()
{
    // Owned by the application, so it goes when the application does.
    static QPointer<QNetworkAccessManager> shared;
    if (!shared)
        shared = new QNetworkAccessManager(QCoreApplication::instance());
    return shared;
}

// The manager outlives the label: a running reply must neither call back into it nor run on for
// nobody.
void CWebLabel::DropReply()
{
    if (!reply)
        return;
    QNetworkReply* running = reply;
    reply = nullptr;
    running->disconnect(this);
    running->abort();
    running->deleteLater();
}

void CWebLabel::Init()
{
    setScaledContents(true);
    setWordWrap(true);
    setAttribute(Qt::WA_MouseTracking);
    setStyleSheet(QStringLiteral("QLabel{ background: transparent; margin-top: 0; color: #777; } "
                                 "QToolTip{background: #fff; color: #333;border: 1px solid #eee;font-size: "
                                 "13px; }"));
}

QUrl* CWebLabel::SetUrl(const QUrl& url)
{
    if (!imageUrl)
        imageUrl = new QUrl(url);
    return imageUrl;
}

bool CWebLabel::IsPlainFileName(const QString& fileName)
{
    return !fileName.isEmpty() && fileName != QLatin1String(".") && fileName != QLatin1String("..") &&
           !fileName.contains(pathSeparators()) && !fileName.contains(QChar::Null);
}

QString CWebLabel::LocalCopyPath(const QString& folder, const QString& fileName)
{
    return IsPlainFileName(fileName) ? JoinPath(folder, fileName) : QString();
}

void CWebLabel::SetTransferTimeout(int msecs)
{
    transferTimeoutMsecs = msecs;
}

int CWebLabel::TransferTimeout()
{
    return transferTimeoutMsecs;
}

void CWebLabel::StartDownload(const QString& path)
{
    localPath = path.isEmpty() || isSafeCopyPath(path) ? path : QString();
    if (!imageUrl)
        return;
    // Only the latest download speaks for the label; an earlier one still running is stopped.
    DropReply();
    tooLarge = false;

    // ImageHost is "host" or "host:port"; parsing it as an authority handles both (and IPv6).
    const QUrl host(QStringLiteral("http://") + ImageHost());
    imageUrl->setScheme(ImageScheme());
    imageUrl->setHost(host.host(QUrl::FullyDecoded), QUrl::DecodedMode);
    imageUrl->setPort(host.port());

    QNetworkRequest request(*imageUrl);
    request.setTransferTimeout(transferTimeoutMsecs);
    reply = SharedManager()->get(request);
    if (reply) {
        QNetworkReply* started = reply;
        connect(started, &QNetworkReply::finished, this, [this, started] { replyFinished(started); });
        connect(started, &QNetworkReply::readyRead, this, &CWebLabel::slotReadyRead);
        connect(started, &QNetworkReply::errorOccurred, this, &CWebLabel::slotError);
        // Refused as soon as the announced length or the bytes received pass the limit, busy
        // event loop or not.
        Request::Bound(started, MaxPictureBytes, pictureDeadlineMsecs);
    }
    setToolTip(imageUrl->toString());
}

void CWebLabel::slotReadyRead()
{
    if (movie())
        return;
    loadingMovie = new QMovie(QStringLiteral(":/img/img/cattle.gif"), QByteArray(), this);
    setMovie(loadingMovie);
    loadingMovie->start();
}

void CWebLabel::slotError(QNetworkReply::NetworkError code)
{
    Q_UNUSED(code)
    // Earlier downloads are not cancelled; only the latest one speaks for the label. The reply
    // itself is released in replyFinished, which always follows.
    if (!reply || sender() != reply)
        return;
    tooLarge = Request::Stopped(reply) == Request::Stop::TooLarge;
    ShowFailure();
}

void CWebLabel::ShowFailure()
{
    setText(tooLarge ? tooLargeText : failureText);
    DropLoadingMovie();
}

void CWebLabel::replyFinished(QNetworkReply* finished)
{
    if (!finished)
        return;
    finished->deleteLater();
    if (finished != reply)
        return;
    reply = nullptr;
    if (finished->error() != QNetworkReply::NoError) {
        tooLarge = Request::Stopped(finished) == Request::Stop::TooLarge;
        ShowFailure(); // slotError may not have had its turn (an abort reports the error later)
        return;
    }

    const QImage image = ReadPicture(finished, &tooLarge);
    if (image.isNull()) {
        ShowFailure(); // and no copy on disk
        return;
    }
    const QPixmap picture = QPixmap::fromImage(image);
    setPixmap(picture);
    DropLoadingMovie();
    emit FinishedDownload();
    if (!localPath.isEmpty())
        SaveLocalCopy(picture, localPath);
}

QImage CWebLabel::ReadPicture(QIODevice* source, bool* tooLarge)
{
    // The size is read from the picture's head before anything is decoded: a few hundred
    // kilobytes of PNG can unpack into gigabytes.
    QBuffer bytes;
    bytes.setData(source->read(MaxPictureBytes + 1));
    bool refused = bytes.size() > MaxPictureBytes;
    QImage image;
    if (!refused) {
        bytes.open(QIODevice::ReadOnly);
        QImageReader reader(&bytes);
        const QSize size = reader.size();
        refused = size.width() > MaxPictureSide || size.height() > MaxPictureSide;
        if (!refused)
            image = reader.read();
        refused = refused || image.width() > MaxPictureSide || image.height() > MaxPictureSide;
    }
    if (tooLarge)
        *tooLarge = refused;
    return refused ? QImage() : image;
}

QPixmap CWebLabel::LoadPicture(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QPixmap();
    return QPixmap::fromImage(ReadPicture(&file));
}

void CWebLabel::DropLoadingMovie()
{
    if (loadingMovie)
        loadingMovie->deleteLater();
}

void CWebLabel::enterEvent(QEvent* event)
{
    if (imageUrl)
        setCursor(Qt::PointingHandCursor);
    QLabel::enterEvent(event);
}

void CWebLabel::leaveEvent(QEvent* event)
{
    if (imageUrl)
        setCursor(Qt::ArrowCursor);
    QLabel::leaveEvent(event);
}

void CWebLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (clickMode == -1 && imageUrl)
        Desktop::OpenUrl(*imageUrl);
    else if (clickMode == 0 && event->button() == Qt::LeftButton)
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
