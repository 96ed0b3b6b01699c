#pragma once

#include "automation/Engine.h"
#include "automation/xlsx/AtomicFile.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/SharedStringTable.h"
#include "automation/xlsx/SheetDataText.h"
#include "automation/xlsx/WorkbookModel.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace gm::xlsx {

// One open .xlsx package: the file it came from, its parts and its workbook model. The
// workbook and worksheet objects handed to callers share it, so a worksheet kept after its
// workbook was closed fails cleanly instead of reaching freed memory.
class PackageDocument
{
public:
    // Reads the whole file and checks it: every entry's CRC, the content types, the workbook
    // part and its sheets. Throws EngineError: FileNotFound, PermissionDenied, EmptyFile,
    // NotAWorkbook, PasswordRequired (an encrypted package, which only the spreadsheet engine
    // can open; isXlsxPackage() is false for it), UnsupportedFormat, Damaged.
    explicit PackageDocument(const QString &path);

    const QString &path() const { return m_path; }
    // Throws when the workbook has been closed.
    void ensureOpen() const;
    void close();

    OpcPackage &package();
    const WorkbookModel &model();
    WorkbookModel &editableModel();

    SplicedXmlPart &sheetPart(const SheetEntry &sheet);
    // The workbook's shared-string table, read once; null when the workbook has none, or when
    // its part is already edited as a tree (then it is read and written through that).
    SharedStringTable *sharedStrings();
    // Stores the table's new items in the package.
    void storeSharedStrings();
    // The rows and cells of a worksheet part's sheetData (see xlsx::sheetDataText). While the
    // part is unchanged they are read once and kept, so that the readers of a sheet's cells
    // and its writer do not inflate and scan it again each.
    std::shared_ptr<const SheetCells> sheetCells(const QString &partName);
    // Sheet parts whose formulas a rewrite of their cell data changes when the package is
    // written (a rename): until then their stored bytes no longer tell which sheets those
    // formulas name.
    void noteFormulaRewrite(const QString &sheetPart) { m_formulaRewrites.insert(sheetPart.toCaseFolded()); }
    bool hasFormulaRewrite(const QString &sheetPart) const { return m_formulaRewrites.contains(sheetPart.toCaseFolded()); }
    // Sets the orientation in the sheet part and, where the sheet has printer settings of its
    // own, in their DEVMODE too, so that the two cannot disagree.
    void setOrientation(const SheetEntry &sheet, Orientation orientation);

    // Encrypts the whole package under `password` when it is saved; afterwards the document
    // can no longer be saved. Throws EngineError: InvalidArgument (empty), SharedWorkbook.
    void setOpenPassword(const QString &password);
    // Whether the workbook is shared: it has a user names part.
    bool isShared();
    // Reserves the workbook for writing: <fileSharing> with the password's iterated SHA-512
    // hash and the name shown in the prompt, keeping a read-only recommendation. Throws
    // EngineError: InvalidArgument (empty), SharedWorkbook.
    void setWritePassword(const QString &password, const QString &userName);

    // Writes the changes over the file: atomically, checked, with the original's permission
    // bits. Nothing is written when nothing changed.
    void save();
    // Writes the package with its changes to another path; this document stays unsaved.
    void saveCopy(const QString &path);

private:
    struct Written
    {
        FileStamp stamp;
        QByteArray bytes;
    };
    Written write(const QString &target, const std::optional<FileStamp> &expected);
    void saveEncrypted();
    void refuseShared();
    void syncPrinterSettings(const SheetEntry &sheet, Orientation orientation);

    QString m_path;
    std::optional<FileStamp> m_stamp;
    std::unique_ptr<OpcPackage> m_package;
    std::unique_ptr<WorkbookModel> m_model;
    std::optional<QString> m_openPassword;
    QSet<QString> m_formulaRewrites; // case-folded part names
    bool m_encrypted = false; // saved encrypted: the parts in memory are no longer the file
    struct SheetDataCopy
    {
        const SplicedXmlPart *part = nullptr;
        std::shared_ptr<const SheetCells> cells;
    };
    std::map<QString, SheetDataCopy> m_sheetData; // key: case-folded part name
    std::optional<std::unique_ptr<SharedStringTable>> m_sharedStrings; // once looked for
};

} // namespace gm::xlsx
