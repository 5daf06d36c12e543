#include "ui/cweblabel.h"

#include "app/constants.h"
#include "app/desktop.h"

#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPixmap>
#include <QRegularExpression>

namespace {

int transferTimeoutMsecs = 20000;

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
    // Replies still running are destroyed with the manager; none of them may call back into a
    // label that is half gone.
    if (manager) {
        manager->disconnect(this);
        for (QNetworkReply* running : manager->findChildren<QNetworkReply*>())
            running->disconnect(this);
    }
    delete manager;
    delete imageUrl;
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
    if (!manager)
        manager = new QNetworkAccessManager;
    if (!imageUrl)
        return;

    manager->disconnect();
    connect(manager, &QNetworkAccessManager::finished, this, &CWebLabel::replyFinished);

    // ImageHost is "host" or "host:port"; parsing it as an authority handles both (and IPv6).
    const QUrl host(QStringLiteral("http://") + ImageHost());
    imageUrl->setScheme(ImageScheme());
    imageUrl->setHost(host.host(QUrl::FullyDecoded), QUrl::DecodedMode);
    imageUrl->setPort(host.port());

    QNetworkRequest request(*imageUrl);
    request.setTransferTimeout(transferTimeoutMsecs);
    reply = manager->get(request);
    if (reply) {
        connect(reply, &QNetworkReply::readyRead, this, &CWebLabel::slotReadyRead);
        connect(reply, &QNetworkReply::errorOccurred, this, &CWebLabel::slotError);
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
    setText(QStringLiteral("加载图像失败"));
    DropLoadingMovie();
}

void CWebLabel::replyFinished(QNetworkReply* finished)
{
    if (!finished)
        return;
    finished->deleteLater();
    if (finished->error() != QNetworkReply::NoError || finished != reply)
        return;

    QPixmap picture;
    picture.loadFromData(finished->readAll());
    setPixmap(picture);
    DropLoadingMovie();
    emit FinishedDownload();
    if (!localPath.isEmpty())
        picture.save(localPath); // a copy that cannot be written is not worth bothering the user
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
