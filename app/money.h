#pragma once

#include <QString>

// Money in yuan. Kept in double precision everywhere: a float loses the fen of any amount above
// about 100 000 yuan (a balance of 1234567.89 would read 1234567.87).
using Money = double;

// Money as every window shows it: two decimals, cut (not rounded) from the three-decimal text,
// so 0.125 reads 0.12 and 2.9996 reads 3.00. An amount that is not a finite number reads 0.00.
QString FormatMoney(Money amount);
