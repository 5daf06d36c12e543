#pragma once

#include <QByteArray>
#include <QString>

#include "income/incomeentry.h"

// The income list as a CSV file for the shop's books, in the form Excel and LibreOffice open
// without asking: UTF-8 with a byte order mark (or Excel misreads the Chinese headers), comma
// separated, CRLF line ends; columns time, order number and amount.
namespace IncomeCsv {

// One field, quoted when it holds a comma, a quote or a line break. A field that a spreadsheet
// would take for a formula (leading = + - @, tab or carriage return) gets a leading apostrophe as
// well, so opening the file never runs anything; a plain number such as "-5.00" stays a number.
QString Field(const QString& text);

// The whole file: header line, then one line per order in the given order. Amounts have two
// decimals and no sign for income (FormatMoney), so the sheet reads them as numbers.
QByteArray Write(const IncomeEntries& rows);

// Writes the file atomically: the old file (if any) stays as it was unless the whole new one got
// to the disk. On failure, *error (when given) says why in the user's words.
bool Save(const QString& path, const QByteArray& data, QString* error);

} // namespace IncomeCsv
