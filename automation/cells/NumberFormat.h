#pragma once

#include "automation/cells/SerialDate.h"

#include <QHash>
#include <QString>

#include <array>
#include <memory>
#include <vector>

namespace gm {

// A cell's value as a workbook stores it.
struct CellValue
{
    enum class Type { Empty, Number, Text, Boolean, Error };
    Type type = Type::Empty;
    double number = 0; // Number; Boolean as 0 or 1
    QString text; // Text; the error code (such as "#N/A") for Error

    static CellValue ofNumber(double value) { return {Type::Number, value, {}}; }
    static CellValue ofText(const QString &value) { return {Type::Text, 0, value}; }
    static CellValue ofBoolean(bool value) { return {Type::Boolean, value ? 1.0 : 0.0, {}}; }
    static CellValue ofError(const QString &code) { return {Type::Error, 0, code}; }
};

// A number format code, parsed once, that renders values as the text a spreadsheet shows in an
// en-US session: up to four sections (positive; negative; zero; text) or conditional sections,
// digit placeholders with grouping, scaling commas, percent, scientific and fraction layouts,
// dates and times in both date systems, elapsed times, text sections, quoted and escaped
// literals. Colours are dropped; locale tags only contribute their currency text; [$-F800] and
// [$-F400] become the en-US long date and long time.
//
// Numbers are first rounded to 15 significant decimal digits and then to the digits the format
// shows, halves away from zero, so 1.005 with "0.00" shows 1.01 although the stored double lies
// just below the half.
//
// Column width is unknown here, so every value renders as in a column wide enough for it: General
// keeps its 11-character form instead of shortening, "*" fills are dropped and "_" gaps give one
// space. A date or time that a date format cannot show (a negative serial in the 1900 system, or
// a day after 9999-12-31) renders as InvalidDateText, a fixed run of five "#" (a cell fills its
// whole width with them, which cannot be known here).
// In the 1904 system a negative time renders with a leading "-".
class NumberFormat
{
public:
    explicit NumberFormat(const QString &code);
    ~NumberFormat();
    NumberFormat(const NumberFormat &) = delete;
    NumberFormat &operator=(const NumberFormat &) = delete;

    QString format(const CellValue &value, DateSystem system) const;
    QString formatNumber(double value, DateSystem system) const;
    QString formatText(const QString &text) const;

    // True when numbers render as a date or a time (the first section holds date or time parts).
    bool isDateTime() const;
    // True when text renders as it is (no section formats text).
    bool showsTextUnchanged() const { return m_textSection < 0; }

    static const QString InvalidDateText;

    struct Section;

private:
    std::vector<Section> m_sections;
    int m_numberSections = 0; // sections used for numbers (the fourth is only for text)
    int m_textSection = -1; // the section that renders text, or -1 to show text unchanged
    bool m_conditional = false;
};

// The en-US code of a built-in number format id (0 to 163). The CJK date ids 27-31 and 50-58
// render as the short date, as an en-US session shows them; 32-36 keep their Chinese time and
// month codes; Thai ids follow their Latin equivalents; ids without a format render as General.
QString builtInFormatCode(int id);

// Parsed formats by code and by built-in id, each parsed once. Not thread-safe: one cache per
// thread.
class NumberFormatCache
{
public:
    NumberFormatCache();
    ~NumberFormatCache();

    const NumberFormat &format(const QString &code);
    const NumberFormat &builtIn(int id);

private:
    QHash<QString, std::shared_ptr<const NumberFormat>> m_byCode;
    std::array<std::shared_ptr<const NumberFormat>, 164> m_builtIn;
};

} // namespace gm
