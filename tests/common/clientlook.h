#pragma once

#include <QApplication>
#include <QFile>

#include "app/ui/resources.h"
#include "net/request.h"

namespace TestSupport {

// The client's pictures and style sheet, loaded the way its start-up loads them, for a demo or
// helper program whose windows must look as they do in the program. False without the sheet.
inline bool LookLikeTheClient(QApplication& app)
{
    InitTarvikResources();
    QFile sheet(QStringLiteral(":/qss/velm.qss"));
    if (!sheet.open(QIODevice::ReadOnly))
        return false;
    app.setStyleSheet(Request::TextUpToNul(sheet.readAll()));
    return true;
}

} // namespace TestSupport
