#include "automation/xls/WorkbookNames.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PrintAreaText.h"

#include <QRegularExpression>
#include <QStringList>

namespace gm::xls {

namespace {

constexpr quint16 kXct = 0x0059;
constexpr quint16 kCrn = 0x005A;
constexpr quint16 kExternName = 0x0023;
constexpr quint16 nameBuiltin = 0x0020;
constexpr char printAreaCode = 0x06;
constexpr int nameHeaderSize = 14;
constexpr int maxPayload = 8224;

// Formula tokens of a print area.
constexpr uchar ptgUnion = 0x10;
constexpr uchar ptgMemFunc = 0x29;
constexpr uchar ptgArea3d = 0x3B;

const QString beyondGrid = QStringLiteral("打印区域超出了.xls工作表的范围（最多到IV列、第65536行），未做修改。");

QString columnLetters(int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters;
}

int columnNumber(const QString &letters)
{
    int column = 0;
    for (const QChar c : letters)
        column = column * 26 + (c.toUpper().unicode() - u'A' + 1);
    return column;
}

QString areaText(const CellArea &area)
{
    const QString first = QStringLiteral("$%1$%2").arg(columnLetters(area.firstColumn)).arg(area.firstRow + 1);
    const QString last = QStringLiteral("$%1$%2").arg(columnLetters(area.lastColumn)).arg(area.lastRow + 1);
    return first == last ? first : first + QLatin1Char(':') + last;
}

QByteArray area3d(const CellArea &area, quint16 ixti)
{
    QByteArray token(11, '\0');
    token[0] = char(ptgArea3d);
    writeU16(token, 1, ixti);
    writeU16(token, 3, quint16(area.firstRow));
    writeU16(token, 5, quint16(area.lastRow));
    writeU16(token, 7, quint16(area.firstColumn));
    writeU16(token, 9, quint16(area.lastColumn));
    return token;
}

// One area as a single reference; several as Excel writes them: a memory-function token
// holding the areas and the union operators between them.
QByteArray printAreaFormula(const QList<CellArea> &areas, quint16 ixti)
{
    if (areas.size() == 1)
        return area3d(areas.first(), ixti);
    QByteArray body;
    for (int i = 0; i < areas.size(); ++i) {
        body += area3d(areas[i], ixti);
        if (i > 0)
            body += char(ptgUnion);
    }
    QByteArray formula(3, '\0');
    formula[0] = char(ptgMemFunc);
    writeU16(formula, 1, quint16(body.size()));
    return formula + body;
}

QString printAreaOfFormula(const QByteArray &formula)
{
    QStringList areas;
    for (qsizetype i = 0; i < formula.size();) {
        const uchar ptg = uchar(formula[i]);
        if ((ptg == 0x3B || ptg == 0x5B || ptg == 0x7B) && i + 11 <= formula.size()) {
            areas << areaText({readU16(formula, i + 3), readU16(formula, i + 5), readU16(formula, i + 7) & 0x3FFF,
                readU16(formula, i + 9) & 0x3FFF});
            i += 11;
        } else if ((ptg == 0x3D || ptg == 0x5D || ptg == 0x7D) && i + 11 <= formula.size()) {
            areas << QStringLiteral("#REF!");
            i += 11;
        } else if (ptg == ptgUnion) {
            i += 1;
        } else if (ptg == ptgMemFunc || ptg == 0x49 || ptg == 0x69) {
            i += 3;
        } else {
            break;
        }
    }
    return areas.join(QLatin1Char(','));
}

// Where the reference records of the globals are.
struct GlobalsLayout
{
    int end = 0;
    int lastSheet = -1;
    int country = -1;
    int externSheet = -1;
    int firstName = -1;
    int lastName = -1;
    QList<int> supBooks;
    int selfSupBook = -1; // its position among supBooks
};

GlobalsLayout scanGlobals(const BiffRecordStream &stream)
{
    GlobalsLayout layout;
    layout.end = stream.globalsEnd();
    const auto &records = stream.records();
    for (int i = 0; i < layout.end; ++i) {
        const BiffRecord &record = records[i];
        switch (record.type) {
        case kBoundSheet:
            layout.lastSheet = i;
            break;
        case kCountry:
            layout.country = i;
            break;
        case kExternSheet:
            layout.externSheet = i;
            break;
        case kName:
            if (layout.firstName < 0)
                layout.firstName = i;
            layout.lastName = i;
            break;
        case kSupBook:
            if (record.data.size() == 4 && uchar(record.data[2]) == 0x01 && uchar(record.data[3]) == 0x04
                && layout.selfSupBook < 0)
                layout.selfSupBook = int(layout.supBooks.size());
            layout.supBooks.append(i);
            break;
        default:
            break;
        }
    }
    return layout;
}

// Just after the last SUPBOOK and the external names and cached values that belong to it.
int afterSupBooks(const BiffRecordStream &stream, const GlobalsLayout &layout)
{
    int at = layout.supBooks.last() + 1;
    while (at < layout.end) {
        const quint16 type = stream.records()[at].type;
        if (type != kXct && type != kCrn && type != kExternName)
            break;
        ++at;
    }
    return at;
}

} // namespace

WorkbookNames::WorkbookNames(BiffRecordStream &stream) : m_stream(stream) { }

QList<CellArea> WorkbookNames::parseArea(const QString &text)
{
    const QString normalised = xlsx::normalisePrintArea(text);
    static const QRegularExpression cell(QStringLiteral("^\\$([A-Z]+)\\$([0-9]+)(?::\\$([A-Z]+)\\$([0-9]+))?$"));
    QList<CellArea> areas;
    for (const QString &part : normalised.split(QLatin1Char(','))) {
        const QRegularExpressionMatch match = cell.match(part);
        if (!match.hasMatch())
            throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("print area %1").arg(text));
        const bool single = match.captured(3).isEmpty();
        CellArea area;
        area.firstColumn = columnNumber(match.captured(1)) - 1;
        area.firstRow = match.captured(2).toInt() - 1;
        area.lastColumn = single ? area.firstColumn : columnNumber(match.captured(3)) - 1;
        area.lastRow = single ? area.firstRow : match.captured(4).toInt() - 1;
        if (area.lastColumn >= maxColumns || area.lastRow >= maxRows)
            throw EngineError(ErrorCode::InvalidArgument, beyondGrid, QStringLiteral("print area %1 beyond IV65536").arg(text));
        areas.append(area);
    }
    return areas;
}

int WorkbookNames::findPrintAreaName(int sheetPosition) const
{
    const int end = m_stream.globalsEnd();
    const auto &records = m_stream.records();
    for (int i = 0; i < end; ++i) {
        const QByteArray &data = records[i].data;
        if (records[i].type != kName || data.size() < nameHeaderSize + 2)
            continue;
        if (!(readU16(data, 0) & nameBuiltin) || uchar(data[3]) != 1 || readU16(data, 8) != sheetPosition + 1)
            continue;
        const bool wide = uchar(data[nameHeaderSize]) & 0x01;
        const int code = wide ? (data.size() >= nameHeaderSize + 3 ? readU16(data, nameHeaderSize + 1) : -1)
                              : uchar(data[nameHeaderSize + 1]);
        if (code == printAreaCode)
            return i;
    }
    return -1;
}

QString WorkbookNames::printArea(int sheetPosition) const
{
    const int index = findPrintAreaName(sheetPosition);
    if (index < 0)
        return {};
    const QByteArray &data = m_stream.records()[index].data;
    const int formulaAt = nameHeaderSize + ((uchar(data[nameHeaderSize]) & 0x01) ? 3 : 2);
    const int length = readU16(data, 4);
    return printAreaOfFormula(data.mid(formulaAt, length));
}

quint16 WorkbookNames::selfReference(int sheetPosition)
{
    auto &records = m_stream.records();
    GlobalsLayout layout = scanGlobals(m_stream);
    const int sheetCount = int(m_stream.sheetRecords().size());
    QByteArray selfSupBook(4, '\0');
    writeU16(selfSupBook, 0, quint16(sheetCount));
    selfSupBook[2] = 0x01;
    selfSupBook[3] = 0x04;

    if (layout.supBooks.isEmpty()) {
        if (layout.externSheet >= 0)
            throw EngineError(ErrorCode::NotSupported, QStringLiteral("EXTERNSHEET without SUPBOOK"));
        int at = layout.country >= 0 ? layout.country + 1 : layout.lastSheet + 1;
        if (layout.firstName >= 0)
            at = std::min(at, layout.firstName);
        QByteArray externSheet(8, '\0');
        writeU16(externSheet, 0, 1);
        writeU16(externSheet, 4, quint16(sheetPosition));
        writeU16(externSheet, 6, quint16(sheetPosition));
        records.insert(at, BiffRecord{kSupBook, selfSupBook, {}, 0});
        records.insert(at + 1, BiffRecord{kExternSheet, externSheet, {}, 0});
        return 0;
    }
    if (layout.selfSupBook < 0) {
        // Appended after the others, so that no entry's SUPBOOK position changes.
        const int at = layout.externSheet >= 0 ? layout.externSheet : afterSupBooks(m_stream, layout);
        records.insert(at, BiffRecord{kSupBook, selfSupBook, {}, 0});
        layout = scanGlobals(m_stream);
    }
    if (layout.externSheet < 0) {
        records.insert(afterSupBooks(m_stream, layout), BiffRecord{kExternSheet, QByteArray(2, '\0'), {}, 0});
        layout = scanGlobals(m_stream);
    }
    BiffRecord &externSheet = records[layout.externSheet];
    const int count = externSheet.data.size() >= 2 ? readU16(externSheet.data, 0) : -1;
    if (!externSheet.continuations.isEmpty() || count < 0 || externSheet.data.size() < 2 + 6 * count)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("EXTERNSHEET record not understood"));
    for (int i = 0; i < count; ++i) {
        const int at = 2 + 6 * i;
        if (readU16(externSheet.data, at) == layout.selfSupBook && readU16(externSheet.data, at + 2) == sheetPosition
            && readU16(externSheet.data, at + 4) == sheetPosition)
            return quint16(i);
    }
    if (2 + 6 * (count + 1) > maxPayload)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("EXTERNSHEET full"));
    QByteArray entry(6, '\0');
    writeU16(entry, 0, quint16(layout.selfSupBook));
    writeU16(entry, 2, quint16(sheetPosition));
    writeU16(entry, 4, quint16(sheetPosition));
    externSheet.data = externSheet.data.left(2 + 6 * count) + entry;
    writeU16(externSheet.data, 0, quint16(count + 1));
    return quint16(count);
}

bool WorkbookNames::setPrintArea(int sheetPosition, const QList<CellArea> &areas)
{
    if (areas.isEmpty())
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("removing a print area"));
    QStringList wanted;
    for (const CellArea &area : areas)
        wanted << areaText(area);
    if (printArea(sheetPosition) == wanted.join(QLatin1Char(',')))
        return false;

    const quint16 ixti = selfReference(sheetPosition);
    const QByteArray formula = printAreaFormula(areas, ixti);
    QByteArray name(nameHeaderSize, '\0');
    const int existing = findPrintAreaName(sheetPosition);
    if (existing >= 0)
        name = m_stream.records()[existing].data.left(nameHeaderSize);
    else
        writeU16(name, 0, nameBuiltin);
    name[3] = 1; // one character: the built-in code
    writeU16(name, 4, quint16(formula.size()));
    writeU16(name, 8, quint16(sheetPosition + 1));
    for (int i = 10; i < nameHeaderSize; ++i)
        name[i] = 0; // no menu, description, help or status texts
    name += QByteArray::fromHex("0006") + formula;
    if (name.size() > maxPayload)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("print area of %1 areas").arg(areas.size()));

    if (existing >= 0) {
        m_stream.records()[existing].data = name;
        m_stream.records()[existing].continuations.clear();
        return true;
    }
    const GlobalsLayout layout = scanGlobals(m_stream);
    const int at = layout.lastName >= 0 ? layout.lastName + 1 : layout.externSheet + 1;
    m_stream.records().insert(at, BiffRecord{kName, name, {}, 0});
    return true;
}

} // namespace gm::xls
