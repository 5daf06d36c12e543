#pragma once

#include <QImage>
#include <QLabel>
#include <QNetworkReply>
#include <QPixmap>
#include <QPointer>
#include <QUrl>

class QIODevice;
class QMovie;
class QNetworkAccessManager;

// A label showing a picture fetched over HTTP (avatars, item pictures). Pictures always come
// from the image host of the shared settings, whatever host their URL names. While bytes arrive
// the label plays the loading animation; then it shows the picture, or "加载图像失败" when the
// download fails or stalls, or "图像过大" for a picture beyond the limits below, which is never
// decoded. A copy of the picture can be kept on disk. Every label fetches through one shared
// network manager: a window with thousands of pictures must not start thousands of threads.
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

    // No avatar or item picture comes near these; anything larger is refused.
    static constexpr qint64 MaxPictureBytes = 8 * 1024 * 1024;
    static constexpr int MaxPictureSide = 4096; // pixels, either side

    // Every picture the client shows from outside its resources is read through here, within the
    // limits above: a null image for one beyond them (with tooLarge set) or one that does not decode.
    static QImage ReadPicture(QIODevice* source, bool* tooLarge = nullptr);
    static QPixmap LoadPicture(const QString& path); // a kept copy, such as an avatar in faces/

    static QNetworkAccessManager* SharedManager();

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
    void DropReply();
    void ShowFailure();

    QPointer<QNetworkReply> reply;
    bool tooLarge = false; // the current picture was refused for its size
    QUrl* imageUrl = nullptr;
    int clickMode = -1;
    QString localPath;
    QPointer<QMovie> loadingMovie;
};
