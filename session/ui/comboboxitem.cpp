#include "session/ui/comboboxitem.h"

#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

#include "app/constants.h"
#include "session/cuser.h"
#include "ui/cweblabel.h"

QString LocalFacePath(const QString& faceUrl)
{
    if (faceUrl.isEmpty())
        return QString();
    const QString name = QUrl(faceUrl).fileName(QUrl::FullyDecoded);
    if (!CWebLabel::IsPlainFileName(name))
        return QString();
    const QString path = JoinPath(FacesDir(), name);
    return QFile::exists(path) ? path : QString();
}

ComboBoxItem::ComboBoxItem(CUser* user, QComboBox* box, QWidget* parent)
    : QWidget(parent), faceLabel(new QLabel(this)), nicknameLabel(new QLabel(this)),
      accountLabel(new QLabel(this)), deleteButton(new QPushButton(this)), pressed(false)
{
    const int rowHeight = 36;
    resize(box ? box->width() : 195, rowHeight);

    const int faceSide = rowHeight - 4;
    faceLabel->setObjectName(QStringLiteral("plblImg"));
    faceLabel->setScaledContents(true);
    faceLabel->setGeometry(2, (rowHeight - faceSide) / 2, faceSide, faceSide);
    const QString facePath = user ? LocalFacePath(user->GetFace()) : QString();
    faceLabel->setPixmap(facePath.isEmpty() ? QPixmap(QStringLiteral(":/img/img/cattle.gif"))
                                            : CWebLabel::LoadPicture(facePath));
    faceLabel->setStyleSheet(QStringLiteral("plblImg{border: 1px solid #fff;border-radius: 3px;}"));

    deleteButton->setObjectName(QStringLiteral("ppbtnDelete"));
    deleteButton->setFixedSize(30, 30);
    deleteButton->move(width() - 30 - 10, (rowHeight - 30) / 2);
    deleteButton->setStyleSheet(
        QStringLiteral("#ppbtnDelete{background: url(:/img/img/btn_close_hover.png);border: none;}"
                       "#ppbtnDelete:hover{background-color: #fff;border-radius: 3px;}"));
    deleteButton->hide();
    connect(deleteButton, &QPushButton::clicked, this, &ComboBoxItem::EmitDelete);

    const int textWidth = width() - faceSide - deleteButton->width() - 20;
    const int textX = faceLabel->x() + faceSide + 10;
    nicknameLabel->setGeometry(textX, 0, textWidth, rowHeight / 2);
    accountLabel->setGeometry(textX, rowHeight / 2, textWidth, rowHeight / 2);
    const QString nickname = user ? user->GetNickname() : QString();
    const QString account = user ? QString::number(user->GetAccount()) : QString();
    nicknameLabel->setText(nicknameLabel->fontMetrics().elidedText(nickname, Qt::ElideRight, textWidth));
    accountLabel->setText(accountLabel->fontMetrics().elidedText(account, Qt::ElideRight, textWidth));
    accountLabel->setStyleSheet(QStringLiteral("color: #777;"));
    // The full number is what the signals carry; the label may show it elided.
    accountLabel->setProperty("account", account);

    setStyleSheet(QStringLiteral("QLabel{font-size: 12px;}"));
}

QString ComboBoxItem::AccountText() const
{
    return accountLabel->property("account").toString();
}

void ComboBoxItem::EmitDelete()
{
    emit Delete(AccountText());
}

void ComboBoxItem::enterEvent(QEvent* event)
{
    deleteButton->show();
    QWidget::enterEvent(event);
}

void ComboBoxItem::leaveEvent(QEvent* event)
{
    deleteButton->hide();
    QWidget::leaveEvent(event);
}

void ComboBoxItem::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pressed = true;
    QWidget::mousePressEvent(event);
}

void ComboBoxItem::mouseReleaseEvent(QMouseEvent* event)
{
    if (pressed) {
        pressed = false;
        emit ShowAccount(AccountText());
    }
    QWidget::mouseReleaseEvent(event);
}
