#include "app/money.h"

#include <cmath>

QString FormatMoney(Money amount)
{
    if (!std::isfinite(amount))
        amount = 0;
    QString text = QString::number(amount, 'f', 3);
    text.chop(1);
    // -0.001 would read "-0.00".
    if (text == QLatin1String("-0.00"))
        text = QStringLiteral("0.00");
    return text;
}
