#include "orders/ui/corderlist.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>

#include "app/ui/resources.h"
#include "orders/corder.h"
#include "orders/ui/corderitem.h"

namespace {

// One sheet for the whole group: the rows' labels take their looks from it by object name
// instead of each parsing sheets of its own.
const QString& groupStyle()
{
    static const QString style = QStringLiteral(
        "QWidget{ background: transparent;padding: 0 0px 0 0px; }"
        "QLabel#orderIcon{ background: transparent; }"
        "QLabel#orderId{ background: transparent; border-bottom: none;margin: 0; }"
        "QLabel#orderMoney, QLabel#orderTime{ background: transparent; margin-top: 0; color: #777; }"
        "QToolTip{background: #fff; color: #333;border: 1px solid #eee;font-size: 13px; }");
    return style;
}

// setUpdatesEnabled(true) would ask every row and label for a repaint of its own.
void EnableUpdatesQuietly(QWidget* widget)
{
    widget->setAttribute(Qt::WA_UpdatesDisabled, false);
    for (QObject* child : widget->children())
        if (auto* childWidget = qobject_cast<QWidget*>(child); childWidget && !childWidget->isWindow())
            EnableUpdatesQuietly(childWidget);
}

int textWidth(QLabel& label)
{
    label.ensurePolished();
    return label.fontMetrics().horizontalAdvance(label.text());
}

} // namespace

COrderList::COrderList(QString title, QWidget* parent)
    : QWidget(parent), foldIcon(this), groupTitle(this), groupCount(this)
{
    foldIcon.setObjectName(QStringLiteral("plblFold"));
    groupTitle.setObjectName(QStringLiteral("plblGroupTitle"));
    groupCount.setObjectName(QStringLiteral("plblGroupCount"));
    foldIcon.setPixmap(TarvikPixmap(QStringLiteral(":/img/img/fold.png")));
    foldIcon.setScaledContents(true);
    foldIcon.setGeometry(6, 8, 12, 12);

    groupTitle.setText(title);
    groupTitle.setStyleSheet(QStringLiteral("font-size: 14px;"));
    groupTitle.setGeometry(24, 0, textWidth(groupTitle) + 10, headerHeight);

    groupCount.setText(QStringLiteral("..."));
    groupCount.setStyleSheet(QStringLiteral("font-size: 14px;"));
    groupCount.setGeometry(groupTitle.x() + groupTitle.width(), 0, textWidth(groupCount), headerHeight);

    setStyleSheet(groupStyle());
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(parent ? parent->width() : 50, headerHeight);
}

COrderList::~COrderList()
{
    // The rows go with the QWidget base.
    orders.clear();
    rowOf.clear();
}

COrderItem* COrderList::MakeRow(COrder* order)
{
    auto* row = new COrderItem(order, this);
    rowOf.insert(order->GetId(), row);
    emit RowMade(row);
    return row;
}

void COrderList::AddOrder(COrder* order, bool atTop, COrderItem* row)
{
    if (!order || rowOf.contains(order->GetId()))
        return;
    if (atTop)
        orders.prepend(order);
    else
        orders.append(order);
    if (row && row->parentWidget() != this)
        row->setParent(this);
    rowOf.insert(order->GetId(), row);
    Layout();
}

COrderItem* COrderList::TakeOrder(qint64 id)
{
    const auto found = rowOf.constFind(id);
    if (found == rowOf.constEnd())
        return nullptr;
    COrderItem* row = found.value();
    rowOf.erase(found);
    for (int i = 0; i < orders.size(); ++i)
        if (orders.at(i)->GetId() == id) {
            orders.removeAt(i);
            break;
        }
    if (row)
        row->hide();
    Layout();
    return row;
}

COrderItem* COrderList::FindItem(qint64 id)
{
    const auto found = rowOf.constFind(id);
    if (found == rowOf.constEnd())
        return nullptr;
    if (found.value())
        return found.value();
    for (COrder* order : qAsConst(orders))
        if (order->GetId() == id)
            return MakeRow(order);
    return nullptr;
}

QList<QPointer<COrderItem>> COrderList::Items()
{
    QList<QPointer<COrderItem>> rows;
    rows.reserve(orders.size());
    for (COrder* order : qAsConst(orders)) {
        COrderItem* row = rowOf.value(order->GetId());
        rows.append(row ? row : MakeRow(order));
    }
    return rows;
}

QList<qint64> COrderList::Ids() const
{
    QList<qint64> ids;
    ids.reserve(orders.size());
    for (const COrder* order : orders)
        ids.append(order->GetId());
    return ids;
}

void COrderList::Fold()
{
    expanded = !expanded;
    LayoutNow();
}

void COrderList::Layout()
{
    if (layoutPending)
        return;
    layoutPending = true;
    QMetaObject::invokeMethod(this, &COrderList::FlushLayout, Qt::QueuedConnection);
}

void COrderList::FlushLayout()
{
    if (layoutPending)
        LayoutNow();
}

void COrderList::LayoutNow()
{
    layoutPending = false;
    // Every widget that appears asks to be repainted on its own, and Qt weighs each such request
    // against all the widget's siblings: thousands of rows appearing one by one take seconds.
    // With updates off they appear silently, and the list is repainted once.
    const bool quiet = expanded && isVisible() && updatesEnabled();
    if (quiet)
        setUpdatesEnabled(false);
    int height = headerHeight;
    for (COrder* order : qAsConst(orders)) {
        COrderItem* row = rowOf.value(order->GetId());
        if (expanded) {
            if (!row)
                row = MakeRow(order);
            row->move(row->x(), height);
            row->show();
            height += row->height();
        } else if (row) {
            row->hide();
        }
    }
    resize(width(), height);
    if (quiet) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
        EnableUpdatesQuietly(this);
        update();
    }

    static const QString countStyle = QStringLiteral("font-size: 11px;");
    if (groupCount.styleSheet() != countStyle)
        groupCount.setStyleSheet(countStyle);
    groupCount.setText(orders.isEmpty() ? QString() : QString::number(orders.size()));
    groupCount.setGeometry(groupTitle.x() + groupTitle.width(), 0, textWidth(groupCount), headerHeight);

    if (foldedIconShown == expanded) {
        foldedIconShown = !expanded;
        foldIcon.setPixmap(TarvikPixmap(expanded ? QStringLiteral(":/img/img/unfold.png")
                                            : QStringLiteral(":/img/img/fold.png")));
    }
    emit HeightChanged();
}

void COrderList::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton) {
        Fold();
    } else if (event->button() == Qt::RightButton) {
        QMenu menu;
        menu.setStyleSheet(
            QStringLiteral("QMenu{ background: #fff; color: #000; border: none; }"
                           "QMenu::item:selected{ background: rgba(255, 85, 0, 0.5); color: #fff; }"));
        QAction* action = menu.addAction(tr("显示或隐藏"));
        connect(action, &QAction::triggered, this, &COrderList::Fold);
        menu.exec(event->globalPos());
    }
}

void COrderList::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void COrderList::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void COrderList::enterEvent(QEvent*)
{
    setCursor(Qt::ArrowCursor);
}
