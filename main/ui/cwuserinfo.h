#pragma once

#include <QDate>
#include <QDateTime>

#include "ui/cwidget.h"

class CMsgBox;
class CProfileJob;
class CSession;
class CUser;
class CWebLabel;
class QLabel;
class QPushButton;
struct JobFailure;
struct Profile;

// The staff member's profile. It fetches "UserInfo" when it opens, writes the answer into the
// session record and shows that record; a failed fetch offers a retry button ("pbtnRetry").
// The head's picture and name are "lblUserFace" and "lblUserName"; the eleven information lines are
// named "lblInfo…" after what they show, top to bottom "lblInfoAccount", "lblInfoNickname",
// "lblInfoBalance", "lblInfoSex", "lblInfoAge", "lblInfoAddress", "lblInfoMobile", "lblInfoQQ",
// "lblInfoName", "lblInfoMembership", "lblInfoPhone".
class CWUserInfo : public CWidget
{
    Q_OBJECT
public:
    explicit CWUserInfo(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWUserInfo() override;

    void FillLabels();

    // "4 月" within the same calendar year, "1 年" across years; empty when `since` is unknown.
    static QString MembershipText(const QDateTime& since, const QDate& today);

public slots:
    void ShowLoadingAnimation();
    void HideLoadingAnimation();
    void ShowMsgBox(const QString& message, int second);
    void ShowMsgBox(const QString& message);
    void HideMsgBox();

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void HttpUserInfo();
    void ReplyUserInfo(const Profile& profile);
    void UserInfoFailed(const JobFailure& failure);

private:
    void PlaceRetryButton();
    // The eleven information lines, top to bottom as they are shown.
    QList<QLabel*> InfoLines() const;

    CProfileJob* job = nullptr;
    CUser* user = nullptr;
    CWebLabel* faceLabel = nullptr;
    QLabel* nameLabel = nullptr;
    QLabel* accountLine = nullptr;
    QLabel* nicknameLine = nullptr;
    QLabel* sexLine = nullptr;
    QLabel* ageLine = nullptr;
    QLabel* addressLine = nullptr;
    QLabel* mobileLine = nullptr;
    QLabel* qqLine = nullptr;
    QLabel* membershipLine = nullptr;
    QLabel* nameLine = nullptr;
    QLabel* balanceLine = nullptr;
    QLabel* phoneLine = nullptr;
    QPushButton* retryButton = nullptr;
    CMsgBox* msgBox = nullptr;
};
