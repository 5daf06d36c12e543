#include "detail/receiptservice.h"

#include <QDir>

QString PrintOutcome::FailureText() const
{
    if (printer.isEmpty() && !file.isEmpty())
        return QStringLiteral("未找到打印机，小票未能保存：\n") + QDir::toNativeSeparators(file);
    return QStringLiteral("打印失败：") + printer + QStringLiteral("：") + reason;
}
