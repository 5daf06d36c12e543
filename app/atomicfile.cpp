#include "app/atomicfile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include "app/log.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace AtomicFile {

namespace {

QString LastSystemError()
{
#ifdef Q_OS_WIN
    return qt_error_string(int(GetLastError()));
#else
    return QString::fromLocal8Bit(std::strerror(errno));
#endif
}

// QFileDevice::flush() only hands the bytes to the system; a full disk may still refuse them when
// they are written out, and that must be known before the rename.
bool SyncToDisk(int handle)
{
#ifdef Q_OS_WIN
    return handle < 0 || _commit(handle) == 0;
#else
    return ::fsync(handle) == 0;
#endif
}

// rename() replaces the name itself: a link found there is dropped, never followed.
bool ReplaceWith(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// The new name must reach the disk as well, or a crash right after could bring the old file back.
void SyncFolder(const QString& folder)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder)
#endif
}

} // namespace

bool Write(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString& why) {
        qCWarning(lcFiles, "%s could not be saved, the previous file is kept: %s", qUtf8Printable(shown),
                  qUtf8Printable(why));
        if (error)
            *error = why;
        return false;
    };

    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder)));

    // In the same folder, so that the rename stays on one file system and is atomic.
    QTemporaryFile temp(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return fail(temp.errorString());
    if (temp.write(bytes) != bytes.size() || !temp.flush())
        return fail(temp.errorString());
    if (!SyncToDisk(temp.handle()))
        return fail(LastSystemError());
    temp.close();
    if (temp.error() != QFileDevice::NoError)
        return fail(temp.errorString());

    const QString linkedTo = info.isSymLink() ? info.symLinkTarget() : QString();
    if (!ReplaceWith(temp.fileName(), path))
        return fail(LastSystemError());
    temp.setAutoRemove(false); // it has become `path`
    SyncFolder(folder);

    if (!linkedTo.isEmpty())
        qCWarning(lcFiles,
                  "%s was a symbolic link to %s: it is now a file of its own, and %s was left as it was",
                  qUtf8Printable(shown), qUtf8Printable(QDir::toNativeSeparators(linkedTo)),
                  qUtf8Printable(QDir::toNativeSeparators(linkedTo)));
    return true;
}

} // namespace AtomicFile
