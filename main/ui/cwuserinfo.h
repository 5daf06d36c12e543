#pragma once

#include <QDate>
#include <QDateTime>
#include <QNetworkReply>
#include <QPointer>

#include "ui/cwidget.h"

class CMsgBox;
class CSession;
class CUser;
class CWebLabel;
class QLabel;
class QNetworkAccessManager;
class QPushButton;

// The staff member's profile. It fetches "UserInfo" when it opens, writes the answer into the
// session record and shows that record; a failed fetch offers a retry button.
class CWUserInfo : public CWidget
{
    Q_OBJECT
public:
    explicit CWUserInfo(CSession* session, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWUserInfo() override;

    void FillLabels();

    // "4 月" within the same calendar year, "1 年" across years; empty when `since` is unknown.
    static QString MembershipText(const QDateTime& since, const QDate& today);

    CMsgBox* MsgBox() const { return msgBox; }
    QPushButton* RetryButton() const { return retryButton; }
    CWebLabel* FaceLabel() const { return faceLabel; }
    QLabel* NameLabel() const { return nameLabel; }
    // The eleven information lines, top to bottom as they are shown.
    QList<QLabel*> InfoLines() const;

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
    void ReplyUserInfo(QNetworkReply* reply);
    void slotError(QNetworkReply::NetworkError);

private:
    void PlaceRetryButton();

    QNetworkAccessManager* manager = nullptr;
    QPointer<QNetworkReply> reply;
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
