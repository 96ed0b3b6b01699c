#include "automation/xls/XlsContent.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"
#include "automation/xls/FormulaTokens.h"

#include <QCryptographicHash>
#include <QHash>

#include <cmath>
#include <cstring>

namespace gm::xls {

namespace {

// Cell and formula records; the record types shared with the editors are in BiffRecordStream.h.
enum : quint16 {
    kExternName = 0x0023,
    kString = 0x0207,
    kArray = 0x0221,
    kTable = 0x0236,
    kShrFmla = 0x04BC,
};

// Function numbers of the built-in functions whose result changes on every calculation.
constexpr quint16 kVolatileFunctions[] = {63 /* RAND */, 74 /* NOW */, 78 /* OFFSET */, 148 /* INDIRECT */, 221 /* TODAY */};

quint16 le16(const char *p)
{
    const auto *d = reinterpret_cast<const uchar *>(p);
    return static_cast<quint16>(d[0] | (d[1] << 8));
}

quint32 le32(const char *p)
{
    const auto *d = reinterpret_cast<const uchar *>(p);
    return static_cast<quint32>(d[0]) | (static_cast<quint32>(d[1]) << 8) | (static_cast<quint32>(d[2]) << 16)
        | (static_cast<quint32>(d[3]) << 24);
}

double leDouble(const char *p)
{
    quint64 bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | static_cast<uchar>(p[i]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double rkValue(quint32 rk)
{
    double value;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<qint32>(rk) >> 2);
    } else {
        const quint64 bits = static_cast<quint64>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100.0 : value;
}

QString errorText(int code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    case 0x2B:
        return QStringLiteral("#GETTING_DATA");
    default:
        return QStringLiteral("#ERR%1").arg(code);
    }
}

QString builtinName(int code)
{
    static const char *const names[]
        = {"Consolidate_Area", "Auto_Open", "Auto_Close", "Extract", "Database", "Criteria", "Print_Area", "Print_Titles",
            "Recorder", "Data_Form", "Auto_Activate", "Auto_Deactivate", "Sheet_Title", "_FilterDatabase"};
    if (code >= 0 && code < int(std::size(names)))
        return QString::fromLatin1(names[code]);
    return QStringLiteral("Builtin_%1").arg(code);
}

// A record's payload followed by those of its CONTINUE records.
QList<QByteArray> partsOf(const BiffRecord &record)
{
    return QList<QByteArray>{record.data} + record.continuations;
}

QByteArray joined(const BiffRecord &record)
{
    QByteArray all = record.data;
    for (const QByteArray &part : record.continuations)
        all += part;
    return all;
}

// Reads through a record and its CONTINUE parts. Characters of a string that run into the
// next part resume after a flag byte that says whether they are 8 or 16 bits wide.
class PartReader
{
public:
    explicit PartReader(QList<QByteArray> parts, qsizetype start = 0) : m_parts(std::move(parts)), m_pos(start) { }

    bool atEnd()
    {
        settle();
        return m_part >= m_parts.size();
    }
    quint8 u8()
    {
        settle();
        if (m_part >= m_parts.size())
            throw EngineError(ErrorCode::Damaged, QStringLiteral("record ends inside a value"));
        return static_cast<quint8>(m_parts[m_part][m_pos++]);
    }
    quint16 u16()
    {
        const quint16 low = u8();
        return static_cast<quint16>(low | (u8() << 8));
    }
    quint32 u32()
    {
        const quint32 low = u16();
        return low | (static_cast<quint32>(u16()) << 16);
    }
    void skip(qint64 count)
    {
        while (count > 0) {
            settle();
            if (m_part >= m_parts.size())
                throw EngineError(ErrorCode::Damaged, QStringLiteral("record ends inside a value"));
            const qint64 step = std::min<qint64>(count, m_parts[m_part].size() - m_pos);
            m_pos += step;
            count -= step;
        }
    }
    QString characters(int count, bool wide)
    {
        QString text;
        text.reserve(count);
        while (count > 0) {
            if (m_part < m_parts.size() && m_pos >= m_parts[m_part].size()) {
                ++m_part;
                m_pos = 0;
                if (m_part < m_parts.size() && !m_parts[m_part].isEmpty())
                    wide = static_cast<quint8>(m_parts[m_part][m_pos++]) & 0x01;
                continue;
            }
            if (m_part >= m_parts.size())
                throw EngineError(ErrorCode::Damaged, QStringLiteral("string runs past its record"));
            const QByteArray &part = m_parts[m_part];
            const int width = wide ? 2 : 1;
            const int available = static_cast<int>((part.size() - m_pos) / width);
            if (available == 0)
                throw EngineError(ErrorCode::Damaged, QStringLiteral("character split between records"));
            const int take = std::min(count, available);
            if (wide)
                text += QString::fromUtf16(reinterpret_cast<const char16_t *>(part.constData() + m_pos), take);
            else
                text += QString::fromLatin1(part.constData() + m_pos, take);
            m_pos += qsizetype(take) * width;
            count -= take;
        }
        return text;
    }
    // XLUnicodeRichExtendedString (SST entries) and XLUnicodeString (count, flags, characters).
    QString richString(bool longCount = true)
    {
        const int count = longCount ? u16() : u8();
        const quint8 flags = u8();
        const int runs = (flags & 0x08) ? u16() : 0;
        const qint64 extra = (flags & 0x04) ? static_cast<qint32>(u32()) : 0;
        QString text = characters(count, flags & 0x01);
        skip(qint64(runs) * 4 + std::max<qint64>(extra, 0));
        return text;
    }

private:
    // Moves past the end of a part (not for characters, which need the flag byte).
    void settle()
    {
        while (m_part < m_parts.size() && m_pos >= m_parts[m_part].size()) {
            ++m_part;
            m_pos = 0;
        }
    }
    QList<QByteArray> m_parts;
    qsizetype m_part = 0;
    qsizetype m_pos = 0;
};

QString shortString(const QByteArray &data, qsizetype offset)
{
    QList<QByteArray> parts{data};
    PartReader reader(parts, offset);
    return reader.richString(false);
}

// The path of another workbook as the file encodes it: control characters stand for a drive,
// the root and the steps between folders.
QString readablePath(const QString &encoded)
{
    QString path;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        switch (encoded[i].unicode()) {
        case 0x01: // a drive letter follows, or "@" for a network share
            if (i + 1 < encoded.size()) {
                ++i;
                path += encoded[i] == u'@' ? QStringLiteral("\\\\") : QString(encoded[i]) + QStringLiteral(":\\");
            }
            break;
        case 0x02: // the root of the drive
        case 0x03: // into a folder
            path += QLatin1Char('\\');
            break;
        case 0x04: // up one folder
            path += QStringLiteral("..\\");
            break;
        default:
            if (encoded[i].unicode() >= 0x20)
                path += encoded[i];
            break;
        }
    }
    return path;
}

struct SupportingBook
{
    enum Kind { Self, AddIn, External } kind = Self;
    QString path;
    QStringList sheets;
    QStringList externalNames;
};

struct ExternalSheet
{
    int book = 0;
    int first = 0;
    int last = 0;
};

// What formulas of the workbook refer to: external sheets and names, defined names.
struct FormulaContext
{
    QList<SupportingBook> books;
    QList<ExternalSheet> externSheets;
    QStringList nameTexts; // by position, for name references

    QString sheetReference(int ixti, int sheetCount) const
    {
        if (ixti < 0 || ixti >= externSheets.size())
            return QStringLiteral("[xti%1]").arg(ixti);
        const ExternalSheet &x = externSheets[ixti];
        if (x.book < 0 || x.book >= books.size())
            return QStringLiteral("[book%1]").arg(x.book);
        const SupportingBook &book = books[x.book];
        auto local = [&](int tab) {
            if (tab == 0xFFFE)
                return QStringLiteral("#book");
            if (tab == 0xFFFF || tab >= sheetCount)
                return QStringLiteral("#REF");
            return QStringLiteral("#%1").arg(tab + 1);
        };
        if (book.kind == SupportingBook::External) {
            auto external = [&](int tab) {
                return tab >= 0 && tab < book.sheets.size() ? book.sheets[tab] : QStringLiteral("#%1").arg(tab);
            };
            return QStringLiteral("[%1]%2:%3").arg(book.path, external(x.first), external(x.last));
        }
        return x.first == x.last ? local(x.first) : local(x.first) + QLatin1Char(':') + local(x.last);
    }
    QString definedName(int index) const
    {
        return index >= 1 && index <= nameTexts.size() ? nameTexts[index - 1] : QStringLiteral("#name%1").arg(index);
    }
    // A name of another workbook or an add-in; through the workbook's own entry, one of its
    // defined names.
    QString externalName(int ixti, int index, bool &own) const
    {
        own = false;
        if (ixti >= 0 && ixti < externSheets.size()) {
            const int book = externSheets[ixti].book;
            if (book >= 0 && book < books.size() && books[book].kind == SupportingBook::Self) {
                own = true;
                return definedName(index);
            }
            if (book >= 0 && book < books.size() && index >= 1 && index <= books[book].externalNames.size())
                return books[book].externalNames[index - 1];
        }
        return QStringLiteral("#name%1").arg(index);
    }
};

struct FormulaInfo
{
    QString text; // the tokens in a form independent of how the file numbers its references
    bool isVolatile = false;
    bool shared = false; // the tokens are in a shared or array formula elsewhere
    quint32 anchor = 0; // that formula's first cell
};

QString columnLetters(int column)
{
    QString letters;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters;
}

// A cell or area operand: rows u16, columns u16 with the relative flags in bits 14 and 15.
QString areaText(const char *p, bool area)
{
    auto one = [](quint16 row, quint16 column) {
        return QStringLiteral("%1%2%3%4")
            .arg((column & 0x4000) ? QString() : QStringLiteral("$"), columnLetters(column & 0x3FFF),
                (column & 0x8000) ? QString() : QStringLiteral("$"))
            .arg(row + 1);
    };
    if (!area)
        return one(le16(p), le16(p + 2));
    return one(le16(p), le16(p + 4)) + QLatin1Char(':') + one(le16(p + 2), le16(p + 6));
}

bool isVolatileFunction(quint16 function)
{
    return std::find(std::begin(kVolatileFunctions), std::end(kVolatileFunctions), function) != std::end(kVolatileFunctions);
}

// Walks the parsed expression of a formula or name. Token sizes are those of BIFF8; the
// class bits of operand tokens and the layout-only tokens (spaces, jumps, memory areas) do
// not count in the text.
FormulaInfo readFormula(const char *rgce, int length, const FormulaContext &context, int sheetCount)
{
    FormulaInfo info;
    QStringList tokens;
    for (int i = 0; i < length;) {
        const int whole = formulaTokenSize(rgce + i, length - i);
        if (whole < 0) {
            tokens << QStringLiteral("?") + QString::fromLatin1(QByteArray(rgce + i, length - i).toHex());
            break;
        }
        const quint8 ptg = static_cast<quint8>(rgce[i]);
        const quint8 base = ptg < 0x20 ? ptg : static_cast<quint8>((ptg & 0x1F) | 0x20);
        const char *p = rgce + i + 1;
        const int size = whole - 1;
        QString token;
        switch (base) {
        case 0x01: // exp: the first cell of a shared or array formula
        case 0x02: // tbl
            info.shared = true;
            info.anchor = cellKey(le16(p), le16(p + 2));
            token = QStringLiteral("exp");
            break;
        case 0x17: // str
            token = QStringLiteral("str:") + shortString(QByteArray(p, size), 0);
            break;
        case 0x19: // attr: spaces, jumps and the volatile mark
            info.isVolatile = info.isVolatile || (p[0] & 0x01);
            break;
        case 0x20: // array: the values follow the expression
            token = QStringLiteral("array");
            break;
        case 0x21: // func, funcvar
        case 0x22: {
            const bool variable = base == 0x22;
            const quint16 function = le16(p + (variable ? 1 : 0)) & 0x7FFF;
            info.isVolatile = info.isVolatile || isVolatileFunction(function);
            token = QStringLiteral("f%1/%2").arg(function).arg(variable ? static_cast<quint8>(p[0]) : -1);
            break;
        }
        case 0x23: // name
            token = context.definedName(le16(p));
            break;
        case 0x2A: // referr, areaerr, referr3d, areaerr3d: what they pointed at is gone
        case 0x2B:
        case 0x3C:
        case 0x3D:
            token = QStringLiteral("#REF!");
            break;
        case 0x24: // ref, refn
        case 0x2C:
            token = QStringLiteral("%1:%2").arg(base, 0, 16).arg(areaText(p, false));
            break;
        case 0x25: // area, arean
        case 0x2D:
            token = QStringLiteral("%1:%2").arg(base, 0, 16).arg(areaText(p, true));
            break;
        case 0x39: { // namex: an external or add-in name
            bool own = false;
            const QString name = context.externalName(le16(p), le16(p + 2), own);
            info.isVolatile = info.isVolatile || name.compare(QLatin1String("RANDBETWEEN"), Qt::CaseInsensitive) == 0;
            token = own ? name : context.sheetReference(le16(p), sheetCount) + QLatin1Char('!') + name;
            break;
        }
        case 0x3A: // ref3d
            token = QStringLiteral("%1:%2!%3")
                        .arg(base, 0, 16)
                        .arg(context.sheetReference(le16(p), sheetCount), areaText(p + 2, false));
            break;
        case 0x3B: // area3d
            token = QStringLiteral("%1:%2!%3")
                        .arg(base, 0, 16)
                        .arg(context.sheetReference(le16(p), sheetCount), areaText(p + 2, true));
            break;
        default: // numbers, errors, booleans, memory areas and operators: their bytes are their text
            break;
        }
        // Spaces, jumps, memory-area headers and parentheses change no result; writers differ
        // in whether they write them.
        const bool layoutOnly = base == 0x19 || base == 0x15 || (base >= 0x26 && base <= 0x29);
        if (!layoutOnly)
            tokens << (token.isEmpty() ? QString::fromLatin1(QByteArray(rgce + i, size + 1).toHex()) : token);
        i += size + 1;
    }
    info.text = tokens.join(QLatin1Char(' '));
    return info;
}

struct PendingName
{
    DefinedName name;
    QByteArray rgce;
};

class ContentReader
{
public:
    WorkbookContent read(const ole::CompoundEntry &root)
    {
        listEntries(root, QString());
        const ole::CompoundEntry *stream = workbookStream(root);
        if (!stream)
            throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("no workbook stream"));
        m_content.workbookStream = QString::fromUtf8(stream->name);
        const BiffRecordStream biff = BiffRecordStream::parse(stream->data);
        if (biff.version() != 0x0600)
            throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("not a BIFF8 workbook stream"));
        if (biff.isEncrypted())
            throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("encrypted workbook"));
        const QList<BiffRecord> &records = biff.records();
        readGlobals(records, biff.globalsEnd());
        for (int sheet = 0; sheet < m_content.sheets.size(); ++sheet) {
            const BiffSubstream substream = biff.sheetSubstream(sheet);
            // Cells of worksheets and macro sheets; a chart sheet's records hold only its chart.
            if (substream.bof >= 0 && substream.eof > substream.bof && m_content.sheets[sheet].type <= 1)
                readSheet(records, substream, m_content.sheets[sheet]);
        }
        return std::move(m_content);
    }

private:
    static const ole::CompoundEntry *workbookStream(const ole::CompoundEntry &root)
    {
        for (const char *wanted : {"workbook", "book"})
            for (const ole::CompoundEntry &child : root.children)
                if (!child.isStorage && child.name.toLower() == wanted)
                    return &child;
        return nullptr;
    }

    void listEntries(const ole::CompoundEntry &entry, const QString &prefix)
    {
        for (const ole::CompoundEntry &child : entry.children) {
            StorageEntry item;
            item.path = prefix + QString::fromUtf8(child.name);
            item.isStorage = child.isStorage;
            if (!child.isStorage) {
                item.size = child.data.size();
                item.digest = QCryptographicHash::hash(child.data, QCryptographicHash::Sha1);
            }
            m_content.entries << item;
            if (child.isStorage)
                listEntries(child, item.path + QLatin1Char('/'));
        }
    }

    void readGlobals(const QList<BiffRecord> &records, int end)
    {
        QList<PendingName> names;
        for (int i = 1; i < end && i < records.size(); ++i) {
            const BiffRecord &r = records[i];
            const QByteArray &d = r.data;
            switch (r.type) {
            case kBoundSheet:
                if (d.size() >= 8) {
                    SheetContent sheet;
                    sheet.state = static_cast<quint8>(d[4]) & 0x03;
                    sheet.type = static_cast<quint8>(d[5]);
                    sheet.name = shortString(d, 6);
                    m_content.sheets << sheet;
                }
                break;
            case kSst:
                readSst(r);
                break;
            case kSupBook:
                readSupBook(r);
                break;
            case kExternName:
                if (d.size() >= 8 && !m_context.books.isEmpty())
                    m_context.books.last().externalNames << shortString(d, 6);
                break;
            case kExternSheet: {
                const QByteArray all = joined(r);
                const int count = all.size() >= 2 ? le16(all.constData()) : 0;
                for (int k = 0; k < count && 2 + (k + 1) * 6 <= all.size(); ++k) {
                    const char *x = all.constData() + 2 + k * 6;
                    m_context.externSheets << ExternalSheet{le16(x), le16(x + 2), le16(x + 4)};
                }
                break;
            }
            case kName:
                names << readName(r);
                break;
            case kFormat:
                if (d.size() >= 5) {
                    PartReader reader(partsOf(r), 2);
                    m_content.numberFormats.insert(le16(d.constData()), reader.richString(true));
                }
                break;
            case kXf:
                if (d.size() >= 4)
                    m_content.xfNumberFormats << le16(d.constData() + 2);
                break;
            case kDate1904:
                if (d.size() >= 2)
                    m_content.date1904 = le16(d.constData()) == 1;
                break;
            default:
                break;
            }
        }
        for (const PendingName &pending : std::as_const(names))
            m_context.nameTexts << (pending.name.scope ? QStringLiteral("#%1!").arg(pending.name.scope) : QString())
                    + pending.name.name;
        for (PendingName &pending : names) {
            pending.name.definition
                = readFormula(pending.rgce.constData(), int(pending.rgce.size()), m_context, int(m_content.sheets.size())).text;
            m_content.names << pending.name;
        }
    }

    PendingName readName(const BiffRecord &r)
    {
        const QByteArray all = joined(r);
        if (all.size() < 15)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("short NAME record"));
        const char *d = all.constData();
        PendingName pending;
        const quint16 flags = le16(d);
        const int count = static_cast<quint8>(d[3]);
        const int formulaLength = le16(d + 4);
        pending.name.hidden = flags & 0x0001;
        pending.name.builtin = flags & 0x0020;
        pending.name.scope = le16(d + 8);
        const bool wide = d[14] & 0x01;
        const qsizetype nameAt = 15;
        const qsizetype formulaAt = nameAt + qsizetype(count) * (wide ? 2 : 1);
        if (formulaAt > all.size())
            throw EngineError(ErrorCode::Damaged, QStringLiteral("NAME record shorter than its name"));
        const QString text = wide ? QString::fromUtf16(reinterpret_cast<const char16_t *>(d + nameAt), count)
                                  : QString::fromLatin1(d + nameAt, count);
        pending.name.name = pending.name.builtin && count == 1 ? builtinName(text.at(0).unicode()) : text;
        pending.rgce = all.mid(formulaAt, std::min<qsizetype>(formulaLength, all.size() - formulaAt));
        return pending;
    }

    void readSupBook(const BiffRecord &r)
    {
        const QByteArray &d = r.data;
        SupportingBook book;
        if (d.size() >= 4) {
            const int tabs = le16(d.constData());
            const quint16 count = le16(d.constData() + 2);
            if (count == 0x0401) {
                book.kind = SupportingBook::Self;
            } else if (count == 0x3A01) {
                book.kind = SupportingBook::AddIn;
            } else {
                book.kind = SupportingBook::External;
                try {
                    PartReader reader(partsOf(r), 2);
                    book.path = readablePath(reader.richString(true));
                    for (int t = 0; t < tabs && !reader.atEnd(); ++t)
                        book.sheets << reader.richString(true);
                } catch (const EngineError &) {
                    // A path the reader cannot follow still names the book by its bytes.
                    book.path = QString::fromLatin1(d.toHex());
                }
            }
        }
        m_context.books << book;
    }

    void readSst(const BiffRecord &r)
    {
        if (r.data.size() < 8)
            return;
        const quint32 unique = le32(r.data.constData() + 4);
        PartReader reader(partsOf(r), 8);
        // Some writers state more strings than the table holds; the bytes decide.
        for (quint32 k = 0; k < unique && !reader.atEnd(); ++k)
            m_strings << reader.richString(true);
    }

    // Reads the cells of a sheet's substream; embedded charts nest their own substreams.
    void readSheet(const QList<BiffRecord> &records, const BiffSubstream &substream, SheetContent &sheet)
    {
        QHash<quint32, bool> sharedVolatile; // first cell of a shared or array formula -> volatile
        QList<QPair<quint32, quint32>> sharedUsers; // cell, first cell of its shared formula
        quint32 pendingString = 0;
        bool awaitingString = false;
        int depth = 0;
        for (int i = substream.bof + 1; i < substream.eof; ++i) {
            const BiffRecord &r = records[i];
            if (r.type == kBof || r.type == kEof) {
                depth += r.type == kBof ? 1 : -1;
                continue;
            }
            if (depth != 0)
                continue;
            const QByteArray &d = r.data;
            const char *p = d.constData();
            auto put = [&](quint32 key, CellContent cell, quint16 xf) {
                cell.xf = xf;
                sheet.cells[key] = std::move(cell);
            };
            // Every cell record starts with row, column and format record index.
            const quint16 xf = d.size() >= 6 ? le16(p + 4) : 0;
            switch (r.type) {
            case kNumber:
                if (d.size() >= 14)
                    put(cellKey(le16(p), le16(p + 2)), {CellContent::Type::Number, false, false, leDouble(p + 6), {}, 0}, xf);
                break;
            case kRk:
                if (d.size() >= 10)
                    put(cellKey(le16(p), le16(p + 2)), {CellContent::Type::Number, false, false, rkValue(le32(p + 6)), {}, 0}, xf);
                break;
            case kMulRk:
                if (d.size() >= 6) {
                    const int row = le16(p), first = le16(p + 2);
                    for (int k = 0; 4 + k * 6 + 6 <= d.size() - 2; ++k)
                        put(cellKey(row, first + k),
                            {CellContent::Type::Number, false, false, rkValue(le32(p + 4 + k * 6 + 2)), {}, 0},
                            le16(p + 4 + k * 6));
                }
                break;
            case kLabelSst:
                if (d.size() >= 10) {
                    const quint32 index = le32(p + 6);
                    if (index >= quint32(m_strings.size()))
                        throw EngineError(
                            ErrorCode::Damaged, QStringLiteral("string %1 not in the shared string table").arg(index));
                    put(cellKey(le16(p), le16(p + 2)), {CellContent::Type::Text, false, false, 0, m_strings[index], 0}, xf);
                }
                break;
            case kLabel:
            case kRString:
                if (d.size() >= 9) {
                    PartReader reader(partsOf(r), 6);
                    const int count = reader.u16();
                    const quint8 flags = reader.u8();
                    put(cellKey(le16(p), le16(p + 2)),
                        {CellContent::Type::Text, false, false, 0, reader.characters(count, flags & 0x01), 0}, xf);
                }
                break;
            case kBoolErr:
                if (d.size() >= 8)
                    put(cellKey(le16(p), le16(p + 2)),
                        {d[7] ? CellContent::Type::Error : CellContent::Type::Boolean, false, false, 0, {},
                            static_cast<quint8>(d[6])},
                        xf);
                break;
            case kBlank:
                if (d.size() >= 6)
                    put(cellKey(le16(p), le16(p + 2)), {}, xf);
                break;
            case kMulBlank:
                if (d.size() >= 6) {
                    const int row = le16(p), first = le16(p + 2);
                    for (int k = 0; 4 + k * 2 + 2 <= d.size() - 2; ++k)
                        put(cellKey(row, first + k), {}, le16(p + 4 + k * 2));
                }
                break;
            case kFormula: {
                if (d.size() < 22)
                    break;
                const quint32 key = cellKey(le16(p), le16(p + 2));
                CellContent cell;
                cell.formula = true;
                if (le16(p + 12) == 0xFFFF) {
                    switch (static_cast<quint8>(p[6])) {
                    case 0: // text, in the STRING record that follows
                        cell.type = CellContent::Type::Text;
                        pendingString = key;
                        awaitingString = true;
                        break;
                    case 1:
                        cell.type = CellContent::Type::Boolean;
                        cell.code = static_cast<quint8>(p[8]);
                        break;
                    case 2:
                        cell.type = CellContent::Type::Error;
                        cell.code = static_cast<quint8>(p[8]);
                        break;
                    default: // 3: an empty string
                        cell.type = CellContent::Type::Text;
                        break;
                    }
                } else {
                    cell.type = CellContent::Type::Number;
                    cell.number = leDouble(p + 6);
                }
                const int length = std::min<int>(le16(p + 20), int(d.size()) - 22);
                const FormulaInfo formula = readFormula(p + 22, length, m_context, int(m_content.sheets.size()));
                cell.isVolatile = (le16(p + 14) & 0x0001) || formula.isVolatile;
                if (formula.shared)
                    sharedUsers << qMakePair(key, formula.anchor);
                put(key, cell, xf);
                break;
            }
            case kShrFmla:
            case kArray:
            case kTable:
                if (d.size() >= 8) {
                    const quint32 anchor = cellKey(le16(p), static_cast<quint8>(p[4]));
                    const int at = r.type == kShrFmla ? 8 : r.type == kArray ? 12 : -1;
                    bool isVolatile = r.type == kArray && (le16(p + 6) & 0x0001); // fAlwaysCalc
                    if (at > 0 && d.size() >= at + 2) {
                        const int length = std::min<int>(le16(p + at), int(d.size()) - at - 2);
                        isVolatile
                            = isVolatile || readFormula(p + at + 2, length, m_context, int(m_content.sheets.size())).isVolatile;
                    }
                    sharedVolatile.insert(anchor, isVolatile);
                }
                break;
            case kString:
                if (awaitingString) {
                    PartReader reader(partsOf(r), 0);
                    sheet.cells[pendingString].text = reader.richString(true);
                    awaitingString = false;
                }
                break;
            default:
                break;
            }
        }
        for (const auto &[cell, anchor] : std::as_const(sharedUsers))
            if (sharedVolatile.value(anchor))
                sheet.cells[cell].isVolatile = true;
    }

    WorkbookContent m_content;
    FormulaContext m_context;
    QStringList m_strings;
};

} // namespace

QString cellName(int row, int column)
{
    return columnLetters(column) + QString::number(row + 1);
}

QString CellContent::display() const
{
    QString value;
    switch (type) {
    case Type::Blank:
        value = QStringLiteral("(blank)");
        break;
    case Type::Number:
        value = QString::number(number, 'g', 15);
        break;
    case Type::Text:
        value = QLatin1Char('"') + text + QLatin1Char('"');
        break;
    case Type::Boolean:
        value = code ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        break;
    case Type::Error:
        value = errorText(code);
        break;
    }
    return formula ? QLatin1Char('=') + value : value;
}

bool WorkbookContent::hasVbaProject() const
{
    return std::any_of(entries.cbegin(), entries.cend(), [](const StorageEntry &e) {
        return e.isStorage && e.path.compare(QLatin1String("_VBA_PROJECT_CUR"), Qt::CaseInsensitive) == 0;
    });
}

QByteArray WorkbookContent::vbaDigest() const
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    bool any = false;
    for (const StorageEntry &e : entries) {
        if (e.isStorage || !e.path.startsWith(QLatin1String("_VBA_PROJECT_CUR/"), Qt::CaseInsensitive))
            continue;
        hash.addData(e.path.toUtf8());
        hash.addData(e.digest);
        any = true;
    }
    return any ? hash.result() : QByteArray();
}

WorkbookContent readXlsContent(const QByteArray &bytes)
{
    if (!ole::CompoundFile::isCompoundFile(bytes))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("not a compound file"));
    return ContentReader().read(ole::CompoundFile::read(bytes));
}

WorkbookContent readXlsContent(const QString &path)
{
    return ContentReader().read(ole::CompoundFile::readFile(path));
}

} // namespace gm::xls
