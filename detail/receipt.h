#pragma once

#include <QFont>

#include "detail/autoprint.h"

class COrder;
class QPrinter;

// The receipt of an order, painted line by line onto a printer's pages: the order number and
// time, the items with price and quantity, the totals and the saving, the buyer's contact and
// message, and a line of thanks.
namespace Receipt {

// The receipt font: 宋体 at 12 points, with CJK fonts to fall back on where it is not installed.
QFont Font();

// Paints the whole receipt, going on to a new page whenever the next line would pass the page's
// bottom, so that a long order loses nothing. False when the printer could not be opened.
bool Paint(QPrinter* printer, const COrder& order);

// Prints the receipt on the default printer, or where there is none as a PDF in the receipts
// folder, as the detail window's print button does; for the automatic printing of new orders.
CAutoPrint::Outcome PrintOnDefault(const COrder& order);

} // namespace Receipt
