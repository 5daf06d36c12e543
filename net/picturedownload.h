#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// One picture fetched from the image host: a GET bounded in size and in time, whose bytes come
// whole or not at all. Like a job, it owns its reply: starting again drops the running download,
// and one dropped or deleted reports nothing. Pictures share one manager of their own, apart from
// the session's API requests.
class CPictureDownload : public QObject
{
    Q_OBJECT
public:
    // No avatar or item picture comes near this; anything larger is refused.
    static constexpr qint64 MaxBytes = 8 * 1024 * 1024;
    // The whole of a picture, however slowly it arrives: 8 MiB at a poor 1 Mbit/s.
    static constexpr int DeadlineMsecs = 90000;

    explicit CPictureDownload(QObject* parent = nullptr);
    ~CPictureDownload() override;

    // A transfer that makes no progress for this long fails (20 s unless set).
    void SetTransferTimeout(int msecs) { transferTimeoutMsecs = msecs; }
    int TransferTimeout() const { return transferTimeoutMsecs; }

    void Start(const QUrl& url);
    void Abort();
    bool Running() const { return !reply.isNull(); }

    // The manager every picture goes through; owned by the application.
    static QNetworkAccessManager* SharedManager();

signals:
    void Arriving(); // the first bytes came
    void Downloaded(const QByteArray& bytes);
    void Failed(bool tooLarge);

private:
    void Finish();

    QPointer<QNetworkReply> reply;
    int transferTimeoutMsecs = 20000;
    bool arriving = false;
};
