#pragma once

#include "automation/cells/SerialDate.h"

#include <QString>

namespace gm {

// What a spreadsheet stores when text is typed into a cell in an en-US session, and the number
// format it gives the cell with it.
struct TypedEntry
{
    enum class Type { Empty, Number, Text, Boolean, Error, Formula };
    Type type = Type::Empty;
    double number = 0; // Number; Boolean as 0 or 1
    QString text; // Text; the error code for Error; the formula without its leading "="
    int numberFormatId = -1; // the built-in format the entry sets, or -1 to keep the cell's
    bool quotePrefix = false; // typed with a leading apostrophe, which is not part of the text
};

struct EntryContext
{
    DateSystem system = DateSystem::Date1900;
    int currentYear = 2000; // the year of entries such as "Jan 2" or "3/4"
    bool cellIsText = false; // the cell is formatted as text: every entry stays text
};

// Reads typed text as a spreadsheet's en-US input parser does:
// - "" empties the cell; a leading apostrophe makes the rest text; "=..." is a formula;
// - TRUE/FALSE (any case) and the error codes;
// - numbers with sign or parentheses, "$", thousands commas in groups of three, decimals,
//   exponents, "%", and mixed fractions ("1 1/2"); digits beyond the 15th significant one are
//   dropped, as the spreadsheet keeps no more;
// - dates (m/d/y, y/m/d, month names, day and month of the current year), times (h:mm, h:mm:ss,
//   AM/PM, hours past 24) and a date followed by a time;
// - anything else is text, kept as typed.
TypedEntry parseTypedEntry(const QString &text, const EntryContext &context);

} // namespace gm
