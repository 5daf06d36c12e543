// Owns a name on the session bus and never answers a call made to it: a credential store, or the
// prompter that would ask for the keyring's password, that has hung.
//   helper_dbusname NAME
// Prints "owned" once the name is its own, then runs until it is killed.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

// Takes every call under "/" and answers none of them.
class Silence : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = app.arguments().value(1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Silence silence;
    if (name.isEmpty() || !bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/"), &silence, QDBusConnection::SubPath) ||
        !bus.registerService(name)) {
        std::printf("failed: %s\n", qPrintable(bus.lastError().message()));
        return 2;
    }
    std::printf("owned\n");
    std::fflush(stdout);
    return app.exec();
}
