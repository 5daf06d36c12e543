#pragma once

#include <QLabel>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>

class QMovie;
class QNetworkAccessManager;

// A label showing a picture fetched over HTTP (avatars, item pictures). Pictures always come
// from the image host of the shared settings, whatever host their URL names. While bytes arrive
// the label plays the loading animation; then it shows the picture, or "加载图像失败" when the
// download fails or stalls. A copy of the picture can be kept on disk.
class CWebLabel : public QLabel
{
    Q_OBJECT

public:
    explicit CWebLabel(QWidget* parent = nullptr);
    CWebLabel(const QUrl& url, QWidget* parent, const bool& start);
    ~CWebLabel() override;

    QUrl* Url() const { return imageUrl; }
    QUrl* SetUrl(const QUrl& url);
    // Starts a download of the stored URL; path is where to keep a copy (empty: no copy).
    void StartDownload(const QString& path);
    void SetClickMode(const int& mode) { clickMode = mode; }
    int ClickMode() const { return clickMode; }
    QString LocalPath() const { return localPath; }

    // folder + fileName when fileName is a plain file name, else an empty path (no copy). The
    // name usually comes from a URL the server sent, so it must not lead anywhere else.
    static QString LocalCopyPath(const QString& folder, const QString& fileName);
    static bool IsPlainFileName(const QString& fileName);

    // A picture transfer that makes no progress for this long fails.
    static void SetTransferTimeout(int msecs);
    static int TransferTimeout();

signals:
    void clicked();
    void FinishedDownload();

public slots:
    void slotError(QNetworkReply::NetworkError code);
    void slotReadyRead();
    void replyFinished(QNetworkReply* reply);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Init();
    void DropLoadingMovie();

    QNetworkAccessManager* manager = nullptr;
    QPointer<QNetworkReply> reply;
    QUrl* imageUrl = nullptr;
    int clickMode = -1;
    QString localPath;
    QPointer<QMovie> loadingMovie;
};
