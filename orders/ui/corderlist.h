#pragma once

#include <QHash>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

class COrder;
class COrderItem;

// One status group of the order pane: a 28-pixel header (fold icon, status name, number of orders)
// with the group's rows stacked under it while the group is unfolded. The group keeps its orders
// in order, top to bottom; an order gets its row widget only when the row is first needed (the
// group unfolds, someone asks for the row, the row must blink), so thousands of orders in folded
// groups cost no widgets. Orders come and go in bursts (a reply may bring thousands): the group
// lays out once after the burst and then tells its new height. The header's labels are "plblFold",
// "plblGroupTitle" and "plblGroupCount" ("..." while the group has never been unfolded).
class COrderList : public QWidget
{
    Q_OBJECT
public:
    COrderList(QString title, QWidget* parent);
    ~COrderList() override;

    void SetState(int value) { state = value; }
    int GetState() const { return state; }

    // `row`: the row the order already has in another group, which moves here with it.
    void AddOrder(COrder* order, bool atTop, COrderItem* row = nullptr);
    // The order leaves the group; its row, if it has one, goes to the caller (to move or delete).
    COrderItem* TakeOrder(qint64 id);
    bool Contains(qint64 id) const { return rowOf.contains(id); }
    // The order's row, made now if it has none yet; null when the order is not in the group.
    COrderItem* FindItem(qint64 id);
    // The order's row if it has been made; never makes one.
    COrderItem* MadeItem(qint64 id) const { return rowOf.value(id); }
    // Every row, top to bottom (made now where needed).
    QList<QPointer<COrderItem>> Items();
    QList<qint64> Ids() const;

    bool IsExpanded() const { return expanded; }
    int Count() const { return orders.size(); }

    // Lays out now what a burst of changes left for later.
    void FlushLayout();

public slots:
    void Fold();

signals:
    void HeightChanged();
    // A row was made for one of the group's orders; whoever holds the group wires it.
    void RowMade(COrderItem* row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;

private:
    void Layout();
    void LayoutNow();
    COrderItem* MakeRow(COrder* order);

    QLabel foldIcon;
    QLabel groupTitle;
    QLabel groupCount;
    bool expanded = false;
    QList<COrder*> orders;                // top to bottom
    QHash<qint64, COrderItem*> rowOf;     // every order of the group; null until its row is made
    int state = -1;
    int headerHeight = 28;
    bool layoutPending = false;
    bool foldedIconShown = true;
};
