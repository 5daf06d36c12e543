#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QMediaPlayer;

// Notification sounds live in an "audio" folder beside the program and are named by a relative
// path such as "audio/neworder.mp3". GStreamer refuses relative URLs, so the path is looked up in
// the working directory first, then beside the executable, and the player gets an absolute file URL.
namespace Sound {

QUrl Resolve(const QString& relativePath);

// Sets the player's media to the sound and plays it. Null players are ignored.
void Play(QMediaPlayer* player, const QString& relativePath);

// Tells whoever listens (tests, mostly) which sound was asked for.
class Monitor : public QObject
{
    Q_OBJECT
public:
    QString LastSound() const { return lastSound; }
    int Count() const { return count; }

signals:
    void Played(const QString& relativePath, const QUrl& resolved);

private:
    friend void Play(QMediaPlayer*, const QString&);
    QString lastSound;
    int count = 0;
};

Monitor* monitor();

} // namespace Sound
