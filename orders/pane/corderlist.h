#pragma once

#include <QHash>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

class COrderItem;

// One status group of the order pane: a 28-pixel header (fold icon, status name, number of rows)
// with the group's rows stacked under it while the group is unfolded. Rows come and go in bursts
// (a reply may bring thousands): the group lays out once after the burst and then tells its new
// height.
class COrderList : public QWidget
{
    Q_OBJECT
public:
    COrderList(QString title, QWidget* parent);
    ~COrderList() override;

    void SetState(int value) { state = value; }
    int GetState() const { return state; }

    void AddItem(COrderItem* item, int flag);
    void PrependItem(COrderItem* item);
    // The row leaves the group (the caller keeps it, to move or delete it).
    bool TakeItem(COrderItem* item);
    COrderItem* FindItem(qint64 id) const { return byId.value(id); }

    bool IsExpanded() const { return expanded; }
    int Count() const { return items.size(); }
    const QList<QPointer<COrderItem>>& Items() const { return items; }
    QLabel* FoldIcon() { return &foldIcon; }
    QLabel* GroupTitle() { return &groupTitle; }
    QLabel* GroupCount() { return &groupCount; }

    // Lays out now what a burst of changes left for later.
    void FlushLayout();

public slots:
    void Fold();

signals:
    void HeightChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;

private:
    void Layout();
    void LayoutNow();
    void Insert(COrderItem* item, bool atTop);

    QLabel foldIcon;
    QLabel groupTitle;
    QLabel groupCount;
    bool expanded = false;
    QList<QPointer<COrderItem>> items;
    QHash<qint64, COrderItem*> byId;
    int state = -1;
    int headerHeight = 28;
    bool layoutPending = false;
    bool foldedIconShown = true;
};
