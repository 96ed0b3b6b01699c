#pragma once

#include <QString>

namespace gm {

enum class WorkbookKind {
    Xls, // compound file holding a BIFF5/BIFF8 workbook stream
    Xlsx, // zip package
};

// Checks a file before any engine sees it and tells what kind of workbook it holds, by its
// content. Throws EngineError: FileNotFound, NotAWorkbook (a folder, text, HTML, a real .xls
// named .xlsx or the reverse), EmptyFile, PasswordRequired (an encrypted .xlsx package or
// .xls workbook stream), UnsupportedFormat (Excel 2.x-4.x), Damaged (a zip entry failing its CRC,
// an .xls workbook stream that is not whole records), InUse (another
// program holds the workbook open: an Excel owner file "~$name" or a ".~lock.name#" beside it;
// checked only when the workbook is to be written).
// verifyPackage reads every zip entry to check its CRC, or every stream of a compound file
// (Damaged when it is cut short or holds no workbook stream); a reader that does so itself
// skips it. A workbook to be written also needs a folder that takes new files
// (ReadOnlyFileSystem, FolderNotWritable).
WorkbookKind preflightWorkbook(const QString &path, bool forWriting = true, bool verifyPackage = true);

// The lock file an office program writes beside a workbook it has open.
QString lockFilePath(const QString &workbook);
// Whether a lock file beside a workbook was written by an engine of ours, on this machine,
// whose program died before the engine could remove it.
bool isStaleEngineLock(const QString &lockPath);

// True when an Excel owner file or a LibreOffice lock file lies beside the workbook.
bool workbookInUse(const QString &path);

// Reads every entry of a zip package, checking its CRC; throws EngineError(Damaged).
void verifyZipPackage(const QString &path);

} // namespace gm
