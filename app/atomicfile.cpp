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
    Writer writer(path);
    const bool saved = writer.Open() && writer.Append(bytes) && writer.Commit();
    if (!saved && error)
        *error = writer.ErrorString();
    return saved;
}

Writer::Writer(const QString& path) : path(path) {}

// An uncommitted temporary file is removed with it.
Writer::~Writer() = default;

bool Writer::Fail(const QString& why)
{
    qCWarning(lcFiles, "%s could not be saved, the previous file is kept: %s",
              qUtf8Printable(QDir::toNativeSeparators(path)), qUtf8Printable(why));
    error = why;
    temp.reset();
    return false;
}

bool Writer::Open()
{
    if (temp || !error.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        return Fail(QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder)));
    // In the same folder, so that the rename stays on one file system and is atomic.
    temp = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.") + info.fileName() +
                                            QStringLiteral(".XXXXXX"));
    if (!temp->open())
        return Fail(temp->errorString());
    return true;
}

bool Writer::Append(const QByteArray& bytes)
{
    if (!temp || finished || !error.isEmpty())
        return false;
    if (temp->write(bytes) != bytes.size())
        return Fail(temp->errorString());
    return true;
}

bool Writer::Finish()
{
    if (!temp || !error.isEmpty())
        return false;
    if (finished)
        return true;
    if (!temp->flush())
        return Fail(temp->errorString());
    if (!SyncToDisk(temp->handle()))
        return Fail(LastSystemError());
    temp->close();
    if (temp->error() != QFileDevice::NoError)
        return Fail(temp->errorString());
    finished = true;
    return true;
}

QString Writer::WrittenPath() const
{
    return temp ? temp->fileName() : QString();
}

bool Writer::Commit()
{
    if (!Finish())
        return false;
    const QFileInfo info(path);
    const QString linkedTo = info.isSymLink() ? info.symLinkTarget() : QString();
    if (!ReplaceWith(temp->fileName(), path))
        return Fail(LastSystemError());
    temp->setAutoRemove(false); // it has become `path`
    temp.reset();
    SyncFolder(info.absolutePath());

    if (!linkedTo.isEmpty())
        qCWarning(lcFiles,
                  "%s was a symbolic link to %s: it is now a file of its own, and %s was left as it was",
                  qUtf8Printable(QDir::toNativeSeparators(path)),
                  qUtf8Printable(QDir::toNativeSeparators(linkedTo)),
                  qUtf8Printable(QDir::toNativeSeparators(linkedTo)));
    return true;
}

} // namespace AtomicFile
