#include "app/sound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTextStream>

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
