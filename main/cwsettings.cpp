#include "main/cwsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/settings.h"
#include "ui/msgbox.h"

namespace {

constexpr int windowWidth = 380;
constexpr int windowHeight = 290;
constexpr int headHeight = 60;

QString intervalText(int seconds)
{
    return seconds == 0 ? QStringLiteral("关闭") : QStringLiteral("每 %1 秒").arg(seconds);
}

QLabel* hintLabel(const QString& text, QWidget* parent)
{
    auto* hint = new QLabel(text, parent);
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #999;"));
    return hint;
}

} // namespace

CWSettings::CWSettings(CSettings* settings, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f), settings(settings)
{
    setAttribute(Qt::WA_DeleteOnClose);
    SetResizable(false);
    resize(windowWidth, windowHeight);
    setFixedSize(windowWidth, windowHeight);
    TopBand()->setFixedHeight(headHeight);
    SetTitle(QStringLiteral("设置"));
    MoveTitle(10, (headHeight - 18) / 2);

    QWidget* band = BottomBand();
    auto* column = new QVBoxLayout(band);
    column->setContentsMargins(24, 18, 24, 18);
    column->setSpacing(6);

    auto* reminderTitle = new QLabel(QStringLiteral("未打开的新订单再次提醒"), band);
    reminderTitle->setStyleSheet(QStringLiteral("color: #333; font-size: 14px;"));
    reminderBox = new QComboBox(band);
    reminderBox->setObjectName(QStringLiteral("cboxReminder"));
    for (int seconds : CSettings::ReminderChoices())
        reminderBox->addItem(intervalText(seconds), seconds);
    auto* reminderRow = new QHBoxLayout;
    reminderRow->addWidget(reminderTitle, 1);
    reminderRow->addWidget(reminderBox);
    column->addLayout(reminderRow);
    column->addWidget(hintLabel(QStringLiteral("新订单闪烁期间（未打开详情）按此间隔重复提示音。"), band));
    column->addSpacing(10);

    trayNoticeBox = new QCheckBox(QStringLiteral("主界面最小化或隐藏时，托盘提示新订单"), band);
    trayNoticeBox->setObjectName(QStringLiteral("chkTrayNotice"));
    column->addWidget(trayNoticeBox);
    column->addSpacing(10);

    autoPrintBox = new QCheckBox(QStringLiteral("自动打印新的已支付订单小票"), band);
    autoPrintBox->setObjectName(QStringLiteral("chkAutoPrint"));
    column->addWidget(autoPrintBox);
    column->addWidget(hintLabel(QStringLiteral("取得订单详情后打印一次；未找到打印机时保存为 PDF。"), band));
    column->addStretch(1);

    for (QCheckBox* box : {trayNoticeBox, autoPrintBox})
        box->setStyleSheet(QStringLiteral("color: #333; font-size: 14px;"));

    ShowValues();
    if (!settings) {
        band->setEnabled(false);
        return;
    }
    connect(reminderBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (this->settings && index >= 0)
            this->settings->SetReminderInterval(reminderBox->itemData(index).toInt());
    });
    connect(trayNoticeBox, &QCheckBox::toggled, settings, &CSettings::SetTrayNotice);
    connect(autoPrintBox, &QCheckBox::toggled, settings, &CSettings::SetAutoPrint);
    connect(settings, &CSettings::Changed, this, &CWSettings::ShowValues);
    msgBox = new CMsgBox(this, CMsgBox::ForSettings());
    connect(settings, &CSettings::Changed, msgBox, &CMsgBox::HideMsgBox);
    // Why it failed is in the log; the box says what it means for the staff member.
    connect(settings, &CSettings::SaveFailed, this,
            [this] { msgBox->ShowMsgBox(QStringLiteral("设置未能保存！\n仅本次运行有效"), 0); });
}

void CWSettings::ShowValues()
{
    if (!settings)
        return;
    const QSignalBlocker blockReminder(reminderBox);
    const QSignalBlocker blockTray(trayNoticeBox);
    const QSignalBlocker blockPrint(autoPrintBox);
    reminderBox->setCurrentIndex(qMax(0, reminderBox->findData(settings->ReminderInterval())));
    trayNoticeBox->setChecked(settings->TrayNotice());
    autoPrintBox->setChecked(settings->AutoPrint());
}
