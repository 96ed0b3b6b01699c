#include "automation/xls/BiffInfo.h"

#include "automation/ole/GsfDiagnostics.h"

#include <QFile>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>

namespace gm {

namespace {

template<typename T> struct GPtr
{
    T *p = nullptr;
    ~GPtr()
    {
        if (p)
            g_object_unref(p);
    }
};

quint16 le16(const uchar *d)
{
    return static_cast<quint16>(d[0] | (d[1] << 8));
}

quint32 le32(const uchar *d)
{
    return static_cast<quint32>(d[0]) | (static_cast<quint32>(d[1]) << 8) | (static_cast<quint32>(d[2]) << 16)
        | (static_cast<quint32>(d[3]) << 24);
}

enum : quint16 {
    kBof = 0x0809,
    kEof = 0x000A,
    kFilePass = 0x002F,
    kBoundSheet = 0x0085,
    kWindow1 = 0x003D,
    kHeader = 0x0014,
    kFooter = 0x0015,
    kFormula = 0x0006,
    kSetup = 0x00A1,
    kName = 0x0018,
};

QString columnLetters(int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters;
}

// The areas of a built-in print-area name: ptgArea3d tokens (0x3B, 0x5B, 0x7B) joined by
// ptgUnion; the sheet comes from the name's own scope.
QString printAreaOfName(const uchar *formula, int length)
{
    QStringList areas;
    for (int i = 0; i < length;) {
        const uchar ptg = formula[i];
        if ((ptg == 0x3B || ptg == 0x5B || ptg == 0x7B) && i + 11 <= length) {
            const int rowFirst = le16(formula + i + 3), rowLast = le16(formula + i + 5);
            const int colFirst = le16(formula + i + 7) & 0x3FFF, colLast = le16(formula + i + 9) & 0x3FFF;
            const QString first = QStringLiteral("$%1$%2").arg(columnLetters(colFirst)).arg(rowFirst + 1);
            const QString last = QStringLiteral("$%1$%2").arg(columnLetters(colLast)).arg(rowLast + 1);
            areas << (first == last ? first : first + QLatin1Char(':') + last);
            i += 11;
        } else if (ptg == 0x10 || ptg == 0x29) { // union, or a parenthesised list's mem token
            i += ptg == 0x29 ? 3 : 1;
        } else {
            break;
        }
    }
    return areas.join(QLatin1Char(','));
}

// A BIFF8 short or long unicode string: character count (8 or 16 bit), flags, characters.
QString unicodeString(const QByteArray &data, int offset, bool longCount)
{
    const auto *d = reinterpret_cast<const uchar *>(data.constData());
    const int countSize = longCount ? 2 : 1;
    if (offset + countSize + 1 > data.size())
        return {};
    const int count = longCount ? le16(d + offset) : d[offset];
    const uchar flags = d[offset + countSize];
    const int start = offset + countSize + 1;
    if (flags & 0x01) {
        if (start + count * 2 > data.size())
            return {};
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData() + start), count);
    }
    if (start + count > data.size())
        return {};
    return QString::fromLatin1(data.constData() + start, count);
}

} // namespace

BiffSummary readBiff(const QString &path)
{
    BiffSummary summary;
    const ole::GsfDiagnostics quiet; // a damaged file gives an empty summary, not console output
    GPtr<GsfInput> input{gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr)};
    if (!input.p)
        return summary;
    GPtr<GsfInfile> ole{GSF_INFILE(gsf_infile_msole_new(input.p, nullptr))};
    if (!ole.p)
        return summary;
    {
        GPtr<GsfInput> vba{gsf_infile_child_by_name(ole.p, "_VBA_PROJECT_CUR")};
        summary.hasVbaProject = vba.p != nullptr;
    }
    // "Workbook" wins over "Book"; writers vary the letter case of both.
    GPtr<GsfInput> stream;
    for (const char *wanted : {"workbook", "book"}) {
        for (int i = 0; !stream.p && i < gsf_infile_num_children(ole.p); ++i) {
            if (QByteArray(gsf_infile_name_by_index(ole.p, i)).toLower() == wanted)
                stream.p = gsf_infile_child_by_index(ole.p, i);
        }
    }
    if (!stream.p)
        return summary;
    const gsf_off_t size = gsf_input_size(stream.p);
    if (size <= 0 || size > 512 * 1024 * 1024)
        return summary;
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!gsf_input_read(stream.p, static_cast<size_t>(size), reinterpret_cast<guint8 *>(bytes.data())))
        return summary;

    QList<quint32> sheetOffsets;
    QList<QPair<int, QString>> namedAreas; // itab (1-based sheet), area
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
    int current = -1; // sheet whose substream is being read; -1 for the globals
    bool inGlobals = true;
    qsizetype pos = 0;
    while (pos + 4 <= bytes.size()) {
        const quint16 id = le16(d + pos);
        const quint16 length = le16(d + pos + 2);
        const qsizetype dataAt = pos + 4;
        if (dataAt + length > bytes.size())
            break;
        const QByteArray data = QByteArray::fromRawData(bytes.constData() + dataAt, length);
        if (id == kBof && !inGlobals) {
            const int index = static_cast<int>(sheetOffsets.indexOf(static_cast<quint32>(pos)));
            current = index;
        } else if (inGlobals) {
            if (id == kFilePass) {
                summary.encrypted = true;
                break;
            } else if (id == kBoundSheet && length >= 8) {
                BiffSheet sheet;
                sheetOffsets << le32(d + dataAt);
                sheet.state = d[dataAt + 4] & 0x03;
                sheet.type = d[dataAt + 5];
                sheet.name = unicodeString(data, 6, false);
                summary.sheets << sheet;
            } else if (id == kName && length >= 15 && (d[dataAt] & 0x20) && d[dataAt + 3] == 1) {
                // A built-in name of one character: 0x06 is the print area, scoped by itab.
                const int formulaLength = le16(d + dataAt + 4);
                const int itab = le16(d + dataAt + 8);
                const uchar highByte = d[dataAt + 14] & 0x01;
                const qsizetype nameAt = dataAt + 15;
                const qsizetype formulaAt = nameAt + (highByte ? 2 : 1);
                if (d[nameAt] == 0x06 && formulaAt + formulaLength <= dataAt + length)
                    namedAreas.append({itab, printAreaOfName(d + formulaAt, formulaLength)});
            } else if (id == kWindow1 && length >= 12) {
                summary.activeSheet = le16(d + dataAt + 10);
            } else if (id == kEof) {
                inGlobals = false;
            }
        } else if (current >= 0 && current < summary.sheets.size()) {
            if ((id == kHeader || id == kFooter) && length >= 3) {
                const QString text = unicodeString(data, 0, true);
                (id == kHeader ? summary.sheets[current].header : summary.sheets[current].footer) = text;
            } else if (id == kSetup && length >= 12) {
                const quint16 flags = le16(d + dataAt + 10);
                if (!(flags & 0x0004)) // fNoPls clear: the orientation is valid
                    summary.sheets[current].orientation = (flags & 0x0002) ? 1 : 2;
            } else if (id == kFormula && length >= 14) {
                // The cached result: bytes 6-13; 0xFFFF in the last two marks a non-number,
                // whose first byte tells text (0) or boolean (1).
                if (le16(d + dataAt + 12) == 0xFFFF) {
                    if (d[dataAt + 6] == 0)
                        ++summary.stringFormulaResults;
                    else if (d[dataAt + 6] == 1)
                        ++summary.booleanFormulaResults;
                }
            } else if (id == kEof) {
                current = -1;
            }
        }
        pos = dataAt + length;
    }
    for (const auto &[itab, area] : std::as_const(namedAreas))
        if (itab >= 1 && itab <= summary.sheets.size())
            summary.sheets[itab - 1].printArea = area;
    summary.valid = !summary.sheets.isEmpty();
    return summary;
}

int biffActiveSheet(const QString &path)
{
    const BiffSummary summary = readBiff(path);
    return summary.encrypted ? -1 : summary.activeSheet;
}

} // namespace gm
