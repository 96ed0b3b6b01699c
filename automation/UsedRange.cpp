#include "automation/UsedRange.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/WorkbookModel.h"
#include "automation/xlsx/ZipArchive.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>

namespace gm {

namespace {

// The bounding box of used cells, rows and columns, grown one item at a time.
class Bounds
{
public:
    void addCell(int row, int column)
    {
        addRow(row);
        addColumn(column);
    }
    void addRow(int row)
    {
        m_firstRow = std::min(m_firstRow, row);
        m_lastRow = std::max(m_lastRow, row);
    }
    void addColumn(int column)
    {
        m_firstColumn = std::min(m_firstColumn, column);
        m_lastColumn = std::max(m_lastColumn, column);
    }
    void setValue() { m_hasValue = true; }

    // The box, with a dimension of the file taken when it holds the whole box.
    UsedRange result(bool hasDimension, const UsedRange &dimension) const
    {
        UsedRange box;
        const bool rows = m_lastRow >= 0;
        const bool columns = m_lastColumn >= 0;
        if (rows || columns) {
            box.firstRow = rows ? m_firstRow : 0;
            box.lastRow = rows ? m_lastRow : 0;
            box.firstColumn = columns ? m_firstColumn : 0;
            box.lastColumn = columns ? m_lastColumn : 0;
        }
        box.singleCellHasValue = m_hasValue;
        if (hasDimension && dimension.firstRow <= box.firstRow && dimension.lastRow >= box.lastRow
                && dimension.firstColumn <= box.firstColumn && dimension.lastColumn >= box.lastColumn) {
            UsedRange taken = dimension;
            taken.singleCellHasValue = m_hasValue;
            return taken;
        }
        return box;
    }

private:
    int m_firstRow = INT_MAX;
    int m_lastRow = -1;
    int m_firstColumn = INT_MAX;
    int m_lastColumn = -1;
    bool m_hasValue = false;
};

// "B12" to 0-based row and column; false for anything else.
bool parseCell(QStringView text, int *row, int *column)
{
    qsizetype i = 0;
    int col = 0;
    while (i < text.size() && text[i].isLetter() && i < 3) {
        col = col * 26 + (text[i].toUpper().unicode() - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == text.size())
        return false;
    bool ok = false;
    const int r = text.mid(i).toInt(&ok);
    if (!ok || r < 1)
        return false;
    *row = r - 1;
    *column = col - 1;
    return true;
}

bool parseRange(QStringView text, UsedRange *range)
{
    const qsizetype colon = text.indexOf(u':');
    const QStringView first = colon < 0 ? text : text.left(colon);
    const QStringView last = colon < 0 ? text : text.mid(colon + 1);
    return parseCell(first, &range->firstRow, &range->firstColumn) && parseCell(last, &range->lastRow, &range->lastColumn)
            && range->firstRow <= range->lastRow && range->firstColumn <= range->lastColumn;
}

bool flagSet(const QXmlStreamAttributes &attributes, QLatin1StringView name)
{
    const QStringView value = attributes.value(name);
    return value == u"1" || value == u"true";
}

bool nonZero(const QXmlStreamAttributes &attributes, QLatin1StringView name)
{
    const QStringView value = attributes.value(name);
    return !value.isEmpty() && value != u"0";
}

// Streams one sheet part: cells, rows, styled columns and the dimension.
UsedRange xlsxSheetRange(const xlsx::OpcPackage &package, const QString &partName, Bounds &bounds, bool trustDimension)
{
    QXmlStreamReader reader;
    bool hasDimension = false;
    UsedRange dimension;
    int row = -1;
    int column = -1;
    bool inCell = false;
    bool cellUsed = false;
    int maxStyledColumn = -1;

    auto drain = [&] {
        while (!reader.atEnd()) {
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (token == QXmlStreamReader::StartElement) {
                const QStringView name = reader.name();
                const QXmlStreamAttributes attributes = reader.attributes();
                if (name == u"c") {
                    int r = row;
                    int c = column + 1;
                    if (const QStringView ref = attributes.value(QLatin1StringView("r")); !ref.isEmpty())
                        parseCell(ref, &r, &c);
                    row = std::max(r, 0);
                    column = c;
                    inCell = true;
                    cellUsed = nonZero(attributes, QLatin1StringView("s"));
                } else if (inCell && (name == u"v" || name == u"f" || name == u"is")) {
                    cellUsed = true;
                    bounds.setValue();
                } else if (name == u"row") {
                    bool ok = false;
                    const int r = attributes.value(QLatin1StringView("r")).toInt(&ok);
                    row = ok && r >= 1 ? r - 1 : row + 1;
                    column = -1;
                    if (flagSet(attributes, QLatin1StringView("customHeight"))
                            || flagSet(attributes, QLatin1StringView("customFormat"))
                            || flagSet(attributes, QLatin1StringView("hidden"))
                            || nonZero(attributes, QLatin1StringView("outlineLevel")))
                        bounds.addRow(row);
                } else if (name == u"col") {
                    if (nonZero(attributes, QLatin1StringView("style"))
                            && !flagSet(attributes, QLatin1StringView("collapsed"))) {
                        bool ok = false;
                        const int last = attributes.value(QLatin1StringView("max")).toInt(&ok);
                        if (ok && last >= 1)
                            maxStyledColumn = std::max(maxStyledColumn, std::min(last, 16384) - 1);
                    }
                } else if (name == u"dimension") {
                    hasDimension = parseRange(attributes.value(QLatin1StringView("ref")), &dimension);
                }
            } else if (token == QXmlStreamReader::EndElement && reader.name() == u"c") {
                if (cellUsed)
                    bounds.addCell(row, column);
                inCell = false;
            }
        }
    };
    package.readPartChunks(partName, [&](const char *data, qsizetype size) {
        reader.addData(QByteArray(data, size));
        drain();
        if (reader.hasError() && reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
            throw EngineError(ErrorCode::Damaged, partName + QStringLiteral(": ") + reader.errorString());
    });
    if (reader.hasError())
        throw EngineError(ErrorCode::Damaged, partName + QStringLiteral(": ") + reader.errorString());
    // A styled column widens the columns only towards the right of what is there.
    if (maxStyledColumn >= 0)
        bounds.addColumn(maxStyledColumn);
    return bounds.result(trustDimension && hasDimension, dimension);
}

void addNotes(xlsx::OpcPackage &package, const QString &sheetPart, Bounds &bounds)
{
    for (const xlsx::Relationship &relationship : package.relationships(sheetPart)) {
        if (!relationship.type.endsWith(QStringLiteral("/comments")) || relationship.partName.isEmpty()
                || !package.hasPart(relationship.partName))
            continue;
        QXmlStreamReader reader(package.partBytes(relationship.partName));
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"comment") {
                int row = 0;
                int column = 0;
                if (parseCell(reader.attributes().value(QLatin1StringView("ref")), &row, &column))
                    bounds.addCell(row, column);
            }
        }
    }
}

QList<SheetUsage> xlsxUsage(const QString &path, bool trustDimension)
{
    xlsx::OpcPackage package(xlsx::ZipArchive::fromFile(path));
    const xlsx::WorkbookModel workbook(package);
    QList<SheetUsage> result;
    for (const xlsx::SheetEntry &sheet : workbook.sheets()) {
        if (sheet.kind != xlsx::SheetKind::Worksheet)
            continue;
        Bounds bounds;
        addNotes(package, sheet.partName, bounds);
        result << SheetUsage{sheet.name, xlsxSheetRange(package, sheet.partName, bounds, trustDimension)};
    }
    return result;
}

// BIFF8 record types read for the used range.
using xls::kBlank, xls::kBoolErr, xls::kLabel, xls::kLabelSst, xls::kMulBlank, xls::kMulRk, xls::kNumber, xls::kRk,
    xls::kRString, xls::kRow;
constexpr quint16 kNote = 0x001C;

QList<SheetUsage> xlsUsage(const QString &path, bool trustDimension)
{
    const ole::CompoundEntry root = ole::CompoundFile::readFile(path);
    const ole::CompoundEntry *stream = nullptr;
    for (const char *wanted : {"workbook", "book"}) {
        for (const ole::CompoundEntry &child : root.children) {
            if (!stream && !child.isStorage && child.name.toLower() == wanted)
                stream = &child;
        }
    }
    if (!stream)
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("no workbook stream"));
    const xls::BiffRecordStream biff = xls::BiffRecordStream::parse(stream->data);
    if (biff.version() != 0x0600)
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("not a BIFF8 workbook stream"));
    if (biff.isEncrypted())
        throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("encrypted workbook"));

    const QList<xls::BiffRecord> &records = biff.records();
    const QList<int> sheetRecords = biff.sheetRecords();
    QList<SheetUsage> result;
    for (int sheet = 0; sheet < sheetRecords.size(); ++sheet) {
        const QByteArray &bound = records.at(sheetRecords.at(sheet)).data;
        if (bound.size() < 8 || quint8(bound.at(5)) != 0) // dt: 0 worksheet
            continue;
        SheetUsage usage;
        // ShortXLUnicodeString: cch, flags, characters.
        const int length = quint8(bound.at(6));
        const bool wide = bound.size() > 7 && (quint8(bound.at(7)) & 1);
        const QByteArray chars = bound.mid(8);
        usage.name = wide ? QString::fromUtf16(reinterpret_cast<const char16_t *>(chars.constData()),
                                    std::min<qsizetype>(length, chars.size() / 2))
                          : QString::fromLatin1(chars.left(length));

        Bounds bounds;
        bool hasDimension = false;
        UsedRange dimension;
        const xls::BiffSubstream substream = biff.sheetSubstream(sheet);
        int depth = 0;
        for (int i = substream.bof + 1; substream.bof >= 0 && i < substream.eof; ++i) {
            const xls::BiffRecord &record = records.at(i);
            const QByteArray &data = record.data;
            // Records of a chart embedded in the sheet are the chart's own.
            if (record.type == xls::kBof) {
                ++depth;
                continue;
            }
            if (record.type == xls::kEof) {
                --depth;
                continue;
            }
            if (depth > 0 || data.size() < 4)
                continue;
            const int row = xls::readU16(data, 0);
            const int column = xls::readU16(data, 2);
            switch (record.type) {
            case kNumber:
            case kLabel:
            case kLabelSst:
            case kRk:
            case kBoolErr:
            case kRString:
            case xls::kFormula:
                bounds.addCell(row, column);
                bounds.setValue();
                break;
            case kMulRk:
                if (data.size() >= 6) {
                    bounds.addCell(row, column);
                    bounds.addCell(row, xls::readU16(data, data.size() - 2));
                    bounds.setValue();
                }
                break;
            case kBlank:
                bounds.addCell(row, column);
                break;
            case kMulBlank:
                if (data.size() >= 6) {
                    bounds.addCell(row, column);
                    bounds.addCell(row, xls::readU16(data, data.size() - 2));
                }
                break;
            case kNote:
                bounds.addCell(row, column);
                break;
            case kRow:
                if (data.size() >= 16) {
                    const quint16 flags = xls::readU16(data, 12);
                    // Outline level, hidden, custom height, own format.
                    if ((flags & 0x0007) || (flags & 0x0020) || (flags & 0x0040) || (flags & 0x0080))
                        bounds.addRow(row);
                }
                break;
            case xls::kDimensions:
                if (data.size() >= 14) {
                    const quint32 firstRow = xls::readU32(data, 0);
                    const quint32 endRow = xls::readU32(data, 4);
                    const int firstColumn = xls::readU16(data, 8);
                    const int endColumn = xls::readU16(data, 10);
                    if (endRow > firstRow && endColumn > firstColumn) {
                        hasDimension = true;
                        dimension.firstRow = int(firstRow);
                        dimension.lastRow = int(endRow) - 1;
                        dimension.firstColumn = firstColumn;
                        dimension.lastColumn = endColumn - 1;
                    }
                }
                break;
            default:
                break;
            }
        }
        usage.range = bounds.result(trustDimension && hasDimension, dimension);
        result << usage;
    }
    return result;
}

} // namespace

QList<SheetUsage> worksheetUsage(const QString &path, bool trustDimension)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::FileNotFound, path);
    const QByteArray head = file.read(8);
    file.close();
    if (head.startsWith("PK"))
        return xlsxUsage(path, trustDimension);
    if (head == QByteArray::fromHex("D0CF11E0A1B11AE1"))
        return xlsUsage(path, trustDimension);
    throw EngineError(ErrorCode::NotAWorkbook, path);
}

} // namespace gm
