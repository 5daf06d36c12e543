#include "main/ui/cwsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/settings.h"
#include "detail/printspooler.h"
#include "detail/ui/receiptprinter.h"
#include "ui/msgbox.h"

namespace {

constexpr int windowWidth = 380;
constexpr int windowHeight = 410;
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

QLabel* rowTitle(const QString& text, QWidget* parent)
{
    auto* title = new QLabel(text, parent);
    title->setStyleSheet(QStringLiteral("color: #333; font-size: 14px;"));
    return title;
}

} // namespace

CWSettings::CWSettings(CSettings* settings, CReceiptPrinter* receipts, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f), settings(settings), receipts(receipts)
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

    reminderBox = new QComboBox(band);
    reminderBox->setObjectName(QStringLiteral("cboxReminder"));
    for (int seconds : CSettings::ReminderChoices())
        reminderBox->addItem(intervalText(seconds), seconds);
    auto* reminderRow = new QHBoxLayout;
    reminderRow->addWidget(rowTitle(QStringLiteral("未打开的新订单再次提醒"), band), 1);
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
    column->addWidget(hintLabel(QStringLiteral("取得订单详情后打印一次；打印失败时托盘提示，打印机恢复后自动重印一次；"
                                               "未找到打印机时保存为 PDF。"),
                                band));
    column->addSpacing(10);

    printerBox = new QComboBox(band);
    printerBox->setObjectName(QStringLiteral("cboxPrinter"));
    printerBox->setMinimumWidth(180);
    auto* printerRow = new QHBoxLayout;
    printerRow->addWidget(rowTitle(QStringLiteral("小票打印机"), band), 1);
    printerRow->addWidget(printerBox);
    column->addLayout(printerRow);

    paperBox = new QComboBox(band);
    paperBox->setObjectName(QStringLiteral("cboxPaper"));
    paperBox->addItem(QStringLiteral("58 mm 小票纸"), int(CSettings::Paper::Roll58));
    paperBox->addItem(QStringLiteral("80 mm 小票纸"), int(CSettings::Paper::Roll80));
    paperBox->addItem(QStringLiteral("打印机默认纸张"), int(CSettings::Paper::PrinterPage));
    copiesBox = new QComboBox(band);
    copiesBox->setObjectName(QStringLiteral("cboxCopies"));
    for (int copies = 1; copies <= CSettings::MostCopies; ++copies)
        copiesBox->addItem(QStringLiteral("%1 份").arg(copies), copies);
    auto* paperRow = new QHBoxLayout;
    paperRow->addWidget(rowTitle(QStringLiteral("纸张"), band));
    paperRow->addWidget(paperBox, 1);
    paperRow->addSpacing(12);
    paperRow->addWidget(rowTitle(QStringLiteral("份数"), band));
    paperRow->addWidget(copiesBox);
    column->addLayout(paperRow);

    testPageButton = new QPushButton(QStringLiteral("打印测试页"), band);
    testPageButton->setObjectName(QStringLiteral("pbtnTestPage"));
    testPageButton->setCursor(Qt::PointingHandCursor);
    testPageButton->setStyleSheet(
        QStringLiteral("QPushButton{background: #f50; color: #fff; border: none; border-radius: 3px; font-size: 14px;"
                       "padding: 5px 14px;}QPushButton:hover{background: rgba(255, 85, 0, 0.8);}"
                       "QPushButton:disabled{background: #ccc;}"));
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(hintLabel(QStringLiteral("打印按钮和自动打印都用这台打印机，不再弹出对话框。"), band), 1);
    testRow->addWidget(testPageButton, 0, Qt::AlignTop);
    column->addLayout(testRow);
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
    connect(printerBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (this->settings && index >= 0)
            this->settings->SetReceiptPrinter(printerBox->itemData(index).toString());
    });
    connect(paperBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (this->settings && index >= 0)
            this->settings->SetReceiptPaper(CSettings::Paper(paperBox->itemData(index).toInt()));
    });
    connect(copiesBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (this->settings && index >= 0)
            this->settings->SetReceiptCopies(copiesBox->itemData(index).toInt());
    });
    connect(settings, &CSettings::Changed, this, &CWSettings::ShowValues);
    msgBox = new CMsgBox(this, CMsgBox::ForSettings());
    connect(settings, &CSettings::Changed, msgBox, &CMsgBox::HideMsgBox);
    // Why it failed is in the log; the box says what it means for the staff member.
    connect(settings, &CSettings::SaveFailed, this,
            [this] { msgBox->ShowMsgBox(QStringLiteral("设置未能保存！\n仅本次运行有效"), 0); });

    testPageButton->setEnabled(receipts != nullptr);
    if (!receipts)
        return;
    connect(receipts->Spooler(), &CPrintSpooler::PrintersListed, this,
            [this](bool reached, const QStringList& names) { ListPrinters(reached, names); });
    receipts->Spooler()->ListPrinters();
    connect(receipts, &CReceiptService::Finished, this, &CWSettings::TestPageFinished);
    connect(testPageButton, &QPushButton::clicked, this, [this] {
        if (this->receipts)
            testPages.append(this->receipts->PrintSample());
    });
}

void CWSettings::ListPrinters(bool reached, const QStringList& names)
{
    systemPrinters = reached ? names : QStringList();
    printersListed = true;
    ShowValues();
}

void CWSettings::TestPageFinished(int ticket, const PrintOutcome& outcome)
{
    if (!testPages.removeOne(ticket))
        return;
    switch (outcome.result) {
    case PrintOutcome::Result::Printed:
        msgBox->ShowMsgBox(QStringLiteral("测试页已打印：") + outcome.printer);
        break;
    case PrintOutcome::Result::SavedAsFile:
        msgBox->ShowMsgBox(QStringLiteral("未找到打印机，测试页已保存：\n") + QDir::toNativeSeparators(outcome.file));
        break;
    case PrintOutcome::Result::Failed:
        msgBox->ShowMsgBox(outcome.FailureText(), 0);
        break;
    }
}

void CWSettings::ShowValues()
{
    if (!settings)
        return;
    const QSignalBlocker blockReminder(reminderBox);
    const QSignalBlocker blockTray(trayNoticeBox);
    const QSignalBlocker blockPrint(autoPrintBox);
    const QSignalBlocker blockPrinter(printerBox);
    const QSignalBlocker blockPaper(paperBox);
    const QSignalBlocker blockCopies(copiesBox);
    reminderBox->setCurrentIndex(qMax(0, reminderBox->findData(settings->ReminderInterval())));
    trayNoticeBox->setChecked(settings->TrayNotice());
    autoPrintBox->setChecked(settings->AutoPrint());
    paperBox->setCurrentIndex(qMax(0, paperBox->findData(int(settings->ReceiptPaper()))));
    copiesBox->setCurrentIndex(qMax(0, copiesBox->findData(settings->ReceiptCopies())));

    // The system's default first, then the system's printers; a chosen one the system no longer
    // has stays in the list, marked, so that the choice is not lost.
    printerBox->clear();
    printerBox->addItem(QStringLiteral("系统默认打印机"), QString());
    for (const QString& name : systemPrinters)
        printerBox->addItem(name, name);
    const QString chosen = settings->ReceiptPrinter();
    if (!chosen.isEmpty() && !systemPrinters.contains(chosen))
        printerBox->addItem(printersListed ? chosen + QStringLiteral("（未找到）") : chosen, chosen);
    printerBox->setCurrentIndex(qMax(0, printerBox->findData(chosen)));
}
