#include "app/sound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTextStream>

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

Service::Service(QObject* parent) : QObject(parent) {}

Service::~Service()
{
    // A player's end must not be reported by a service that is going.
    for (QMediaPlayer* player : qAsConst(players))
        player->disconnect(this);
    qDeleteAll(players);
}

void Service::Preload(const QStringList& relativePaths)
{
    for (const QString& path : relativePaths)
        PlayerFor(path);
}

QMediaPlayer* Service::PlayerFor(const QString& relativePath)
{
    QMediaPlayer*& player = players[relativePath];
    if (!player) {
        player = new QMediaPlayer;
        player->setMedia(Resolve(relativePath));
        connect(player, &QMediaPlayer::stateChanged, this, [this, relativePath](QMediaPlayer::State state) {
            if (state == QMediaPlayer::StoppedState)
                emit Stopped(relativePath);
        });
        connect(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this,
                [this, relativePath, player](QMediaPlayer::Error) {
                    qCWarning(lcFiles, "sound %s: %s", qUtf8Printable(relativePath),
                              qUtf8Printable(player->errorString()));
                    emit Failed(relativePath, player->errorString());
                });
    }
    return player;
}

void Service::Play(const QString& relativePath)
{
    QMediaPlayer* player = PlayerFor(relativePath);
    Monitor* m = monitor();
    m->lastSound = relativePath;
    ++m->count;
    emit m->Played(relativePath, player->media().request().url());
    // A sound still playing starts again from its beginning.
    if (player->state() != QMediaPlayer::StoppedState)
        player->setPosition(0);
    player->play();
}

bool Service::IsPlaying(const QString& relativePath) const
{
    const QMediaPlayer* player = players.value(relativePath);
    return player && player->state() == QMediaPlayer::PlayingState;
}

} // namespace Sound
