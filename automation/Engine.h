#pragma once

// The engine interface: the members of the spreadsheet object model that operations call.
// Three backends implement it: LibreOffice over UNO (new files, conversions, what the editors do
// not offer), the .xlsx package editor and the .xls record editor (in-place changes). Operations
// see only these classes.
// Every member may throw EngineError; nothing else leaves a backend.

#include "automation/EngineError.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace gm {

class ProtectionPassword;
struct SheetPermissions;

// File-format codes of the spreadsheet object model, as SaveAs takes them.
namespace FileFormat {
constexpr int Html = 44;
constexpr int WebArchive = 45;
constexpr int Csv = 6;
constexpr int Text = -4158;
constexpr int OpenXmlWorkbook = 51;
constexpr int Excel8 = -4143;
} // namespace FileFormat

enum class SheetVisibility { Visible, Hidden, VeryHidden };

// The nine built-in document properties a user can set.
enum class DocumentProperty { Title, Subject, Author, Manager, Company, Category, Keywords, Comments, HyperlinkBase };

// The six header and footer sections of a page setup, as the object model's code strings
// ("&P", "&D", "&\"Font,Bold\"" ...).
enum class HeaderFooterSection { LeftHeader, CenterHeader, RightHeader, LeftFooter, CenterFooter, RightFooter };

enum class Orientation { Portrait = 1, Landscape = 2 };

// A block of cells, 1-based and inclusive.
struct CellBounds
{
    qint64 firstRow = 1;
    qint64 lastRow = 0;
    qint64 firstColumn = 1;
    qint64 lastColumn = 0;
    qint64 rowCount() const { return lastRow >= firstRow ? lastRow - firstRow + 1 : 0; }
    qint64 columnCount() const { return lastColumn >= firstColumn ? lastColumn - firstColumn + 1 : 0; }
};

class Worksheet
{
public:
    virtual ~Worksheet() = default;
    virtual QString name() const = 0;
    // 1-based position among all sheets of the workbook (worksheets and chart sheets).
    virtual int sheetIndex() const = 0;
    virtual bool isChart() const { return false; }
    virtual SheetVisibility visibility() const = 0;

    // Page setup. The members a backend does not offer throw EngineError(NotSupported).
    virtual QString headerFooter(HeaderFooterSection section);
    virtual void setHeaderFooter(HeaderFooterSection section, const QString &code);
    // Print area in the object model's reference form ("$A$1:$E$100"); "" when none.
    virtual QString printArea();
    virtual void setPrintArea(const QString &range);
    virtual Orientation orientation();
    virtual void setOrientation(Orientation orientation);
    // Printing: writes the pages this worksheet prints (its print area and page setup
    // respected) as a PDF file and returns how many there are. A hidden worksheet, or one
    // with nothing on it, prints nothing: 0 is returned and no file is written.
    virtual int exportPdf(const QString &path);

    // Sheet structure. Refusals (the last visible sheet, a name the sheet rules forbid, a
    // workbook whose structure is protected) throw EngineError and change nothing.
    // Hidden also turns a very hidden sheet into a hidden one.
    virtual void setVisibility(SheetVisibility visibility);
    // Renames the sheet; every formula, name and chart of the workbook that refers to it
    // refers to the new name.
    virtual void setName(const QString &name);
    // Deletes the sheet; references to it become #REF!.
    virtual void deleteSheet();

    // The text a cell shows (its value formatted, "#REF!" for an error result); address in A1
    // notation ("B2").
    virtual QString cellText(const QString &address);
    // The used range; nothing for a sheet without cells.
    virtual std::optional<CellBounds> usedRange();
    // The text each cell in bounds shows, row by row, left to right.
    virtual std::vector<QString> displayedTexts(const CellBounds &bounds);
    // The same for a caller that looks only for texts holding `sought`: a cell whose text
    // lacks it may be given as another non-empty text lacking it (never as an empty one, nor
    // as line breaks only), which a backend can give without rendering the cell.
    virtual std::vector<QString> displayedTextsSeeking(const CellBounds &bounds, QChar sought);

    // Writes texts into cells as if each were typed into its cell (numbers, dates, percents,
    // booleans and formulas are stored as such; the number format typing sets is given to
    // the cell, its style otherwise kept). The writes are done in order, so a later one for
    // the same cell wins. A write that cannot be done (a position outside the sheet, part of
    // an array formula) is passed over, the others are done, and the last such failure is
    // thrown at the end.
    struct CellWrite
    {
        qint64 row = 0; // 1-based
        qint64 column = 0; // 1-based
        QString text;
    };
    virtual void setCellValues(const std::vector<CellWrite> &writes);

    // Protects the worksheet, allowing only the given actions; drawing objects and scenarios
    // are protected too, selecting cells stays allowed. An empty password protects without
    // one. A sheet already protected with another password throws ProtectedWithOtherPassword
    // and is left as it was; one protected without a password, or with this one, takes the
    // new settings.
    virtual void protect(const ProtectionPassword &password, SheetPermissions allowed);
    // Removes every hyperlink of the sheet's cells; their text and formatting stay. Returns
    // how many were removed.
    virtual int deleteHyperlinks();
    // Sets the picture file as the sheet's background; an empty path removes the background.
    // A file that is not a BMP, JPEG or PNG picture throws PictureUnreadable.
    virtual void setBackgroundPicture(const QString &picturePath);
    // Whole rows and columns, named by range text ("C:E", "3:7"; the ends in either order).
    // Text that names no run of the sheet throws LineRunInvalid and changes nothing.
    virtual void setColumnsHidden(const QString &columns);
    virtual void setRowsHidden(const QString &rows);
    // Height in points, snapped to whole screen pixels; 0 hides the rows. Above 409.5 throws
    // LineSizeOutOfRange.
    virtual void setRowHeight(const QString &rows, double points);
    // Width in characters of the Normal style's font, snapped to whole screen pixels; 0 hides
    // the columns. Above 255 throws LineSizeOutOfRange.
    virtual void setColumnWidth(const QString &columns, double characters);
    // Deletes the columns (the cells to their right move left) or the rows (the cells below
    // move up); every reference to the sheet moves with its cells.
    virtual void deleteColumns(const QString &columns);
    virtual void deleteRows(const QString &rows);
};

class Workbook
{
public:
    virtual ~Workbook() = default;

    // File name with extension, and the full path, of the workbook as it is now stored.
    virtual QString name() const = 0;
    virtual QString fullName() const = 0;

    // Worksheets count worksheets only; Sheets count worksheets and chart sheets.
    // Positions are 1-based. Item lookups throw SheetNotFound when nothing matches;
    // names are compared without regard to letter case, as sheet names are unique that way.
    virtual int worksheetCount() = 0;
    virtual std::unique_ptr<Worksheet> worksheet(int position) = 0;
    virtual std::unique_ptr<Worksheet> worksheet(const QString &name) = 0;
    virtual int sheetCount() = 0;
    virtual std::unique_ptr<Worksheet> sheet(int position) = 0;
    virtual std::unique_ptr<Worksheet> sheet(const QString &name) = 0;
    virtual std::unique_ptr<Worksheet> activeSheet() = 0;

    virtual QString builtinProperty(DocumentProperty property);
    virtual void setBuiltinProperty(DocumentProperty property, const QString &value);

    // Document passwords, written when the workbook is saved. The open password encrypts the
    // whole file; the modify password lets the file open freely but asks for it before changes
    // may be saved over it. Throws InvalidArgument for an empty password, NotSupported where
    // the backend cannot write the password into the file exactly, and the backend's own
    // refusals (PasswordTooLong, SharedWorkbook, PasswordNotEncodable); nothing is changed then.
    virtual void setPassword(const QString &password);
    virtual void setWritePassword(const QString &password);

    // Copies the worksheet `sheetName` of `source` into this workbook before its first
    // worksheet and returns the copy's name ("Name (2)" when the name is taken). References
    // to other sheets of the source become references into the file `sourcePath` (by
    // default the source's own). Throws SheetNotFound, SheetCopyUnsupported, NotSupported (a
    // pair of backends that cannot copy between each other) and changes nothing then.
    virtual QString insertWorksheetCopy(Workbook &source, const QString &sheetName, const QString &sourcePath = {});
    // Copies the worksheets `sheetNames` of `source` together, so that they stand in front
    // in their own order and their references to each other name the copies; references to
    // sheets not copied lead into the file `sourcePath`. A sheet that cannot be copied is
    // left out: its entry in the returned names is empty and the reason goes to `refused`.
    // Throws NotSupported as insertWorksheetCopy does.
    virtual QStringList insertWorksheetCopies(Workbook &source, const QStringList &sheetNames, const QString &sourcePath,
        std::optional<EngineError> *refused);
    // Sharing for several users at a time. A workbook is shared exactly when it carries the
    // list of its users. share() turns sharing on (saved with the next save), refusing
    // workbooks that cannot be shared; exclusiveAccess() turns it off and drops the change
    // history. Both change nothing when the workbook already is as asked.
    virtual bool multiUserEditing();
    virtual void share();
    virtual void exclusiveAccess();

    // Protects the workbook's structure and/or windows. An empty password protects without
    // one. A workbook already protected with another password throws
    // ProtectedWithOtherPassword, a shared workbook SharedWorkbook; either is left as it was.
    virtual void protect(const ProtectionPassword &password, bool structure, bool windows);

    // Printing: writes the pages the whole workbook prints (its visible sheets in order, each
    // with its print area and page setup) as one PDF file and returns how many there are;
    // 0, and no file, when none of them has anything on it.
    virtual int exportPdf(const QString &path);

    // Saves in place, in the workbook's own format. The original is replaced only by a
    // complete, checked file.
    virtual void save() = 0;
    // Writes a copy in the given format; the workbook stays where it is.
    virtual void saveAs(const QString &path, int fileFormat) = 0;
    // Closes the workbook; with saveChanges it is saved first. A workbook that is
    // destroyed without close() is closed without saving.
    virtual void close(bool saveChanges) = 0;
};

struct EngineInfo
{
    QString productName; // "LibreOffice"
    QString version; // "7.4.7.2"
    bool xlsxReadWrite = false;
    int maxRows = 0;
};

class Application
{
public:
    virtual ~Application() = default;

    // No prompt can ever appear from this engine; kept for the callers' symmetry with the
    // object model, where these are switched off at the start of every run.
    virtual void setDisplayAlerts(bool) { }
    virtual void setAlertBeforeOverwriting(bool) { }

    virtual EngineInfo info() = 0;
    virtual QString version() { return info().version; }

    // Opens a workbook. A read-only open is for sources that are only read: it takes no
    // lock, is not refused when another program holds the file, and refuses save().
    std::unique_ptr<Workbook> open(const QString &path) { return open(path, false); }
    virtual std::unique_ptr<Workbook> open(const QString &path, bool readOnly) = 0;
    virtual std::unique_ptr<Workbook> add() = 0;

    // False once the engine died or was killed by its watchdog; the session then replaces it.
    virtual bool isAlive() const { return true; }
    // Stops the engine at once, from any thread: the call in progress fails as if the engine
    // had died, and the engine's own clean-up follows on the calling thread.
    virtual void abort() { }
    virtual void quit() = 0;
};

using ApplicationFactory = std::function<std::unique_ptr<Application>()>;

} // namespace gm
