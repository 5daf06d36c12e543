#pragma once

#include "ui/cwidget.h"

class COrder;
class CUser;
class QLabel;

// Provisional order detail window: the interface the order rows rely on, with nothing behind it
// but the order number and its status. The real window replaces this file.
class COrderWidget : public CWidget
{
    Q_OBJECT
public:
    COrderWidget(COrder* order, CUser* user, QWidget* parent = nullptr);

    COrder* GetOrder() const { return order; }

signals:
    void signalOperateMe(int state);

private:
    COrder* order;
    CUser* user;
    QLabel* summary;
};
