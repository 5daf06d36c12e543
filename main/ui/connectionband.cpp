#include "main/ui/connectionband.h"

#include "net/connectionstate.h"

CConnectionBand::CConnectionBand(CConnectionState* state, QWidget* parent) : QLabel(parent), connection(state)
{
    setObjectName(QStringLiteral("lblOffline"));
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QLabel#lblOffline{background: rgba(200, 24, 24, 0.92); color: #fff;"
                                 "font-size: 14px; font-weight: bold;}"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    connect(connection, &CConnectionState::Lost, this, [this] {
        ShowLostFor(connection->SecondsLost());
        show();
        raise();
    });
    connect(connection, &CConnectionState::Ticking, this, &CConnectionBand::ShowLostFor);
    connect(connection, &CConnectionState::Restored, this, &QWidget::hide);
}

QString CConnectionBand::Heading(const CConnectionState* state)
{
    return !state->Refusal().isEmpty() ? QStringLiteral("订单同步被拒绝") : QStringLiteral("网络连接中断");
}

void CConnectionBand::ShowLostFor(int seconds)
{
    // A platform that answers and refuses is not a dead line: the band says what it said.
    const QString refusal = connection->Refusal();
    if (refusal.isEmpty()) {
        setText(Heading(connection) + QStringLiteral(" · 已 %1 秒").arg(seconds));
        return;
    }
    ensurePolished();
    setText(fontMetrics().elidedText(Heading(connection) + QStringLiteral("：") + refusal, Qt::ElideRight,
                                     width() - 8));
}
