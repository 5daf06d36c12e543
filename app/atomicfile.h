#pragma once

#include <QByteArray>
#include <QString>

// Every file the program keeps (users.xml, settings.ini, printed.txt) is saved through here, so that
// a full disk, a pulled plug or a hostile link costs nothing that was already on disk.
namespace AtomicFile {

// Replaces the file at `path` with `bytes`, readable and writable by its owner only. The bytes go
// into a temporary file beside it, which is written, flushed and synced, each step checked, and only
// then renamed over `path`: when any step fails the previous file stays whole, the temporary file is
// removed, the reason goes to the log and to `error`, and the result is false. A symbolic link at
// `path` is replaced by a file of its own; the file it pointed to is left as it was, and the log
// says where the link pointed. The folder is created when it is missing.
bool Write(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace AtomicFile
