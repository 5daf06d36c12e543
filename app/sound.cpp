#include "app/sound.h"

#include <QAudioDeviceInfo>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTextStream>
#include <QThread>

#include <atomic>

#include "app/log.h"

namespace Sound {

QStringList Folders()
{
    const QDir program(QCoreApplication::applicationDirPath());
    QStringList folders{QDir::currentPath(), program.absolutePath(),
                        QDir::cleanPath(program.absoluteFilePath(QStringLiteral(TARVIK_DATA_DIR_FROM_BIN))),
                        QStringLiteral(TARVIK_DATA_DIR)};
    folders.removeDuplicates();
    return folders;
}

QUrl Resolve(const QString& relativePath, const QStringList& folders)
{
    const QFileInfo given(relativePath);
    if (given.isAbsolute())
        return QUrl::fromLocalFile(given.absoluteFilePath());

    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder), relativePath);
        if (candidate.isFile())
            return QUrl::fromLocalFile(candidate.absoluteFilePath());
    }
    const QString first = folders.isEmpty() ? QDir::currentPath() : folders.first();
    return QUrl::fromLocalFile(QFileInfo(QDir(first), relativePath).absoluteFilePath());
}

QUrl Resolve(const QString& relativePath)
{
    return Resolve(relativePath, Folders());
}

QStringList Names()
{
    return {QStringLiteral("audio/neworder.mp3"), QStringLiteral("audio/notify.wav"),
            QStringLiteral("audio/server.mp3")};
}

bool Report(QTextStream& out)
{
    const QStringList folders = Folders();
    out << "Sounds are looked for in these folders, in this order:\n";
    for (const QString& folder : folders)
        out << "  " << QDir::toNativeSeparators(folder) << '\n';
    bool all = true;
    for (const QString& name : Names()) {
        const QString path = Resolve(name, folders).toLocalFile();
        const bool found = QFileInfo(path).isFile();
        all = all && found;
        out << name << ": " << (found ? QDir::toNativeSeparators(path) : QStringLiteral("missing")) << '\n';
    }
    out.flush();
    return all;
}

Monitor* monitor()
{
    static Monitor instance;
    return &instance;
}

QString ProbeOutput()
{
    // The default device comes from the sound server (PulseAudio, or PipeWire in its place). Without
    // one, GStreamer still plays straight to a sound card, which ALSA names with "CARD=".
    if (!QAudioDeviceInfo::defaultOutputDevice().isNull())
        return QString();
    for (const QAudioDeviceInfo& device : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput))
        if (device.deviceName().contains(QLatin1String("CARD=")))
            return QString();
    return QStringLiteral("no sound server answered and no sound card was found");
}

namespace {

// The longest a service going waits for its players' thread. Closing the players takes a few
// milliseconds; a player still being made in a stuck media back end may take seconds more.
constexpr unsigned long closeWaitMsecs = 1000;

std::function<QString()>& OutputProbe()
{
    static std::function<QString()> probe;
    return probe;
}

std::function<void(const QString&)>& BeforeLoad()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

// Threads of services gone while a player was stuck in the media back end. Each ends by itself
// once the back end returns; it is deleted the next time one is let go. The list itself is never
// destroyed: one still running at exit stays known, not leaked.
void LetGo(QThread* thread)
{
    static auto* going = new QList<QThread*>;
    for (auto it = going->begin(); it != going->end();) {
        if ((*it)->isFinished()) {
            delete *it;
            it = going->erase(it);
        } else {
            ++it;
        }
    }
    going->append(thread);
}

} // namespace

// The players, in their own thread: every call comes queued from the service, every report goes
// back queued.
class Players : public QObject
{
    Q_OBJECT
public:
    Players(std::function<QString()> probe, std::function<void(const QString&)> beforeLoad)
        : probe(std::move(probe)), beforeLoad(std::move(beforeLoad))
    {
    }

    // Set by the going service: calls still queued are dropped.
    std::atomic<bool> closing{false};

    void Probe()
    {
        const QString reason = probe ? probe() : ProbeOutput();
        if (!reason.isEmpty())
            emit Unavailable(reason);
    }

    void Load(const QString& relativePath, const QUrl& url)
    {
        if (!closing)
            PlayerFor(relativePath, url);
    }

    void Play(const QString& relativePath, const QUrl& url, quint64 play)
    {
        if (closing)
            return;
        QMediaPlayer* player = PlayerFor(relativePath, url);
        if (closing)
            return;
        plays[relativePath] = play;
        // A sound still playing starts again from its beginning.
        if (player->state() != QMediaPlayer::StoppedState)
            player->setPosition(0);
        player->play();
    }

signals:
    void Ended(const QString& relativePath, quint64 play);
    void Broke(const QString& relativePath, quint64 play, const QString& reason);
    void Unavailable(const QString& reason);

private:
    QMediaPlayer* PlayerFor(const QString& relativePath, const QUrl& url)
    {
        QMediaPlayer*& player = players[relativePath];
        if (player)
            return player;
        if (beforeLoad)
            beforeLoad(relativePath);
        player = new QMediaPlayer(this);
        player->setMedia(url);
        connect(player, &QMediaPlayer::stateChanged, this, [this, relativePath](QMediaPlayer::State state) {
            if (state == QMediaPlayer::StoppedState)
                emit Ended(relativePath, plays.value(relativePath));
        });
        connect(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this,
                [this, relativePath, player](QMediaPlayer::Error) {
                    emit Broke(relativePath, plays.value(relativePath), player->errorString());
                });
        return player;
    }

    const std::function<QString()> probe;
    const std::function<void(const QString&)> beforeLoad;
    QHash<QString, QMediaPlayer*> players; // children: they go with this object, in its thread
    QHash<QString, quint64> plays;         // the service's number of the play each player last started
};

Service::Service(QObject* parent) : QObject(parent), probe(OutputProbe()), beforeLoad(BeforeLoad()) {}

Service::~Service()
{
    if (!thread)
        return;
    disconnect(players, nullptr, this, nullptr);
    players->closing = true;
    thread->quit();
    if (thread->wait(closeWaitMsecs)) {
        delete thread;
        return;
    }
    qCWarning(lcSound, "a sound player is still being made; its thread is left to end on its own");
    LetGo(thread);
}

void Service::SetOutputProbe(std::function<QString()> probe)
{
    OutputProbe() = std::move(probe);
}

void Service::SetBeforeLoad(std::function<void(const QString&)> hook)
{
    BeforeLoad() = std::move(hook);
}

void Service::Start()
{
    thread = new QThread; // no parent: the service decides when it goes, and whether it waits
    thread->setObjectName(QStringLiteral("sounds"));
    players = new Players(probe, beforeLoad);
    players->moveToThread(thread);
    connect(thread, &QThread::finished, players, &QObject::deleteLater);
    connect(players, &Players::Ended, this, &Service::Ended);
    connect(players, &Players::Broke, this, &Service::Broke);
    connect(players, &Players::Unavailable, this, &Service::NoOutput);
    thread->start();
    // Asked first: the answer does not wait for the players to be made.
    QMetaObject::invokeMethod(players, &Players::Probe, Qt::QueuedConnection);
}

Service::State& Service::StateOf(const QString& relativePath)
{
    if (!thread)
        Start();
    State& state = sounds[relativePath];
    if (state.url.isEmpty())
        state.url = Resolve(relativePath);
    return state;
}

void Service::Preload(const QStringList& relativePaths)
{
    for (const QString& path : relativePaths) {
        State& state = StateOf(path);
        if (state.loading)
            continue;
        state.loading = true;
        QMetaObject::invokeMethod(
            players, [p = players, path, url = state.url] { p->Load(path, url); }, Qt::QueuedConnection);
    }
}

void Service::Play(const QString& relativePath)
{
    State& state = StateOf(relativePath);
    Monitor* m = monitor();
    m->lastSound = relativePath;
    ++m->count;
    emit m->Played(relativePath, state.url);
    state.loading = true;
    state.playing = true;
    const quint64 play = ++state.asked;
    QMetaObject::invokeMethod(
        players, [p = players, relativePath, url = state.url, play] { p->Play(relativePath, url, play); },
        Qt::QueuedConnection);
}

bool Service::IsPlaying(const QString& relativePath) const
{
    return sounds.value(relativePath).playing;
}

void Service::Ended(const QString& relativePath, quint64 play)
{
    State& state = sounds[relativePath];
    // Asked for again since: that play reports its own end.
    if (play < state.asked)
        return;
    state.playing = false;
    emit Stopped(relativePath);
}

void Service::Broke(const QString& relativePath, quint64 play, const QString& reason)
{
    qCWarning(lcSound, "sound %s: %s", qUtf8Printable(relativePath), qUtf8Printable(reason));
    State& state = sounds[relativePath];
    if (play >= state.asked)
        state.playing = false;
    emit Failed(relativePath, reason);
}

void Service::NoOutput(const QString& reason)
{
    qCWarning(lcSound, "sounds are not heard: %s", qUtf8Printable(reason));
    emit Unavailable(reason);
}

} // namespace Sound

#include "sound.moc"
