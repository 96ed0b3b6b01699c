#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <map>

namespace gm::xls {

// One cell of a worksheet as the file stores it: a constant or a formula's cached result.
struct CellContent
{
    enum class Type : quint8 { Blank, Number, Text, Boolean, Error };
    Type type = Type::Blank;
    bool formula = false;
    // A formula whose result may differ from one calculation to the next (NOW, RAND, OFFSET ...).
    bool isVolatile = false;
    double number = 0; // Number
    QString text; // Text, "" for an empty string
    int code = 0; // Boolean: 0 or 1; Error: the file's error code (0x07 #DIV/0! ...)
    quint16 xf = 0; // the cell's format record (its number format among others)

    // The value as a user would read it: 12.5, "text", TRUE, #N/A, (blank); formulas get a
    // leading "=" before their result.
    QString display() const;
};

// Cells of a sheet by position: the key is row << 16 | column (both 0-based), so the map runs
// row by row.
using CellMap = std::map<quint32, CellContent>;

inline quint32 cellKey(int row, int column)
{
    return (static_cast<quint32>(row) << 16) | static_cast<quint32>(column);
}

struct SheetContent
{
    QString name;
    int type = 0; // 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
    int state = 0; // 0 visible, 1 hidden, 2 very hidden
    CellMap cells;
};

// A NAME record. Built-in names carry their English name ("Print_Area", "_FilterDatabase").
struct DefinedName
{
    QString name;
    int scope = 0; // 0 for the workbook, else the 1-based position of the sheet
    bool hidden = false;
    bool builtin = false;
    // The formula with sheet and name references resolved, so that two files that number
    // their external sheets or names differently still give the same text.
    QString definition;
};

// A storage or stream of the compound file. Paths use "/" between names and leave out the
// root ("_VBA_PROJECT_CUR/VBA/dir", "\005SummaryInformation").
struct StorageEntry
{
    QString path;
    bool isStorage = false;
    qint64 size = 0;
    QByteArray digest; // SHA-1 of a stream's bytes
};

// What an .xls workbook holds, read from its own records without the engine: every cell of
// every sheet, the defined names, the compound file's storages and streams.
struct WorkbookContent
{
    QString workbookStream; // the name of the stream read ("Workbook", "BOOK" ...)
    QList<SheetContent> sheets;
    QList<DefinedName> names;
    QList<StorageEntry> entries;
    // Number formats: the code of each format id the file defines, and the format id of each
    // format record (XF) by its index. Built-in ids without a record keep their standard code.
    QHash<int, QString> numberFormats;
    QList<int> xfNumberFormats;
    bool date1904 = false;

    bool hasVbaProject() const;
    // One digest over every stream of the VBA project, empty when there is none.
    QByteArray vbaDigest() const;
};

// Reads an .xls (BIFF8) workbook. Throws EngineError: FileNotFound, NotAWorkbook (no
// compound file or no BIFF8 workbook stream), PasswordRequired (encrypted), Damaged.
WorkbookContent readXlsContent(const QString &path);
// The same for the bytes of a compound file.
WorkbookContent readXlsContent(const QByteArray &bytes);

// "A1" style reference of a 0-based cell.
QString cellName(int row, int column);

} // namespace gm::xls
