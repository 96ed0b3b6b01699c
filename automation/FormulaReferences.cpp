#include "automation/FormulaReferences.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace gm::formula {

namespace {

struct LineEnd
{
    bool hasColumn = false;
    bool hasRow = false;
    qint64 column = 0;
    qint64 row = 0;
    bool columnAbsolute = false;
    bool rowAbsolute = false;
};

std::optional<LineEnd> parseEnd(QStringView text)
{
    LineEnd end;
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i + 1 < n && text[i] == u'$' && !(text[i + 1] >= u'0' && text[i + 1] <= u'9')) {
        end.columnAbsolute = true;
        ++i;
    }
    const qsizetype lettersStart = i;
    while (i < n && i - lettersStart < 4 && text[i].isLetter() && text[i].unicode() < 128)
        end.column = end.column * 26 + (text[i++].toUpper().unicode() - u'A' + 1);
    end.hasColumn = i > lettersStart;
    if (i - lettersStart > 3 || end.column > kGridColumns)
        return std::nullopt;
    if (i < n && text[i] == u'$') {
        end.rowAbsolute = true;
        ++i;
    }
    const qsizetype digitsStart = i;
    while (i < n && i - digitsStart < 8 && text[i] >= u'0' && text[i] <= u'9')
        end.row = end.row * 10 + (text[i++].unicode() - u'0');
    end.hasRow = i > digitsStart;
    if (i != n || (end.hasRow && (end.row < 1 || end.row > kGridRows)))
        return std::nullopt;
    if ((end.columnAbsolute && !end.hasColumn) || (end.rowAbsolute && !end.hasRow) || (!end.hasColumn && !end.hasRow))
        return std::nullopt;
    return end;
}

QString columnLetters(qint64 column)
{
    QString letters;
    while (column > 0) {
        const qint64 digit = (column - 1) % 26;
        letters.prepend(QChar(char16_t(u'A' + digit)));
        column = (column - 1) / 26;
    }
    return letters;
}

QString columnText(qint64 column, bool absolute)
{
    return (absolute ? QStringLiteral("$") : QString()) + columnLetters(column);
}

QString rowText(qint64 row, bool absolute)
{
    return (absolute ? QStringLiteral("$") : QString()) + QString::number(row);
}

} // namespace

std::optional<Area> parseArea(QStringView text)
{
    const qsizetype colon = text.indexOf(u':');
    const std::optional<LineEnd> first = parseEnd(colon < 0 ? text : text.left(colon));
    if (!first)
        return std::nullopt;
    Area area;
    LineEnd second = *first;
    if (colon < 0) {
        if (!first->hasColumn || !first->hasRow)
            return std::nullopt;
        area.kind = Area::Kind::Cell;
    } else {
        const std::optional<LineEnd> other = parseEnd(text.mid(colon + 1));
        if (!other || other->hasColumn != first->hasColumn || other->hasRow != first->hasRow)
            return std::nullopt;
        second = *other;
        area.kind = first->hasColumn && first->hasRow ? Area::Kind::Range
            : first->hasColumn                        ? Area::Kind::Columns
                                                      : Area::Kind::Rows;
    }
    area.firstRow = area.kind == Area::Kind::Columns ? 1 : first->row;
    area.lastRow = area.kind == Area::Kind::Columns ? kGridRows : second.row;
    area.firstColumn = area.kind == Area::Kind::Rows ? 1 : first->column;
    area.lastColumn = area.kind == Area::Kind::Rows ? kGridColumns : second.column;
    area.firstRowAbsolute = first->rowAbsolute;
    area.lastRowAbsolute = second.rowAbsolute;
    area.firstColumnAbsolute = first->columnAbsolute;
    area.lastColumnAbsolute = second.columnAbsolute;
    if (area.firstRow > area.lastRow) {
        std::swap(area.firstRow, area.lastRow);
        std::swap(area.firstRowAbsolute, area.lastRowAbsolute);
    }
    if (area.firstColumn > area.lastColumn) {
        std::swap(area.firstColumn, area.lastColumn);
        std::swap(area.firstColumnAbsolute, area.lastColumnAbsolute);
    }
    return area;
}

QString areaText(const Area &area)
{
    switch (area.kind) {
    case Area::Kind::Cell:
        return columnText(area.firstColumn, area.firstColumnAbsolute) + rowText(area.firstRow, area.firstRowAbsolute);
    case Area::Kind::Range:
        return columnText(area.firstColumn, area.firstColumnAbsolute) + rowText(area.firstRow, area.firstRowAbsolute) + u':'
            + columnText(area.lastColumn, area.lastColumnAbsolute) + rowText(area.lastRow, area.lastRowAbsolute);
    case Area::Kind::Columns:
        return columnText(area.firstColumn, area.firstColumnAbsolute) + u':'
            + columnText(area.lastColumn, area.lastColumnAbsolute);
    case Area::Kind::Rows:
        return rowText(area.firstRow, area.firstRowAbsolute) + u':' + rowText(area.lastRow, area.lastRowAbsolute);
    }
    return {};
}

std::optional<std::pair<qint64, qint64>> movedRun(qint64 a, qint64 b, const LineDeletion &deletion)
{
    const qint64 n = deletion.count();
    if (b < deletion.first)
        return std::pair{a, b};
    if (a > deletion.last)
        return std::pair{a - n, b - n};
    if (a >= deletion.first && b <= deletion.last)
        return std::nullopt;
    if (a < deletion.first)
        return std::pair{a, b > deletion.last ? b - n : deletion.first - 1};
    return std::pair{deletion.first, b - n};
}

std::optional<Area> movedArea(const Area &area, const LineDeletion &deletion)
{
    if (deletion.columns ? area.kind == Area::Kind::Rows : area.kind == Area::Kind::Columns)
        return area;
    Area moved = area;
    qint64 &first = deletion.columns ? moved.firstColumn : moved.firstRow;
    qint64 &last = deletion.columns ? moved.lastColumn : moved.lastRow;
    const std::optional<std::pair<qint64, qint64>> run = movedRun(first, last, deletion);
    if (!run)
        return std::nullopt;
    first = run->first;
    last = run->second;
    return moved;
}

namespace {

constexpr std::array errorLiterals{
    u"#REF!", u"#N/A", u"#NAME?", u"#DIV/0!", u"#VALUE!", u"#NUM!", u"#NULL!", u"#SPILL!", u"#CALC!", u"#GETTING_DATA"};

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'.'
        || u == u'\\' || u == u'$' || u >= 0x80;
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads a quoted name starting at the opening "'"; returns the index after the closing one,
// or -1 when the quote is not closed.
qsizetype readQuoted(const QString &text, qsizetype at, QString *content)
{
    content->clear();
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] != u'\'') {
            content->append(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == u'\'') {
            content->append(u'\'');
            ++i;
            continue;
        }
        return i + 1;
    }
    return -1;
}

qsizetype readName(const QString &text, qsizetype at)
{
    qsizetype i = at;
    while (i < text.size() && isNameChar(text[i]))
        ++i;
    return i;
}

// Skips a bracket group ([#Headers], [[#This Row],[Col]], [Col1]:[Col3] is two groups);
// inside, "'" escapes the next character. Returns the index after the closing bracket.
qsizetype skipBrackets(const QString &text, qsizetype at)
{
    int depth = 0;
    for (qsizetype i = at; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\'') {
            ++i;
        } else if (c == u'[') {
            ++depth;
        } else if (c == u']') {
            if (--depth == 0)
                return i + 1;
        }
    }
    return text.size();
}

qsizetype skipString(const QString &text, qsizetype at)
{
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] != u'"')
            continue;
        if (i + 1 < text.size() && text[i + 1] == u'"') {
            ++i;
            continue;
        }
        return i + 1;
    }
    return text.size();
}

// Fills first/last from the content of a quoted qualifier ("Sheet", "A:B", "[1]Sheet").
void splitQuoted(const QString &content, SheetPrefix *prefix)
{
    if (content.startsWith(u'[')) {
        prefix->external = true;
        prefix->first = content.mid(content.indexOf(u']') + 1);
        return;
    }
    // Sheet names cannot hold ":", so a colon separates the ends of a 3-D span.
    const qsizetype colon = content.indexOf(u':');
    prefix->first = colon < 0 ? content : content.left(colon);
    prefix->last = colon < 0 ? QString() : content.mid(colon + 1);
}

// The length of the reference that starts at `at`, right after a qualifier: #REF!, or a
// name-like run (A1, $A$1, A:A, 1:5 in two runs, a defined name) with an optional ":run" that
// is not itself qualified.
qsizetype operandLength(const QString &text, qsizetype at)
{
    static const QString ref = QStringLiteral("#REF!");
    if (QStringView(text).mid(at).startsWith(ref, Qt::CaseInsensitive))
        return ref.size();
    const qsizetype first = readName(text, at);
    if (first == at || first + 1 >= text.size() || text[first] != u':' || !isNameChar(text[first + 1]))
        return first - at;
    const qsizetype second = readName(text, first + 1);
    if (second < text.size() && text[second] == u'!')
        return first - at; // Sheet1!A1:Sheet1!B5: the second end has its own qualifier
    return second - at;
}

} // namespace

namespace {

// A reference to cells in a formula: its operand, and the qualifier before it (an index into
// the qualifiers) or -1 when it has none.
struct ReferenceToken
{
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype prefix = -1;
};

// Where an unqualified reference that starts at `start`, with its first name-like run ending
// at `end`, ends: after "A1", "A1:B2", "A:C" or "$2:$5"; -1 when the text there is no
// reference (a defined name, a function such as LOG10(, a lone column letter).
qsizetype referenceEnd(const QString &text, qsizetype start, qsizetype end)
{
    const qsizetype n = text.size();
    auto opensCall = [&](qsizetype at) {
        while (at < n && text[at] == u' ')
            ++at;
        return at < n && (text[at] == u'(' || text[at] == u'!' || text[at] == u'[');
    };
    if (end + 1 < n && text[end] == u':' && isNameChar(text[end + 1])) {
        const qsizetype second = readName(text, end + 1);
        if (!opensCall(second) && parseArea(QStringView(text).mid(start, second - start)))
            return second;
    }
    if (opensCall(end))
        return -1;
    const std::optional<Area> area = parseArea(QStringView(text).mid(start, end - start));
    return area && area->kind == Area::Kind::Cell ? end : -1;
}

// The tokeniser: every sheet qualifier, and where `tables` is given, every table name that
// opens a structured reference (Table1[Column], Table1[[#Headers],[A]]), as start and length;
// where `references` is given, every reference to cells.
std::vector<SheetPrefix> scan(const QString &text, std::vector<std::pair<qsizetype, qsizetype>> *tables,
    std::vector<ReferenceToken> *references = nullptr, QStringList *names = nullptr)
{
    std::vector<SheetPrefix> result;
    const qsizetype n = text.size();
    bool afterPrefix = false; // the next name is the reference a qualifier applies to
    qsizetype i = 0;
    // Records a qualifier ending at `end` and returns where reading goes on: past its operand
    // when that is a reference to cells, so that the second end of Sheet1!A1:B5 is never read
    // again as an unqualified reference of its own.
    auto addPrefix = [&](SheetPrefix prefix, qsizetype start, qsizetype end) {
        prefix.start = start;
        prefix.length = end - start;
        prefix.operandLength = operandLength(text, end);
        const bool area = prefix.operandLength > 0 && parseArea(QStringView(text).mid(end, prefix.operandLength));
        if (references && area)
            references->push_back({end, prefix.operandLength, qsizetype(result.size())});
        const qsizetype next = area ? end + prefix.operandLength : end;
        result.push_back(std::move(prefix));
        afterPrefix = !area;
        return next;
    };
    while (i < n) {
        const QChar c = text[i];
        if (c == u'"') {
            i = skipString(text, i);
            afterPrefix = false;
        } else if (c == u'{') {
            // Array constants hold numbers, strings and errors, never references.
            while (i < n && text[i] != u'}')
                i = text[i] == u'"' ? skipString(text, i) : i + 1;
            ++i;
            afterPrefix = false;
        } else if (c == u'#') {
            qsizetype length = 0;
            for (const char16_t *literal : errorLiterals) {
                const QString error = QString::fromUtf16(literal);
                if (QStringView(text).mid(i).startsWith(error, Qt::CaseInsensitive)) {
                    length = error.size();
                    break;
                }
            }
            if (length == 0) {
                // An error spelling of another program (#NAME!, written for a function it
                // does not know): the word and its mark are one token, never a sheet name.
                length = readName(text, i + 1) - i;
                if (i + length < n && (text[i + length] == u'!' || text[i + length] == u'?'))
                    ++length;
            }
            i += length;
        } else if (c == u'\'') {
            QString content;
            const qsizetype end = readQuoted(text, i, &content);
            if (end < 0)
                return result; // unbalanced: nothing more can be read reliably
            SheetPrefix prefix;
            if (end < n && text[end] == u'!') {
                splitQuoted(content, &prefix);
                i = addPrefix(prefix, i, end + 1);
                continue;
            }
            if (end + 1 < n && text[end] == u':' && text[end + 1] == u'\'') {
                // The other 3-D spelling: 'Jan 1':'Mar 3'!A1.
                QString second;
                const qsizetype secondEnd = readQuoted(text, end + 1, &second);
                if (secondEnd > 0 && secondEnd < n && text[secondEnd] == u'!' && !content.startsWith(u'[')) {
                    prefix.first = content;
                    prefix.last = second;
                    i = addPrefix(prefix, i, secondEnd + 1);
                    continue;
                }
            }
            i = end;
            afterPrefix = false;
        } else if (c == u'[') {
            const qsizetype close = text.indexOf(u']', i);
            bool book = close > i + 1;
            for (qsizetype k = i + 1; book && k < close; ++k)
                book = isDigit(text[k]);
            if (!book) {
                i = skipBrackets(text, i);
                continue;
            }
            // A reference into another workbook: [n]!Name, [n]Sheet!A1, [n]Jan:Mar!A1.
            const qsizetype nameEnd = readName(text, close + 1);
            SheetPrefix prefix;
            prefix.external = true;
            prefix.first = text.mid(close + 1, nameEnd - close - 1);
            qsizetype end = nameEnd;
            if (end < n && text[end] == u':') {
                const qsizetype lastEnd = readName(text, end + 1);
                if (lastEnd < n && text[lastEnd] == u'!') {
                    prefix.last = text.mid(end + 1, lastEnd - end - 1);
                    end = lastEnd;
                }
            }
            if (end < n && text[end] == u'!') {
                i = addPrefix(prefix, i, end + 1);
            } else {
                i = close + 1;
                afterPrefix = false;
            }
        } else if (isNameChar(c)) {
            qsizetype end = readName(text, i);
            if (isDigit(c) || (c == u'.' && end > i + 1 && isDigit(text[i + 1]))) {
                // A number: take its exponent, so that 1E3 is not read as the cell E3.
                if (end < n && (text[end] == u'+' || text[end] == u'-') && (text[end - 1] == u'E' || text[end - 1] == u'e'))
                    end = readName(text, end + 1);
                if (references && !afterPrefix && end < n && text[end] == u':') {
                    // Whole rows: 2:5.
                    const qsizetype referenceStop = referenceEnd(text, i, end);
                    if (referenceStop > end) {
                        references->push_back({i, referenceStop - i, -1});
                        end = referenceStop;
                    }
                }
                i = end;
                afterPrefix = false;
                continue;
            }
            const QString name = text.mid(i, end - i);
            const bool plainName = !name.contains(u'$');
            if (end < n && text[end] == u'!' && plainName) {
                SheetPrefix prefix;
                prefix.first = name;
                i = addPrefix(prefix, i, end + 1);
                continue;
            }
            if (!afterPrefix && plainName && end + 1 < n && text[end] == u':' && isNameChar(text[end + 1])) {
                const qsizetype lastEnd = readName(text, end + 1);
                if (lastEnd < n && text[lastEnd] == u'!' && !text.mid(end + 1, lastEnd - end - 1).contains(u'$')) {
                    SheetPrefix prefix;
                    prefix.first = name;
                    prefix.last = text.mid(end + 1, lastEnd - end - 1);
                    i = addPrefix(prefix, i, lastEnd + 1);
                    continue;
                }
            }
            const bool qualified = afterPrefix;
            if (references && !qualified) {
                const qsizetype referenceStop = referenceEnd(text, i, end);
                if (referenceStop > 0) {
                    references->push_back({i, referenceStop - i, -1});
                    i = referenceStop;
                    afterPrefix = false;
                    continue;
                }
            }
            i = end;
            afterPrefix = false;
            if (i < n && text[i] == u'[') {
                if (tables && !qualified)
                    tables->emplace_back(i - name.size(), name.size());
                i = skipBrackets(text, i); // a structured reference: Table1[Column]
            } else if (names && !qualified && plainName && !(i < n && (text[i] == u'(' || text[i] == u':'))
                && !(i > name.size() && text[i - name.size() - 1] == u':')
                && parseArea(name) == std::nullopt && name.compare(u"TRUE", Qt::CaseInsensitive) != 0
                && name.compare(u"FALSE", Qt::CaseInsensitive) != 0) {
                names->append(name); // neither a function, a cell, a table nor a logical
            }
        } else {
            if (c != u':')
                afterPrefix = false;
            ++i;
        }
    }
    return result;
}

} // namespace

QStringList unqualifiedNames(const QString &formula)
{
    QStringList names;
    scan(formula, nullptr, nullptr, &names);
    return names;
}

std::vector<SheetPrefix> sheetPrefixes(const QString &text)
{
    return scan(text, nullptr);
}

QString renameTable(const QString &formula, const QString &from, const QString &to)
{
    if (!formula.contains(from, Qt::CaseInsensitive))
        return formula;
    std::vector<std::pair<qsizetype, qsizetype>> tables;
    scan(formula, &tables);
    QString result = formula;
    // From the right, so that earlier positions stay valid.
    for (auto it = tables.rbegin(); it != tables.rend(); ++it) {
        if (QStringView(formula).mid(it->first, it->second).compare(from, Qt::CaseInsensitive) == 0)
            result.replace(it->first, it->second, to);
    }
    return result;
}

bool needsQuotes(const QString &name)
{
    if (name.isEmpty())
        return true;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || isDigit(c) || u == u'_' || u == u'.';
        if (!plain)
            return true;
    }
    if (isDigit(name[0]) || name[0] == u'.')
        return true;
    static const QRegularExpression cell(QStringLiteral("^([A-Z]{1,3})([0-9]+)$"));
    const QString upper = name.toUpper();
    if (const QRegularExpressionMatch m = cell.match(upper); m.hasMatch()) {
        int column = 0;
        for (const QChar letter : m.captured(1))
            column = column * 26 + (letter.unicode() - u'A' + 1);
        bool ok = false;
        const qlonglong row = m.captured(2).toLongLong(&ok);
        if (column <= 16384 && ok && row >= 1 && row <= 1048576)
            return true;
    }
    static const QRegularExpression r1c1(QStringLiteral("^(R|C|RC)([0-9]|$)"));
    return r1c1.match(upper).hasMatch();
}

QString qualifier(const QString &first, const QString &last)
{
    auto escaped = [](QString name) { return name.replace(u'\'', QStringLiteral("''")); };
    if (last.isEmpty())
        return needsQuotes(first) ? u'\'' + escaped(first) + QStringLiteral("'!") : first + u'!';
    if (needsQuotes(first) || needsQuotes(last))
        return u'\'' + escaped(first) + u':' + escaped(last) + QStringLiteral("'!");
    return first + u':' + last + u'!';
}

QString externalQualifier(int book, const QString &sheet, const QString &last)
{
    const QString inner = u'[' + QString::number(book) + u']' + sheet + (last.isEmpty() ? QString() : u':' + last);
    if (!needsQuotes(sheet) && (last.isEmpty() || !needsQuotes(last)))
        return inner + u'!';
    return u'\'' + QString(inner).replace(u'\'', QStringLiteral("''")) + QStringLiteral("'!");
}

namespace {

QString replacePrefixes(const QString &formula, bool external,
    const std::function<std::optional<QString>(const SheetPrefix &)> &replace)
{
    const std::vector<SheetPrefix> prefixes = sheetPrefixes(formula);
    QString result;
    qsizetype copied = 0;
    for (const SheetPrefix &prefix : prefixes) {
        if (prefix.external != external || prefix.start < copied)
            continue;
        const std::optional<QString> replacement = replace(prefix);
        if (!replacement)
            continue;
        result += QStringView(formula).mid(copied, prefix.start - copied);
        result += *replacement;
        copied = prefix.start + prefix.length;
    }
    if (copied == 0)
        return formula;
    result += QStringView(formula).mid(copied);
    return result;
}

} // namespace

QString replaceQualifiers(const QString &formula, const std::function<std::optional<QString>(const SheetPrefix &)> &replace)
{
    return replacePrefixes(formula, false, replace);
}

QString replaceExternalQualifiers(
    const QString &formula, const std::function<std::optional<QString>(const SheetPrefix &)> &replace)
{
    return replacePrefixes(formula, true, replace);
}

namespace {

// Replaces qualifiers of this workbook; replace() sets the new text and whether it stands for
// the operand too.
template<typename Replace> QString rewrite(const QString &formula, Replace replace)
{
    const std::vector<SheetPrefix> prefixes = sheetPrefixes(formula);
    QString result;
    qsizetype copied = 0;
    for (const SheetPrefix &prefix : prefixes) {
        if (prefix.external || prefix.start < copied)
            continue;
        QString replacement;
        bool withOperand = false;
        if (!replace(prefix, &replacement, &withOperand))
            continue;
        result += QStringView(formula).mid(copied, prefix.start - copied);
        result += replacement;
        copied = prefix.start + prefix.length + (withOperand ? prefix.operandLength : 0);
    }
    if (copied == 0)
        return formula;
    result += QStringView(formula).mid(copied);
    return result;
}

} // namespace

QString replaceQualifiedReferences(const QString &formula,
    const std::function<std::optional<QString>(const SheetPrefix &, const QString &operand)> &replace)
{
    return rewrite(formula, [&](const SheetPrefix &prefix, QString *replacement, bool *withOperand) {
        std::optional<QString> text = replace(prefix, formula.mid(prefix.start + prefix.length, prefix.operandLength));
        if (!text)
            return false;
        *replacement = std::move(*text);
        *withOperand = true;
        return true;
    });
}

QString argumentOf(const QString &formula, qsizetype start, qsizetype end)
{
    auto skipSpaces = [&](qsizetype at, int step) {
        while (at >= 0 && at < formula.size() && formula[at] == u' ')
            at += step;
        return at;
    };
    const qsizetype before = skipSpaces(start - 1, -1);
    const qsizetype after = skipSpaces(end, 1);
    if (before < 0 || after >= formula.size() || (formula[before] != u'(' && formula[before] != u',')
        || (formula[after] != u')' && formula[after] != u','))
        return {};
    // The open parentheses up to the argument, each with the function it calls ("" for none).
    QStringList calls;
    for (qsizetype i = 0; i < start;) {
        const QChar c = formula[i];
        if (c == u'"') {
            i = skipString(formula, i);
        } else if (c == u'\'') {
            QString content;
            const qsizetype next = readQuoted(formula, i, &content);
            if (next < 0)
                return {};
            i = next;
        } else if (c == u'[') {
            i = skipBrackets(formula, i);
        } else if (c == u'{') {
            while (i < formula.size() && formula[i] != u'}')
                i = formula[i] == u'"' ? skipString(formula, i) : i + 1;
            ++i;
        } else if (isNameChar(c)) {
            const qsizetype nameStart = i;
            i = readName(formula, i);
            if (i < formula.size() && formula[i] == u'(') {
                calls.append(formula.mid(nameStart, i - nameStart));
                ++i;
            }
        } else {
            if (c == u'(')
                calls.append(QString());
            else if (c == u')' && !calls.isEmpty())
                calls.removeLast();
            ++i;
        }
    }
    return calls.isEmpty() ? QString() : calls.last();
}

namespace {

// Whether any qualifier of the formula can name the sheet: a cheap test before tokenising. A
// name holding "'" is written with it doubled, so only the test for "!" applies to it.
bool mayName(const QString &formula, const QString &sheet)
{
    if (!formula.contains(u'!'))
        return false;
    return sheet.contains(u'\'') || formula.contains(sheet, Qt::CaseInsensitive);
}

bool same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString renameSheet(const QString &formula, const QString &from, const QString &to)
{
    if (!mayName(formula, from))
        return formula;
    return rewrite(formula, [&](const SheetPrefix &prefix, QString *replacement, bool *) {
        const bool first = same(prefix.first, from);
        const bool last = prefix.isSpan() && same(prefix.last, from);
        if (!first && !last)
            return false;
        *replacement = qualifier(first ? to : prefix.first, prefix.isSpan() ? (last ? to : prefix.last) : QString());
        return true;
    });
}

QString deleteSheet(const QString &formula, const QString &deleted, const QStringList &sheetOrder)
{
    static const QString ref = QStringLiteral("#REF!");
    if (!mayName(formula, deleted))
        return formula;
    auto indexOf = [&](const QString &name) {
        for (qsizetype k = 0; k < sheetOrder.size(); ++k) {
            if (same(sheetOrder[k], name))
                return k;
        }
        return qsizetype(-1);
    };
    return rewrite(formula, [&](const SheetPrefix &prefix, QString *replacement, bool *withOperand) {
        if (!prefix.isSpan()) {
            if (!same(prefix.first, deleted))
                return false;
            *replacement = ref;
            *withOperand = true;
            return true;
        }
        const bool firstGone = same(prefix.first, deleted);
        const bool lastGone = same(prefix.last, deleted);
        if (!firstGone && !lastGone)
            return false;
        qsizetype first = indexOf(prefix.first);
        qsizetype last = indexOf(prefix.last);
        if (first < 0 || last < 0 || first == last) {
            *replacement = ref;
            *withOperand = true;
            return true;
        }
        // The deleted end moves one sheet towards the other end.
        const qsizetype step = first < last ? 1 : -1;
        if (firstGone)
            first += step;
        else
            last -= step;
        *replacement = first == last ? qualifier(sheetOrder[first]) : qualifier(sheetOrder[first], sheetOrder[last]);
        return true;
    });
}

namespace {

// Replaces references to cells: replace() gets each with the qualifier before it (or
// nullptr) and returns its new text, with the qualifier when `withPrefix` is set; nothing
// keeps it as it is.
template<typename Replace> QString rewriteReferences(const QString &formula, Replace replace)
{
    std::vector<ReferenceToken> references;
    const std::vector<SheetPrefix> prefixes = scan(formula, nullptr, &references);
    QString result;
    qsizetype copied = 0;
    for (const ReferenceToken &token : references) {
        const SheetPrefix *prefix = token.prefix >= 0 ? &prefixes[size_t(token.prefix)] : nullptr;
        const std::optional<Area> area = parseArea(QStringView(formula).mid(token.start, token.length));
        bool withPrefix = false;
        const std::optional<QString> replacement = replace(*area, prefix, &withPrefix);
        if (!replacement)
            continue;
        const qsizetype from = withPrefix && prefix ? prefix->start : token.start;
        result += QStringView(formula).mid(copied, from - copied);
        result += *replacement;
        copied = token.start + token.length;
    }
    if (copied == 0)
        return formula;
    result += QStringView(formula).mid(copied);
    return result;
}

} // namespace

QString deleteLines(const QString &formula, const QString &hostSheet, const QString &sheet, const LineDeletion &deletion)
{
    static const QString ref = QStringLiteral("#REF!");
    const bool onSheet = !hostSheet.isEmpty() && same(hostSheet, sheet);
    if (!onSheet && !mayName(formula, sheet))
        return formula;
    return rewriteReferences(
        formula, [&](const Area &area, const SheetPrefix *prefix, bool *withPrefix) -> std::optional<QString> {
            if (prefix ? (prefix->external || prefix->isSpan() || !same(prefix->first, sheet)) : !onSheet)
                return std::nullopt;
            const std::optional<Area> moved = movedArea(area, deletion);
            if (!moved) {
                *withPrefix = true;
                return ref;
            }
            const QString text = areaText(*moved);
            if (text == areaText(area))
                return std::nullopt;
            return text;
        });
}

bool spanMovesWith(const QString &formula, const QStringList &sheetOrder, const QString &sheet, const LineDeletion &deletion)
{
    if (!formula.contains(u'!') || !formula.contains(u':'))
        return false;
    auto position = [&](const QString &name) {
        for (qsizetype i = 0; i < sheetOrder.size(); ++i) {
            if (same(sheetOrder[i], name))
                return i;
        }
        return qsizetype(-1);
    };
    const qsizetype at = position(sheet);
    bool moves = false;
    rewriteReferences(formula, [&](const Area &area, const SheetPrefix *prefix, bool *) -> std::optional<QString> {
        if (!prefix || prefix->external || !prefix->isSpan())
            return std::nullopt;
        const qsizetype first = position(prefix->first);
        const qsizetype last = position(prefix->last);
        if (first < 0 || last < 0 || at < std::min(first, last) || at > std::max(first, last))
            return std::nullopt;
        const std::optional<Area> moved = movedArea(area, deletion);
        if (!moved || areaText(*moved) != areaText(area))
            moves = true;
        return std::nullopt;
    });
    return moves;
}

QString copyFormula(const QString &formula, qint64 rows, qint64 columns)
{
    static const QString ref = QStringLiteral("#REF!");
    if (rows == 0 && columns == 0)
        return formula;
    return rewriteReferences(formula, [&](const Area &area, const SheetPrefix *, bool *withPrefix) -> std::optional<QString> {
        Area moved = area;
        const bool rowsMove = area.kind != Area::Kind::Columns;
        const bool columnsMove = area.kind != Area::Kind::Rows;
        if (rowsMove) {
            moved.firstRow += moved.firstRowAbsolute ? 0 : rows;
            moved.lastRow += moved.lastRowAbsolute ? 0 : rows;
        }
        if (columnsMove) {
            moved.firstColumn += moved.firstColumnAbsolute ? 0 : columns;
            moved.lastColumn += moved.lastColumnAbsolute ? 0 : columns;
        }
        if (moved.firstRow < 1 || moved.lastRow > kGridRows || moved.firstColumn < 1 || moved.lastColumn > kGridColumns
            || moved.firstRow > moved.lastRow || moved.firstColumn > moved.lastColumn) {
            *withPrefix = true;
            return ref;
        }
        const QString text = areaText(moved);
        return text == areaText(area) ? std::nullopt : std::optional<QString>(text);
    });
}

// Formulas as UTF-8 bytes. The reading below follows scan() step by step for qualifiers
// alone: a byte of a multi-byte character is a name character as that character is, so
// both read the same tokens.
namespace {

bool isNameByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' || u == '.' || u == '\\'
        || u == '$' || u >= 0x80;
}

bool isDigitByte(char c)
{
    return c >= '0' && c <= '9';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool isAscii(QByteArrayView text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool startsWithIgnoringCase(QByteArrayView text, qsizetype at, QByteArrayView literal)
{
    if (text.size() - at < literal.size())
        return false;
    for (qsizetype k = 0; k < literal.size(); ++k) {
        if (asciiLower(text[at + k]) != asciiLower(literal[k]))
            return false;
    }
    return true;
}

bool containsIgnoringCase(QByteArrayView text, QByteArrayView word)
{
    if (word.isEmpty())
        return true;
    const char first = asciiLower(word[0]);
    for (qsizetype i = 0; i + word.size() <= text.size(); ++i) {
        if (asciiLower(text[i]) == first && startsWithIgnoringCase(text, i, word))
            return true;
    }
    return false;
}

qsizetype indexOfByte(QByteArrayView text, char c, qsizetype from)
{
    if (from >= text.size())
        return -1;
    const void *found = std::memchr(text.data() + from, c, size_t(text.size() - from));
    return found ? static_cast<const char *>(found) - text.data() : -1;
}

qsizetype readNameBytes(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isNameByte(text[at]))
        ++at;
    return at;
}

qsizetype skipStringBytes(QByteArrayView text, qsizetype at)
{
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] != '"')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '"') {
            ++i;
            continue;
        }
        return i + 1;
    }
    return text.size();
}

qsizetype skipBracketsBytes(QByteArrayView text, qsizetype at)
{
    int depth = 0;
    for (qsizetype i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'') {
            ++i;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            if (--depth == 0)
                return i + 1;
        }
    }
    return text.size();
}

// A quoted name from its opening "'": the index after the closing one, or -1 when it is not
// closed. `content` is the name with doubled quotes read as one, held in `storage` when any
// were doubled.
qsizetype readQuotedBytes(QByteArrayView text, qsizetype at, QByteArray *storage, QByteArrayView *content)
{
    bool doubled = false;
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] != '\'')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '\'') {
            doubled = true;
            ++i;
            continue;
        }
        *content = text.sliced(at + 1, i - at - 1);
        if (doubled) {
            *storage = content->toByteArray().replace("''", "'");
            *content = *storage;
        }
        return i + 1;
    }
    return -1;
}

bool isAreaBytes(QByteArrayView text)
{
    // No reference of the grid is longer ("$XFD$1048576:$XFD$1048576" has 25 characters).
    std::array<char16_t, 64> wide{};
    if (text.size() > qsizetype(wide.size()))
        return false;
    for (qsizetype k = 0; k < text.size(); ++k)
        wide[size_t(k)] = char16_t(static_cast<unsigned char>(text[k]));
    return parseArea(QStringView(wide.data(), text.size())).has_value();
}

qsizetype operandLengthBytes(QByteArrayView text, qsizetype at)
{
    if (startsWithIgnoringCase(text, at, "#REF!"))
        return 5;
    const qsizetype first = readNameBytes(text, at);
    if (first == at || first + 1 >= text.size() || text[first] != ':' || !isNameByte(text[first + 1]))
        return first - at;
    const qsizetype second = readNameBytes(text, first + 1);
    if (second < text.size() && text[second] == '!')
        return first - at;
    return second - at;
}

// Calls visit(start, end, first, last, external) for each qualifier of the formula, left to
// right: its bytes [start, end) with the "!", its sheet (the span's first sheet) and the
// span's last sheet (empty for none), unquoted. The views live until visit returns.
template<typename Visit> void scanQualifierBytes(QByteArrayView text, Visit visit)
{
    static constexpr std::array<QByteArrayView, 10> errors{"#REF!", "#N/A", "#NAME?", "#DIV/0!", "#VALUE!", "#NUM!",
        "#NULL!", "#SPILL!", "#CALC!", "#GETTING_DATA"};
    const qsizetype n = text.size();
    bool afterPrefix = false;
    qsizetype i = 0;
    QByteArray firstStorage;
    QByteArray secondStorage;
    auto addPrefix = [&](qsizetype start, qsizetype end, QByteArrayView first, QByteArrayView last, bool external) {
        visit(start, end, first, last, external);
        const qsizetype operand = operandLengthBytes(text, end);
        const bool area = operand > 0 && isAreaBytes(text.sliced(end, operand));
        afterPrefix = !area;
        return area ? end + operand : end;
    };
    while (i < n) {
        const char c = text[i];
        if (c == '"') {
            i = skipStringBytes(text, i);
            afterPrefix = false;
        } else if (c == '{') {
            while (i < n && text[i] != '}')
                i = text[i] == '"' ? skipStringBytes(text, i) : i + 1;
            ++i;
        } else if (c == '#') {
            qsizetype length = 1;
            for (const QByteArrayView error : errors) {
                if (startsWithIgnoringCase(text, i, error)) {
                    length = error.size();
                    break;
                }
            }
            i += length;
        } else if (c == '\'') {
            QByteArrayView content;
            const qsizetype end = readQuotedBytes(text, i, &firstStorage, &content);
            if (end < 0)
                return;
            if (end < n && text[end] == '!') {
                if (content.startsWith('[')) {
                    i = addPrefix(i, end + 1, {}, {}, true);
                } else {
                    const qsizetype colon = indexOfByte(content, ':', 0);
                    i = addPrefix(i, end + 1, colon < 0 ? content : content.first(colon),
                        colon < 0 ? QByteArrayView() : content.sliced(colon + 1), false);
                }
                continue;
            }
            if (end + 1 < n && text[end] == ':' && text[end + 1] == '\'') {
                QByteArrayView second;
                const qsizetype secondEnd = readQuotedBytes(text, end + 1, &secondStorage, &second);
                if (secondEnd > 0 && secondEnd < n && text[secondEnd] == '!' && !content.startsWith('[')) {
                    i = addPrefix(i, secondEnd + 1, content, second, false);
                    continue;
                }
            }
            i = end;
            afterPrefix = false;
        } else if (c == '[') {
            const qsizetype close = indexOfByte(text, ']', i);
            bool book = close > i + 1;
            for (qsizetype k = i + 1; book && k < close; ++k)
                book = isDigitByte(text[k]);
            if (!book) {
                i = skipBracketsBytes(text, i);
                continue;
            }
            qsizetype end = readNameBytes(text, close + 1);
            if (end < n && text[end] == ':') {
                const qsizetype lastEnd = readNameBytes(text, end + 1);
                if (lastEnd < n && text[lastEnd] == '!')
                    end = lastEnd;
            }
            if (end < n && text[end] == '!') {
                i = addPrefix(i, end + 1, {}, {}, true);
            } else {
                i = close + 1;
                afterPrefix = false;
            }
        } else if (isNameByte(c)) {
            qsizetype end = readNameBytes(text, i);
            if (isDigitByte(c) || (c == '.' && end > i + 1 && isDigitByte(text[i + 1]))) {
                if (end < n && (text[end] == '+' || text[end] == '-') && (text[end - 1] == 'E' || text[end - 1] == 'e'))
                    end = readNameBytes(text, end + 1);
                i = end;
                afterPrefix = false;
                continue;
            }
            const QByteArrayView name = text.sliced(i, end - i);
            const bool plainName = indexOfByte(name, '$', 0) < 0;
            if (end < n && text[end] == '!' && plainName) {
                i = addPrefix(i, end + 1, name, {}, false);
                continue;
            }
            if (!afterPrefix && plainName && end + 1 < n && text[end] == ':' && isNameByte(text[end + 1])) {
                const qsizetype lastEnd = readNameBytes(text, end + 1);
                const QByteArrayView last = text.sliced(end + 1, lastEnd - end - 1);
                if (lastEnd < n && text[lastEnd] == '!' && indexOfByte(last, '$', 0) < 0) {
                    i = addPrefix(i, lastEnd + 1, name, last, false);
                    continue;
                }
            }
            i = end;
            afterPrefix = false;
            if (i < n && text[i] == '[')
                i = skipBracketsBytes(text, i);
        } else {
            if (c != ':')
                afterPrefix = false;
            ++i;
        }
    }
}

} // namespace

SheetNameSearch::SheetNameSearch(const QString &sheet)
    : m_sheet(sheet), m_utf8(sheet.toUtf8()), m_ascii(isAscii(m_utf8)), m_quote(sheet.contains(u'\''))
{ }

bool SheetNameSearch::mayName(QByteArrayView formula) const
{
    if (indexOfByte(formula, '!', 0) < 0)
        return false;
    if (m_quote)
        return true;
    // Letter case beyond ASCII (and the few characters that fold to ASCII letters) is left
    // to QString, which compares as the tokeniser's callers do.
    if (m_ascii && isAscii(formula))
        return containsIgnoringCase(formula, m_utf8);
    return QString::fromUtf8(formula).contains(m_sheet, Qt::CaseInsensitive);
}

bool SheetNameSearch::isNamed(QByteArrayView name) const
{
    if (m_ascii && isAscii(name))
        return name.size() == m_utf8.size() && startsWithIgnoringCase(name, 0, m_utf8);
    return same(QString::fromUtf8(name), m_sheet);
}

SheetRenamer::SheetRenamer(const QString &from, const QString &to)
    : m_from(from), m_to(to), m_qualifier(qualifier(to).toUtf8())
{ }

bool SheetRenamer::rename(QByteArrayView formula, QByteArray &out) const
{
    if (!m_from.mayName(formula))
        return false;
    qsizetype copied = 0;
    bool changed = false;
    scanQualifierBytes(formula,
        [&](qsizetype start, qsizetype end, QByteArrayView first, QByteArrayView last, bool external) {
            if (external || start < copied)
                return;
            const bool firstNamed = m_from.isNamed(first);
            const bool lastNamed = !last.isEmpty() && m_from.isNamed(last);
            if (!firstNamed && !lastNamed)
                return;
            out.append(formula.sliced(copied, start - copied));
            if (last.isEmpty())
                out.append(m_qualifier);
            else
                out.append(qualifier(firstNamed ? m_to : QString::fromUtf8(first), lastNamed ? m_to : QString::fromUtf8(last))
                               .toUtf8());
            copied = end;
            changed = true;
        });
    if (changed)
        out.append(formula.sliced(copied));
    return changed;
}

} // namespace gm::formula
