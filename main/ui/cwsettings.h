#pragma once

#include <QList>
#include <QPointer>

#include "ui/cwidget.h"

class CMsgBox;
class CReceiptPrinter;
class CSettings;
class QCheckBox;
class QComboBox;
class QPushButton;
struct PrintOutcome;

// The settings of the logged-in account: how often an unopened new order rings again, a tray
// message for new orders while the main window is out of sight, automatic receipts, and the receipt
// printer with its paper and copies, with a test page to try them. Every change is saved and applies
// at once; there is nothing to confirm. A change that could not be saved is said in a box that stays
// until the next change.
class CWSettings : public CWidget
{
    Q_OBJECT
public:
    // `receipts` lists the printers and prints the test page; without it the printer stays as saved.
    explicit CWSettings(CSettings* settings, CReceiptPrinter* receipts = nullptr, QWidget* parent = nullptr,
                        Qt::WindowFlags f = Qt::WindowFlags());

    // Whether the printer list has come (it is asked of the print service on a thread of its own).
    // The widgets are found by their object names: "cboxReminder", "chkTrayNotice", "chkAutoPrint",
    // "cboxPrinter", "cboxPaper", "cboxCopies", "pbtnTestPage"; the message box is the window's CMsgBox.
    bool PrintersListed() const { return printersListed; }

public slots:
    void ShowValues(); // the store's values, e.g. after it changed elsewhere

private:
    void ListPrinters(bool reached, const QStringList& names);
    void TestPageFinished(int ticket, const PrintOutcome& outcome);

    QPointer<CSettings> settings;
    QPointer<CReceiptPrinter> receipts;
    QComboBox* reminderBox = nullptr;
    QCheckBox* trayNoticeBox = nullptr;
    QCheckBox* autoPrintBox = nullptr;
    QComboBox* printerBox = nullptr;
    QComboBox* paperBox = nullptr;
    QComboBox* copiesBox = nullptr;
    QPushButton* testPageButton = nullptr;
    CMsgBox* msgBox = nullptr;
    QStringList systemPrinters; // as the spooler last listed them
    bool printersListed = false;
    QList<int> testPages;       // on their way
};
