#include "detail/printjob.h"

QString PrintQueue::Problem() const
{
    if (!spoolerReached)
        return QStringLiteral("无法连接打印服务");
    if (!exists)
        return QStringLiteral("找不到打印机");
    if (stopped)
        return message.isEmpty() ? QStringLiteral("打印机已暂停")
                                 : QStringLiteral("打印机已暂停（") + message + QStringLiteral("）");
    if (!accepting)
        return QStringLiteral("打印机不接受新的打印任务");
    return QString();
}

std::optional<PrintJobEnd> AcceptedJobFollower::Check(const PrintJob&, int jobId)
{
    return PrintJobEnd{jobId, true, QString()};
}
