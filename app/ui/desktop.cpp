#include "app/ui/desktop.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>

#include "app/constants.h"

namespace Desktop {

void PinTimeZone()
{
#ifdef Q_OS_LINUX
    if (qEnvironmentVariableIsEmpty("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
#endif
}

static QString lastStarted;

bool OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool StartDetached(const QString& program)
{
    if (!QProcess::startDetached(program, QStringList()))
        return false;
    lastStarted = program;
    return true;
}

QString LastStarted()
{
    return lastStarted;
}

QString ReceiptFolder()
{
    return JoinPath(DataDir(), QStringLiteral("receipts"));
}

QPrinter* CreateReceiptPrinter()
{
    // Kept as a PDF, so the staff member can still print it later.
    auto* printer = new QPrinter(QPrinter::HighResolution);
    QDir().mkpath(ReceiptFolder());
    const QString name =
        QStringLiteral("receipt-%1.pdf")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(JoinPath(ReceiptFolder(), name));
    return printer;
}

} // namespace Desktop
