#pragma once

#include <QWidget>

class COrder;
class QLabel;
class QPalette;
class QTimer;

// One row of an order group: icon, order number, amount and creation time. A row of a new order
// blinks its icon until the pane stops it (the order was opened or dealt with). The row asks for its
// order's detail window (a double click or its menu); the pane that holds it opens the window and
// moves the row between groups.
//
// A shop keeps thousands of rows, so a row creates its four labels only when it is first painted
// (folded groups and rows scrolled out of sight never are); until then the row remembers what its
// icon should look like.
class COrderItem : public QWidget
{
    Q_OBJECT
public:
    COrderItem(COrder* order, QWidget* parent);
    ~COrderItem() override;

    static constexpr int rowHeight = 53;
    static constexpr int flashMsecs = 500;

    void StartFlash();
    // The icon stays, shown for good.
    void StopFlash();
    // The new-order icon stays after the blinking stops, until the order is served.
    void ShowNewOrderIcon(bool show) { ShowIcon(show); }
    COrder* GetOrder() const { return order; }

    // The one selected row of the program, or null.
    static COrderItem* SelectedItem() { return selectedItem; }

    // For the order pane's own tests and the demo: the parts of the row as they stand.
    bool IsFlashing() const { return flashing; }
    QTimer* FlashTimer() const { return flashTimer; }
    QLabel* IconLabel() const { return iconLabel; }
    QLabel* IdLabel() const { return idLabel; }
    QLabel* MoneyLabel() const { return moneyLabel; }
    QLabel* TimeLabel() const { return timeLabel; }
    bool ShowsNewOrderIcon() const { return newOrderIcon; }
    int HighlightAlpha() const { return alpha; }

public slots:
    void OpenOrderDetail();
    void AnimateNewOrder();

signals:
    void OpenRequested(COrder* order);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void CreateLabels();
    void SetHighlight(int newAlpha);
    void ShowIcon(bool newOrder);

    static COrderItem* selectedItem;

    QPalette* bgPalette = nullptr;
    QLabel* iconLabel = nullptr;
    QLabel* idLabel = nullptr;
    QLabel* moneyLabel = nullptr;
    QLabel* timeLabel = nullptr;
    COrder* order;
    bool flashing = false;
    QTimer* flashTimer = nullptr;

    // What the icon shows, kept while the labels do not exist yet.
    bool newOrderIcon = false;
    bool iconVisible = true;
    bool labelsRequested = false;
    int alpha = 0;
};
