#pragma once

#include <QString>

#include <exception>

namespace gm {

// Numbered failures of the engine layer. The numbers are stable: they appear in run logs
// and on the command line next to the description.
enum class ErrorCode : int {
    FileNotFound = 53,
    PermissionDenied = 70,
    PathNotFound = 76,
    NotAWorkbook = 1001,
    PasswordRequired = 1002,
    Damaged = 1003,
    InUse = 1004,
    TimedOut = 1005,
    EngineDied = 1006,
    EngineUnavailable = 1007,
    SaveFailed = 1008,
    ReadOnlyFile = 1009,
    EmptyFile = 1010,
    UnsupportedFormat = 1011,
    SheetNotFound = 1012,
    InvalidArgument = 1013,
    NotSupported = 1014,
    WouldLoseContent = 1015,
    WriteFailed = 1016,
    NoBaseName = 1017,
    ReadOnlyFileSystem = 1018,
    FolderNotWritable = 1019,
    DiskFull = 1020,
    ReadFailed = 1021,
    Interrupted = 1022,
    ExceedsXlsLimits = 1030,
    SheetNameInvalid = 1040,
    SheetNameTaken = 1041,
    LastVisibleSheet = 1042,
    WorkbookStructureProtected = 1043,
    LastWorksheet = 1044,
    XlsSheetNotDeletable = 1045,
    SheetCopyUnsupported = 1050,
    CellOutOfRange = 1060,
    SharedFormulaAnchor = 1061,
    ArrayFormulaPart = 1062,
    ProtectedWithOtherPassword = 1070,
    ProtectionNeedsBiff8 = 1071,
    SharedWorkbook = 1072,
    PasswordTooLong = 1075,
    PasswordNotEncodable = 1077,
    CannotShare = 1080,
    SharingProtected = 1081,
    PictureUnreadable = 1082,
    XlsSharingUnsupported = 1083,
    PictureTooLarge = 1084,
    LineRunInvalid = 1063,
    LineSizeOutOfRange = 1064,
    PrintOutputFailed = 1090,
    PrinterUnavailable = 1091,
    PrintJobFailed = 1092,
    XlsCellTableUnsupported = 1031,
    LineDeletionUnsupported = 1065,
    LineDeletionHeader = 1066,
    LineDeletionPivotTable = 1067,
    FormulaInvalid = 1046,
    XlsCellsNeedEngine = 1032,
    Unexpected = 1099,
};

// The one exception type that leaves the engine layer. It carries a number and a
// Simplified-Chinese description for the run log; `detail` keeps technical context
// (never shown as the description, but available to logs of the command line).
class EngineError : public std::exception
{
public:
    explicit EngineError(ErrorCode code, QString detail = {});
    EngineError(ErrorCode code, QString description, QString detail);

    ErrorCode code() const { return m_code; }
    int number() const { return static_cast<int>(m_code); }
    const QString &description() const { return m_description; }
    const QString &detail() const { return m_detail; }
    const char *what() const noexcept override { return m_what.constData(); }

    static QString describe(ErrorCode code);

    // The failure a writing system call's errno stands for: a read-only file system, no
    // permission on the folder, a full disk, a busy or locked file. Other numbers give
    // `fallback`. The detail of fromSystemError names the step, the system's text and the path.
    static ErrorCode codeForSystemError(int error, ErrorCode fallback);
    // The same for reading a source: no permission on the file, a missing file, else a read error.
    static ErrorCode codeForReadError(int error);
    static EngineError fromSystemError(int error, ErrorCode fallback, const QString &what, const QString &path);
    static EngineError fromReadError(int error, const QString &what, const QString &path);

private:
    ErrorCode m_code;
    QString m_description;
    QString m_detail;
    QByteArray m_what;
};

} // namespace gm
