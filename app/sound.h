#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QTextStream;
class QThread;

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

class Players;

// Whether this computer has an audio output: empty when it has one, else why not. The service asks
// once, in its own thread, before it loads a sound.
QString ProbeOutput();

// The session's sounds, one player per sound: a sound's file is found and loaded the first time it
// is asked for (or by Preload), and asking for it again only starts it from the beginning.
//
// The players live in a thread of their own. Making a media player can hold its thread for seconds
// (on an X display GStreamer tries every video sink, and one of them waits for a DRM device that a
// machine without one never gets; a sound server slow to answer may hold it too), so the
// window's thread only queues the calls: Play returns at once and Sound::monitor() hears of it
// right away. IsPlaying answers from what the players last reported, and counts a sound asked for
// as playing until its player says otherwise.
class Service : public QObject
{
    Q_OBJECT
public:
    explicit Service(QObject* parent = nullptr);
    // Never waits long for a player stuck in the media back end: the thread is then left to end on
    // its own.
    ~Service() override;

    void Preload(const QStringList& relativePaths);
    void Play(const QString& relativePath);
    bool IsPlaying(const QString& relativePath) const;

    // Seams for tests, read when a service is made. `probe` stands for ProbeOutput(); `beforeLoad`
    // runs in the players' thread before each player is made, where the media back end may block.
    // Null restores the real behaviour.
    static void SetOutputProbe(std::function<QString()> probe);
    static void SetBeforeLoad(std::function<void(const QString& relativePath)> beforeLoad);

signals:
    // The sound has played to its end, or was stopped.
    void Stopped(const QString& relativePath);
    // The sound could not be played (a missing or unreadable file).
    void Failed(const QString& relativePath, const QString& reason);
    // This computer has no audio output: the sounds play on, unheard. Said once, and logged.
    void Unavailable(const QString& reason);

private:
    struct State
    {
        QUrl url;          // resolved once
        bool loading = false;
        quint64 asked = 0; // Play calls so far: a report about an earlier one is stale
        bool playing = false;
    };

    State& StateOf(const QString& relativePath);
    void Start();
    void Ended(const QString& relativePath, quint64 play);
    void Broke(const QString& relativePath, quint64 play, const QString& reason);
    void NoOutput(const QString& reason);

    std::function<QString()> probe;
    std::function<void(const QString&)> beforeLoad;
    QThread* thread = nullptr; // made with the first sound asked for
    Players* players = nullptr;
    QHash<QString, State> sounds;
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
