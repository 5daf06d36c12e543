#pragma once

#include <QWidget>

class CUser;
class QComboBox;
class QLabel;
class QPushButton;

// One remembered account in the login window's drop-down: avatar, nickname, account number and a
// delete button that shows while the mouse is over the row.
class ComboBoxItem : public QWidget
{
    Q_OBJECT
public:
    ComboBoxItem(CUser* user, QComboBox* box, QWidget* parent = nullptr);

    QString AccountText() const;
    QPushButton* DeleteButton() const { return deleteButton; }

signals:
    void Delete(QString account);
    void ShowAccount(QString account);

public slots:
    void EmitDelete();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* faceLabel;
    QLabel* nicknameLabel;
    QLabel* accountLabel;
    QPushButton* deleteButton;
    bool pressed;
};

// The local copy of an account's avatar: FacesDir + the file-name part of its face URL, or an empty
// string when there is no such file.
QString LocalFacePath(const QString& faceUrl);
