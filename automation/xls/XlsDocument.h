#pragma once

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/XlsContent.h"

#include <QList>
#include <QString>

#include <optional>

namespace gm::xls {

enum class SheetKind { Worksheet, Chart, Other };

// A sheet as BOUNDSHEET8 describes it.
struct XlsSheet
{
    QString name;
    int position = 0; // 0-based, in BOUNDSHEET8 order (the tab order)
    SheetKind kind = SheetKind::Other;
    SheetVisibility visibility = SheetVisibility::Visible;
    quint32 recordId = 0; // the BOUNDSHEET8 record, which keeps its identity while sheets move
};

// One open .xls workbook for in-place changes: the compound file as read, its BIFF8 workbook
// stream as a record list, and its sheets. Changes are made to the records; save() writes a
// new compound file in which only the workbook stream differs (every other stream and
// storage, class ids included, is copied byte for byte), reads it back, and only then puts it
// in place of the original.
class XlsDocument
{
public:
    // Reads and checks the file. Throws EngineError: FileNotFound, PathNotFound,
    // PermissionDenied, EmptyFile, NotAWorkbook (no compound file, or one without a workbook
    // stream), Damaged, PasswordRequired (an encrypted workbook stream), UnsupportedFormat
    // (a BIFF5 workbook: Excel 5.0/95 is read by the spreadsheet engine and not written).
    XlsDocument(const QString &path, bool readOnly);

    const QString &path() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }
    void ensureOpen() const;
    void close();

    BiffRecordStream &stream();
    const QList<XlsSheet> &sheets() const { return m_sheets; }
    // 0-based position of the active sheet (WINDOW1 itabCur), 0 when none is recorded.
    int activeSheet() const;
    // A shared workbook: the file holds a user names stream.
    bool isShared() const;

    // Top-level streams of the compound file other than the workbook stream, by name (letter
    // case aside). Removing one marks the document modified.
    bool hasStream(const QByteArray &name) const;
    bool removeStream(const QByteArray &name);

    // Called by editors after they changed a record.
    void markModified() { m_modified = true; }
    // Reads the sheets again after an edit of BOUNDSHEET8 records.
    void reloadSheets();
    // The file holds a VBA project (a _VBA_PROJECT_CUR storage), whose modules belong to sheets.
    bool hasVbaProject() const;
    bool isModified() const { return m_modified; }
    // Encrypts the workbook stream under `password` when the workbook is saved (RC4, the
    // encryption every reader of the format opens). Throws EngineError: InvalidArgument (empty),
    // PasswordTooLong, SharedWorkbook, UnsupportedFormat (a file that also keeps an older copy
    // of its workbook in the clear, or one whose stream is not named as readers expect).
    void setOpenPassword(const QString &password);
    // Reserves the workbook for writing under `password`: a WRITEPROT record and a FILESHARING
    // record with the password's verifier (its GBK bytes) and the name shown in the prompt.
    // An existing FILESHARING record is replaced, keeping its read-only recommendation. Throws
    // EngineError: InvalidArgument (empty), PasswordNotEncodable, SharedWorkbook.
    void setWritePassword(const QString &password, const QString &userName);

    // What the workbook held when it was read, cell by cell.
    const WorkbookContent &originalContent();
    // The cells a change writes. Once asked for, the save compares the new file with the
    // original cell by cell and fails with WouldLoseContent when anything else differs.
    ExpectedChanges &expectedChanges();

    // A requested change could not be made: the file is then never saved half-changed, and
    // save() fails with this error instead.
    void refuseSave(const EngineError &error);

    // Writes the changes in place. Nothing is written when nothing changed. Throws
    // EngineError: FileNotFound, ReadOnlyFile, InUse (the file changed on disk since it was
    // read), WriteFailed (the original is then intact), or the error given to refuseSave().
    void save();

private:
    void readSheets();

    QString m_path;
    bool m_readOnly = false;
    bool m_open = true;
    bool m_modified = false;
    QByteArray m_bytes; // the file as read
    ole::CompoundEntry m_root;
    QByteArray m_streamName;
    BiffRecordStream m_stream;
    QList<XlsSheet> m_sheets;
    std::optional<EngineError> m_refusal;
    std::optional<QString> m_openPassword;
    std::optional<WorkbookContent> m_content;
    std::optional<ExpectedChanges> m_expected;
};

// The workbook stream of a compound file: "Workbook" in any letter case, else "Book"; nullptr
// when there is neither.
const ole::CompoundEntry *workbookStreamEntry(const ole::CompoundEntry &root);

// The checks a workbook stream passes before anything opens it, without reading the whole
// file: the stream is found and is a sequence of whole records in BOF ... EOF substreams, and
// it is not encrypted (a reader may open one encrypted under the built-in read-only password).
// Throws EngineError: NotAWorkbook, Damaged, PasswordRequired.
void checkWorkbookStream(const QString &path, bool forWriting = true);

// A sheet name as BOUNDSHEET8 stores it (ShortXLUnicodeString at `offset`).
QString shortUnicodeString(const QByteArray &data, qsizetype offset);

} // namespace gm::xls
