#pragma once

#include <QString>
#include <QtGlobal>

// The headless platform cannot set window opacity or pass size hints to a window manager, and
// says so on every fade and fixed size. Those warnings are expected here and would bury real ones.
namespace QuietPlatform {

inline QtMessageHandler& previous()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void filter(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && (message.contains(QLatin1String("does not support setting window opacity")) ||
                                 message.contains(QLatin1String("does not support propagateSizeHints"))))
        return;
    previous()(type, context, message);
}

// Once is enough: the run of every test installs it (tests/common/testmain.h).
inline void Install()
{
    const QtMessageHandler old = qInstallMessageHandler(filter);
    if (old != filter)
        previous() = old;
}

} // namespace QuietPlatform
