#pragma once

#include "ui/cwidget.h"

class QLockFile;

// The main window a login opens. It holds the account's lock file for as long as it lives, so that
// another process on this computer cannot log in the same account.
class CWMain : public CWidget
{
    Q_OBJECT
public:
    explicit CWMain(QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWMain() override;

    bool HoldsLoginStamp() const;

public slots:
    void UpdateLoginStamp();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLockFile* loginStampLock;
};
