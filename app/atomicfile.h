#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTemporaryFile;

// Every file the program keeps (users.xml, settings.ini, printed.txt, avatars, a downloaded
// installer) is saved through here, so that a full disk, a pulled plug or a hostile link costs
// nothing that was already on disk.
namespace AtomicFile {

// Replaces the file at `path` with `bytes`, readable and writable by its owner only. The bytes go
// into a temporary file beside it, which is written, flushed and synced, each step checked, and only
// then renamed over `path`: when any step fails the previous file stays whole, the temporary file is
// removed, the reason goes to the log and to `error`, and the result is false. A symbolic link at
// `path` is replaced by a file of its own; the file it pointed to is left as it was, and the log
// says where the link pointed. The folder is created when it is missing.
bool Write(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The same for a file that arrives in pieces (a download): Open(), Append() each piece, Finish()
// once all is written, read it back from WrittenPath() if it must be checked, then Commit(). Each
// step says whether it worked and, when not, why (ErrorString(), also in the log); from the first
// failure on every step fails. A writer that goes without Commit() removes what it wrote.
class Writer
{
public:
    explicit Writer(const QString& path);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    QString Path() const { return path; }
    QString ErrorString() const { return error; }

    bool Open();
    bool Append(const QByteArray& bytes);
    // Flushes, syncs and closes the temporary file, each step checked.
    bool Finish();
    // The temporary file: after Finish(), the bytes as the disk holds them.
    QString WrittenPath() const;
    // Finish() if still open, then the rename over Path().
    bool Commit();

private:
    bool Fail(const QString& why);

    const QString path;
    std::unique_ptr<QTemporaryFile> temp;
    QString error;
    bool finished = false;
};

} // namespace AtomicFile
