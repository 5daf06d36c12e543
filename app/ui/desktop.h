#pragma once

#include <QString>
#include <QUrl>

class QPrinter;

// The few services of the desktop that the client asks for: the browser, a detached process and a
// printer for receipts. Kept in one place so a test can watch what was asked for and so that a
// machine without a printer still gets its receipt (as a PDF file). Whoever prints may be given
// printers of its own instead (CReceiptPrinter, for tests).
namespace Desktop {

// Opens a web page in the user's browser; false when no browser took it.
bool OpenUrl(const QUrl& url);

// Starts a program on its own; the client keeps running whatever it does.
bool StartDetached(const QString& program);
// The program the last successful StartDetached started (empty before any), so a test can tell
// what the client handed over without watching the process table.
QString LastStarted();

// Where a receipt goes when the computer has no printer at all: a PDF file of its own in the
// receipts folder of the data directory (see ReceiptFolder()). The caller owns it.
QPrinter* CreateReceiptPrinter();
QString ReceiptFolder();

// Without TZ in the environment the C library looks at /etc/localtime again for every local time
// it converts: a full list of 10 000 orders spent 70 ms on that alone. Naming the system's zone
// file once (when TZ is unset, on Linux) keeps the same zone and reads it once. Call before the
// first local time is made.
void PinTimeZone();

} // namespace Desktop
