#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <mutex>

namespace Velm {

// Everything the server hands out besides the API: the pictures its replies name (drawn here,
// PNG), the installer behind "UpdateSoftware" and the small web pages the client opens.
class Assets
{
public:
    // Picture paths are "/img/face/<number>.png" and "/img/item/<name>.png".
    static QString FacePath(int number);
    static QString ItemPath(const QString& name);

    // The item picture drawn for items given without one.
    static constexpr const char* DefaultItem = "dish";
    static bool IsOfferedItem(const QString& name);
    // PNG bytes for a path below /img/, or empty when there is no such picture.
    QByteArray Picture(const QString& kind, const QString& name);
    // What the pictures and the installer kept in memory take.
    size_t CachedBytes();

    static QString InstallerFileName(const QString& build);
    QByteArray Installer(const QString& build);
    // The installer's bytes depend on the build alone, so its digest can be named without them.
    static QByteArray InstallerBytes(const QString& build);
    static QString InstallerSha256(const QString& build); // lower-case hex

    // An HTML page by its path ("/", "/reg.php", ...), or empty.
    static QByteArray Page(const QString& path);

private:
    std::mutex mutex;
    QHash<QString, QByteArray> cache;
};

} // namespace Velm
