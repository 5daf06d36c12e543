#include "app/sound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>

namespace Sound {

QUrl Resolve(const QString& relativePath)
{
    const QFileInfo given(relativePath);
    if (given.isAbsolute())
        return QUrl::fromLocalFile(given.absoluteFilePath());

    const QFileInfo inWorkingDir(QDir::current(), relativePath);
    if (inWorkingDir.exists())
        return QUrl::fromLocalFile(inWorkingDir.absoluteFilePath());

    const QFileInfo besideProgram(QDir(QCoreApplication::applicationDirPath()), relativePath);
    if (besideProgram.exists())
        return QUrl::fromLocalFile(besideProgram.absoluteFilePath());

    // Missing everywhere: hand the player the working-directory path so its error names the file.
    return QUrl::fromLocalFile(inWorkingDir.absoluteFilePath());
}

Monitor* monitor()
{
    static Monitor instance;
    return &instance;
}

void Play(QMediaPlayer* player, const QString& relativePath)
{
    if (!player)
        return;
    const QUrl url = Resolve(relativePath);
    Monitor* m = monitor();
    m->lastSound = relativePath;
    ++m->count;
    emit m->Played(relativePath, url);
    player->setMedia(url);
    player->play();
}

} // namespace Sound
