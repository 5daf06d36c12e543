#pragma once

#include <QHash>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

class COrderItem;

// One status group of the order pane: a 28-pixel header (fold icon, status name, number of rows)
// with the group's rows stacked under it while the group is unfolded.
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
    COrderItem* FindItem(qint64 id) const;

    bool IsExpanded() const { return expanded; }
    int Count() const { return items.size(); }
    const QList<QPointer<COrderItem>>& Items() const { return items; }
    QLabel* FoldIcon() { return &foldIcon; }
    QLabel* GroupTitle() { return &groupTitle; }
    QLabel* GroupCount() { return &groupCount; }

    // Lays out now if a layout was held back while the order pane handled a reply.
    void FlushLayout();
    // A row that is being destroyed leaves the group.
    void ForgetItem(COrderItem* item);

public slots:
    void Fold();
    void Update(COrderItem* pOrderItem, int state);
    void Update(COrderItem* pOrderItem);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;

private:
    void Layout();
    void LayoutNow();
    void Insert(COrderItem* item, bool atTop);
    bool Remove(COrderItem* item);
    void IndexAdd(COrderItem* item, bool atTop);
    void IndexRemove(COrderItem* item);

    QLabel foldIcon;
    QLabel groupTitle;
    QLabel groupCount;
    bool expanded = false;
    QList<QPointer<COrderItem>> items;
    int state = -1;
    int headerHeight = 28;

    // FindItem answers from here: per order id, the topmost row with that id and how many rows
    // carry it, so a lookup does not walk thousands of rows.
    struct IdEntry
    {
        COrderItem* first = nullptr;
        int count = 0;
    };
    QHash<qint64, IdEntry> byId;
    bool layoutPending = false;
    bool foldedIconShown = true;
};
