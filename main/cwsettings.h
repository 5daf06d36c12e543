#pragma once

#include <QPointer>

#include "ui/cwidget.h"

class CMsgBox;
class CSettings;
class QCheckBox;
class QComboBox;

// The settings of the logged-in account: how often an unopened new order rings again, a tray
// message for new orders while the main window is out of sight, and automatic receipts. Every
// change is saved and applies at once; there is nothing to confirm. A change that could not be saved
// is said in a box that stays until the next change.
class CWSettings : public CWidget
{
    Q_OBJECT
public:
    explicit CWSettings(CSettings* settings, QWidget* parent = nullptr,
                        Qt::WindowFlags f = Qt::WindowFlags());

    QComboBox* ReminderBox() const { return reminderBox; }
    QCheckBox* TrayNoticeBox() const { return trayNoticeBox; }
    QCheckBox* AutoPrintBox() const { return autoPrintBox; }
    CMsgBox* MsgBox() const { return msgBox; } // says when a change could not be saved

public slots:
    void ShowValues(); // the store's values, e.g. after it changed elsewhere

private:
    QPointer<CSettings> settings;
    QComboBox* reminderBox = nullptr;
    QCheckBox* trayNoticeBox = nullptr;
    QCheckBox* autoPrintBox = nullptr;
    CMsgBox* msgBox = nullptr;
};
