#pragma once

#include <QLabel>
#include <QTableWidget>

#include "confirm/ui/cwservertable.h"
#include "ui/msgbox.h"

// The parts of a window as a test reaches them: by the object names the window gives them.

template <class Part = QWidget> Part* PartOf(const QObject* window, const char* name)
{
    return window ? window->findChild<Part*>(QLatin1String(name)) : nullptr;
}

// A window's message box (CMsgBox) and the label it shows its message in; null before its first
// message.
inline CMsgBox* MessageBoxOf(const QObject* window)
{
    return window ? window->findChild<CMsgBox*>() : nullptr;
}

inline QLabel* BoxLabel(const QObject* window)
{
    const CMsgBox* box = MessageBoxOf(window);
    return box ? box->MsgBoxLabel() : nullptr;
}

// What a window's message box says while it shows; empty otherwise.
inline QString BoxText(const QObject* window)
{
    const QLabel* label = BoxLabel(window);
    return label && label->isVisible() ? label->text() : QString();
}

inline QTableWidget* ConfirmTable(const CWServerTable* window)
{
    return PartOf<QTableWidget>(window, "confirmTable");
}

// The cell of the confirmation table's column `column` in an order's row; null when the order has
// no row there.
inline QTableWidgetItem* ConfirmTableCell(const CWServerTable* window, qint64 id,
                                          int column = CWServerTable::ConfirmColumn)
{
    QTableWidget* table = ConfirmTable(window);
    if (!table)
        return nullptr;
    for (QTableWidgetItem* item : table->findItems(QString::number(id), Qt::MatchExactly))
        if (item->column() == CWServerTable::IdColumn)
            return table->item(item->row(), column);
    return nullptr;
}

// The labels of one kind in a detail window's item rows ("nameLabel", "pictureLabel", "countLabel"),
// top row first.
template <class Label = QLabel> QList<Label*> ItemLabels(const QObject* window, const char* name)
{
    const QWidget* items = PartOf<QWidget>(window, "itemsContainer");
    return items ? items->findChildren<Label*>(QLatin1String(name)) : QList<Label*>();
}
