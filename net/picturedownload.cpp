#include "net/picturedownload.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "net/request.h"

CPictureDownload::CPictureDownload(QObject* parent) : QObject(parent) {}

CPictureDownload::~CPictureDownload()
{
    Abort();
}

QNetworkAccessManager* CPictureDownload::SharedManager()
{
    static QPointer<QNetworkAccessManager> shared;
    if (!shared)
        shared = new QNetworkAccessManager(QCoreApplication::instance());
    return shared;
}

void CPictureDownload::Abort()
{
    if (!reply)
        return;
    QNetworkReply* running = reply;
    reply = nullptr;
    Request::Drop(running, this);
}

void CPictureDownload::Start(const QUrl& url)
{
    Abort();
    arriving = false;
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMsecs);
    QNetworkReply* started = SharedManager()->get(request);
    reply = started;
    connect(started, &QNetworkReply::finished, this, [this, started] {
        if (started == reply)
            Finish();
    });
    connect(started, &QNetworkReply::readyRead, this, [this, started] {
        if (started == reply && !arriving) {
            arriving = true;
            emit Arriving();
        }
    });
    // Refused as soon as the announced length or the bytes received pass the limit, busy event
    // loop or not.
    Request::Bound(started, MaxBytes, DeadlineMsecs);
}

void CPictureDownload::Finish()
{
    QNetworkReply* finished = reply;
    reply = nullptr;
    finished->deleteLater();
    if (finished->error() != QNetworkReply::NoError) {
        emit Failed(Request::Stopped(finished) == Request::Stop::TooLarge);
        return;
    }
    QByteArray bytes = finished->read(MaxBytes + 1);
    if (bytes.size() > MaxBytes) {
        emit Failed(true);
        return;
    }
    emit Downloaded(bytes);
}
