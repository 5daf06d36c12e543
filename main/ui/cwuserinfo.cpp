#include "main/ui/cwuserinfo.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QUrl>

#include "app/constants.h"
#include "app/ui/resources.h"
#include "main/profilejob.h"
#include "orders/corder.h"
#include "session/csession.h"
#include "ui/cweblabel.h"
#include "ui/msgbox.h"

namespace {

constexpr int lineX = 20;
constexpr int firstLineY = 20;
constexpr int lineStep = 24;
constexpr int groupStep = 48;

} // namespace

CWUserInfo::CWUserInfo(CSession* session, QWidget* parent, Qt::WindowFlags f)
    : CWidget(parent, f), user(session ? session->User() : nullptr)
{
    setAttribute(Qt::WA_DeleteOnClose);
    SetResizable(false);
    msgBox = new CMsgBox(this, CMsgBox::ForUserInfo());
    if (!user)
        return;

    faceLabel = new CWebLabel(TopBand());
    nameLabel = new QLabel(TopBand());
    QWidget* band = BottomBand();
    accountLine = new QLabel(band);
    nicknameLine = new QLabel(band);
    sexLine = new QLabel(band);
    ageLine = new QLabel(band);
    addressLine = new QLabel(band);
    mobileLine = new QLabel(band);
    qqLine = new QLabel(band);
    membershipLine = new QLabel(band);
    nameLine = new QLabel(band);
    balanceLine = new QLabel(band);
    phoneLine = new QLabel(band);
    retryButton = new QPushButton(this);
    faceLabel->setObjectName(QStringLiteral("lblUserFace"));
    nameLabel->setObjectName(QStringLiteral("lblUserName"));
    retryButton->setObjectName(QStringLiteral("pbtnRetry"));
    const char* const lineNames[] = {"lblInfoAccount", "lblInfoNickname",   "lblInfoBalance", "lblInfoSex",
                                     "lblInfoAge",     "lblInfoAddress",    "lblInfoMobile",  "lblInfoQQ",
                                     "lblInfoName",    "lblInfoMembership", "lblInfoPhone"};
    const QList<QLabel*> lines = InfoLines();
    for (int i = 0; i < lines.size(); ++i)
        lines.at(i)->setObjectName(QLatin1String(lineNames[i]));

    const int faceSide = TopBandHeight() / 2;
    faceLabel->resize(faceSide, faceSide);
    FillLabels();
    faceLabel->setPixmap(TarvikPixmap(QStringLiteral(":/img/img/user.png")));
    faceLabel->move(20, (TopBandHeight() - faceSide) / 2);
    HideTitle();
    nameLabel->move(faceLabel->x() + faceLabel->width() + 10, faceLabel->y());

    int y = firstLineY;
    const QList<QList<QLabel*>> groups{{accountLine, nicknameLine, balanceLine},
                                       {sexLine, ageLine, addressLine},
                                       {mobileLine, qqLine},
                                       {nameLine, membershipLine, phoneLine}};
    for (const QList<QLabel*>& group : groups) {
        for (QLabel* line : group) {
            line->move(lineX, y);
            y += lineStep;
        }
        y += groupStep - lineStep;
    }

    retryButton->setText(QStringLiteral("失败，请点击重试！"));
    const QFontMetrics metrics(accountLine->font());
    retryButton->resize(int(1.4 * metrics.horizontalAdvance(retryButton->text())), 3 * metrics.height());
    PlaceRetryButton();
    retryButton->setStyleSheet(
        QStringLiteral("QPushButton{background: rgba(255, 85, 0, 1); color: #fff;border: none;"
                       "border-radius: 3px;font-size: 14px;}"
                       "QPushButton:hover{color: #fff;background: rgba(255, 85, 0, 0.8);}"));
    connect(retryButton, &QPushButton::clicked, this, &CWUserInfo::HttpUserInfo);
    connect(retryButton, &QPushButton::clicked, retryButton, &QWidget::hide);

    faceLabel->setStyleSheet(QStringLiteral("border: 2px solid #fff;border-radius: 5px;"));
    nameLabel->setStyleSheet(QStringLiteral("color: #fff;font-size: 20px;font-weight: bold;"));

    job = new CProfileJob(session->Line(), this);
    connect(job, &CProfileJob::Fetched, this, &CWUserInfo::ReplyUserInfo);
    connect(job, &CJob::Failed, this, &CWUserInfo::UserInfoFailed);
    HttpUserInfo();
}

CWUserInfo::~CWUserInfo()
{
    // A fetch still running must not call back into a window that is half gone.
    delete job;
}

QList<QLabel*> CWUserInfo::InfoLines() const
{
    return {accountLine, nicknameLine, balanceLine, sexLine,        ageLine,  addressLine,
            mobileLine,  qqLine,       nameLine,    membershipLine, phoneLine};
}

void CWUserInfo::HttpUserInfo()
{
    if (!user || !job)
        return;
    if (job->Start())
        ShowLoadingAnimation();
}

void CWUserInfo::ReplyUserInfo(const Profile& profile)
{
    HideLoadingAnimation();
    if (user)
        profile.WriteTo(*user);
    FillLabels();
}

void CWUserInfo::UserInfoFailed(const JobFailure& failure)
{
    switch (failure.kind) {
    case JobFailure::Line:
        // The indicator keeps playing behind the retry button until the next answer.
        retryButton->setEnabled(true);
        retryButton->raise();
        retryButton->show();
        break;
    case JobFailure::Malformed:
        // Nothing to show for an answer that does not read; the old values stay.
        HideLoadingAnimation();
        break;
    case JobFailure::Refused:
        HideLoadingAnimation();
        ShowMsgBox(failure.message, 0);
        break;
    }
}

QString CWUserInfo::MembershipText(const QDateTime& since, const QDate& today)
{
    if (!since.isValid())
        return QString();
    const QDate start = since.date();
    if (start.year() == today.year())
        return QString::number(today.month() - start.month()) + QStringLiteral(" 月");
    return QString::number(today.year() - start.year()) + QStringLiteral(" 年");
}

void CWUserInfo::FillLabels()
{
    if (!user)
        return;
    const QString account = QString::number(user->GetAccount());
    nameLabel->setText(user->GetNickname().isEmpty() ? account : user->GetNickname());
    nameLabel->adjustSize();

    const Money balance = user->GetBalance() < 0 ? 0 : user->GetBalance();
    accountLine->setText(QStringLiteral("账  号：") + account);
    nicknameLine->setText(QStringLiteral("昵  称：") + user->GetNickname());
    sexLine->setText(QStringLiteral("性  别：") + user->SexText());
    ageLine->setText(QStringLiteral("年  龄：") + user->GetBirthday().toString(QStringLiteral("yyyy-MM-dd")));
    addressLine->setText(QStringLiteral("地  址：") + user->GetUserAddress());
    mobileLine->setText(QStringLiteral("手  机：") + user->GetMaiPhone());
    qqLine->setText(QStringLiteral("Q   Q：") + user->GetMaiQQ());
    nameLine->setText(QStringLiteral("姓  名：") + user->GetMaiName());
    membershipLine->setText(QStringLiteral("Velm  龄：") +
                            MembershipText(user->GetCtime(), QDate::currentDate()));
    balanceLine->setText(QStringLiteral("余  额：") + FormatMoney(balance) + QStringLiteral(" 元"));
    phoneLine->setText(QStringLiteral("电  话：") + user->GetMaiPhone());

    // Without a picture address there is nothing to fetch; the placeholder picture stays.
    if (!user->GetFace().isEmpty()) {
        faceLabel->SetUrl(QUrl(user->GetFace()));
        faceLabel->StartDownload(QString());
    }

    retryButton->setEnabled(false);
    retryButton->hide();
    for (QLabel* line : InfoLines()) {
        line->adjustSize();
        line->hide();
        line->show();
    }
    nameLabel->hide();
    nameLabel->show();
}

void CWUserInfo::PlaceRetryButton()
{
    if (!retryButton)
        return;
    const QRect visible = VisibleRect();
    retryButton->move(visible.x() + (visible.width() - retryButton->width()) / 2,
                      visible.y() + (visible.height() - retryButton->height()) / 2);
}

void CWUserInfo::resizeEvent(QResizeEvent* event)
{
    CWidget::resizeEvent(event);
    PlaceRetryButton();
    if (msgBox)
        msgBox->Reposition();
}

void CWUserInfo::ShowLoadingAnimation()
{
    msgBox->ShowLoadingAnimation();
}

void CWUserInfo::HideLoadingAnimation()
{
    msgBox->HideLoadingAnimation();
}

void CWUserInfo::ShowMsgBox(const QString& message, int second)
{
    msgBox->ShowMsgBox(message, second);
}

void CWUserInfo::ShowMsgBox(const QString& message)
{
    msgBox->ShowMsgBox(message);
}

void CWUserInfo::HideMsgBox()
{
    msgBox->HideMsgBox();
}
