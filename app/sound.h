#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class QMediaPlayer;
class QTextStream;

// Notification sounds are named by a relative path such as "audio/neworder.mp3". GStreamer refuses
// relative URLs, so the path is looked up in Folders() and the player gets an absolute file URL.
namespace Sound {

// Where sounds are looked for, first match wins: the working directory; the program's own folder
// (a build tree copies "audio" there); the data folder of an installed client, <prefix>/share/tarvik,
// found from the program's folder <prefix>/bin so that an unpacked or relocated install works too;
// and the data folder the build was configured for (/usr/share/tarvik in the Debian package).
QStringList Folders();

QUrl Resolve(const QString& relativePath);
// The same in the given folders; a file found nowhere resolves in the first folder, so that the
// player's error names a full path.
QUrl Resolve(const QString& relativePath, const QStringList& folders);

// The sounds the client plays, as it names them.
QStringList Names();

// Writes the folders and where each of Names() was found ("tarvik --sounds"); true when every
// sound was found.
bool Report(QTextStream& out);

// The session's sounds, one player per sound: a sound's file is found and loaded the first time it
// is asked for (or by Preload), and asking for it again only starts it from the beginning.
class Service : public QObject
{
    Q_OBJECT
public:
    explicit Service(QObject* parent = nullptr);
    ~Service() override;

    void Preload(const QStringList& relativePaths);
    void Play(const QString& relativePath);
    bool IsPlaying(const QString& relativePath) const;

signals:
    // The sound has played to its end, or was stopped.
    void Stopped(const QString& relativePath);
    // The sound could not be played (a missing or unreadable file, no audio output).
    void Failed(const QString& relativePath, const QString& reason);

private:
    QMediaPlayer* PlayerFor(const QString& relativePath);

    QHash<QString, QMediaPlayer*> players;
};

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
    friend class Service;
    QString lastSound;
    int count = 0;
};

Monitor* monitor();

} // namespace Sound
