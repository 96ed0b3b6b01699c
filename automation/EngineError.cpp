#include "automation/EngineError.h"

#include <cerrno>
#include <cstring>

namespace gm {

QString EngineError::describe(ErrorCode code)
{
    switch (code) {
    case ErrorCode::FileNotFound:
        return QStringLiteral("文件未找到。");
    case ErrorCode::PermissionDenied:
        return QStringLiteral("没有访问该文件的权限。");
    case ErrorCode::PathNotFound:
        return QStringLiteral("路径未找到。");
    case ErrorCode::NotAWorkbook:
        return QStringLiteral("该文件不是Excel工作簿。");
    case ErrorCode::PasswordRequired:
        return QStringLiteral("该工作簿设有打开口令，无法打开。");
    case ErrorCode::Damaged:
        return QStringLiteral("该工作簿已损坏，无法读取。");
    case ErrorCode::InUse:
        return QStringLiteral("该文件正被其他程序使用，未做修改。");
    case ErrorCode::TimedOut:
        return QStringLiteral("处理该文件超时，已中止。");
    case ErrorCode::EngineDied:
        return QStringLiteral("表格引擎意外退出，该文件未处理完成。");
    case ErrorCode::EngineUnavailable:
        return QStringLiteral("无法启动表格引擎（LibreOffice）。");
    case ErrorCode::SaveFailed:
        return QStringLiteral("保存文件失败。");
    case ErrorCode::ReadOnlyFile:
        return QStringLiteral("文件为只读，无法保存。");
    case ErrorCode::EmptyFile:
        return QStringLiteral("文件为空（0字节），不是有效的工作簿。");
    case ErrorCode::UnsupportedFormat:
        return QStringLiteral("不支持该文件格式。");
    case ErrorCode::SheetNotFound:
        return QStringLiteral("找不到指定的工作表。");
    case ErrorCode::InvalidArgument:
        return QStringLiteral("参数无效。");
    case ErrorCode::NotSupported:
        return QStringLiteral("该操作不受支持。");
    case ErrorCode::WouldLoseContent:
        return QStringLiteral("保存会丢失原文件中的内容，已保留原文件。");
    case ErrorCode::WriteFailed:
        return QStringLiteral("写入文件失败。");
    case ErrorCode::NoBaseName:
        return QStringLiteral("无法从路径中取得文件名。");
    case ErrorCode::ReadOnlyFileSystem:
        return QStringLiteral("文件所在的磁盘为只读，无法写入。");
    case ErrorCode::FolderNotWritable:
        return QStringLiteral("没有写入该文件夹的权限");
    case ErrorCode::DiskFull:
        return QStringLiteral("磁盘空间不足");
    case ErrorCode::ReadFailed:
        return QStringLiteral("读取文件失败。");
    case ErrorCode::Interrupted:
        return QStringLiteral("处理被中断，文件未做修改。");
    case ErrorCode::ExceedsXlsLimits:
        return QStringLiteral("工作表的数据超出 .xls 格式的行列上限（65536 行、256 列）。");
    case ErrorCode::SheetNameInvalid:
        return QStringLiteral("工作表名称无效：名称不能为空、不能超过31个字符、不能包含 \\ / ? * : [ ] 、不能以单引号开头或结尾，也不能是“History”。");
    case ErrorCode::SheetNameTaken:
        return QStringLiteral("工作表名称已被同一工作簿中的其他工作表使用。");
    case ErrorCode::LastVisibleSheet:
        return QStringLiteral("工作簿中至少要保留一张可见工作表。");
    case ErrorCode::WorkbookStructureProtected:
        return QStringLiteral("工作簿结构受保护，不能删除、隐藏或重命名工作表。");
    case ErrorCode::LastWorksheet:
        return QStringLiteral("工作簿中至少要保留一张工作表。");
    case ErrorCode::XlsSheetNotDeletable:
        return QStringLiteral("该 .xls 工作簿含有宏项目或无法准确改写的公式，不能在原文件中删除此工作表，未做修改。");
    case ErrorCode::CellOutOfRange:
        return QStringLiteral("单元格的行号或列号超出了工作表的范围。");
    case ErrorCode::SharedFormulaAnchor:
        return QStringLiteral("该单元格的公式被其他单元格共用，不能单独更改。");
    case ErrorCode::ArrayFormulaPart:
        return QStringLiteral("不能更改数组公式的某一部分。");
    case ErrorCode::PasswordTooLong:
        return QStringLiteral(".xls 工作簿的打开口令最多15个字符，未设置口令。");
    case ErrorCode::PasswordNotEncodable:
        return QStringLiteral("口令中含有 .xls 修改口令无法表示的字符，未设置口令。");
    case ErrorCode::LineRunInvalid:
        return QStringLiteral("行、列范围无效：列应以字母标识、行应以整数标识，且不能超出工作表的范围。");
    case ErrorCode::LineDeletionUnsupported:
        return QStringLiteral("工作表含有删除行、列时不能准确随之移动的内容（控件、嵌入对象、模拟运算表、部分表格列或无法定位的图形等），未删除。");
    case ErrorCode::LineDeletionHeader:
        return QStringLiteral("不能删除表格或筛选区域的标题行，也不能删除表格的全部数据行，未删除。");
    case ErrorCode::LineDeletionPivotTable:
        return QStringLiteral("工作表含有数据透视表，不能删除其行或列，未删除。");
    case ErrorCode::LineSizeOutOfRange:
        return QStringLiteral("行高或列宽超出允许的范围（行高最大409.5磅，列宽最大255个字符）。");
    case ErrorCode::XlsCellsNeedEngine:
        return QStringLiteral("该 .xls 文件的单元格内容无法在原文件中直接写入，需要由表格引擎处理。");
    case ErrorCode::XlsCellTableUnsupported:
        return QStringLiteral("该 .xls 工作表的单元格记录排列方式无法在原文件中改写，未设置行的隐藏或行高，未做修改。");
    case ErrorCode::SheetCopyUnsupported:
        return QStringLiteral("源工作表含有无法复制的内容（数据透视表、控件、嵌入对象、引用其他工作表的公式或图表等），未插入。");
    case ErrorCode::ProtectedWithOtherPassword:
        return QStringLiteral("工作簿或工作表已用其他密码保护，未做更改。");
    case ErrorCode::ProtectionNeedsBiff8:
        return QStringLiteral("该工作簿为 Excel 5.0/95 格式，无法直接设置保护；为免转换丢失内容，未做修改。");
    case ErrorCode::SharedWorkbook:
        return QStringLiteral("共享工作簿不能设置口令或保护，请先取消共享；未做修改。");
    case ErrorCode::CannotShare:
        return QStringLiteral("工作簿含有表格或XML映射，Excel 不允许共享这样的工作簿，未做修改。");
    case ErrorCode::SharingProtected:
        return QStringLiteral("工作簿设有共享保护，须先撤消共享工作簿保护才能取消共享，未做修改。");
    case ErrorCode::PictureUnreadable:
        return QStringLiteral("无法读取背景图片：只支持 BMP、JPG 和 PNG 格式的图片文件。");
    case ErrorCode::XlsSharingUnsupported:
        return QStringLiteral("不能直接将 .xls 工作簿设为共享，请先将其转换为 .xlsx 格式，未做修改。");
    case ErrorCode::PictureTooLarge:
        return QStringLiteral("背景图片过大，无法存入 .xls 工作簿（宽和高均不能超过 65535 像素，图片数据不能超过 100 MB）。");
    case ErrorCode::PrintOutputFailed:
        return QStringLiteral("无法生成要打印的页面，打印作业未发送。");
    case ErrorCode::PrinterUnavailable:
        return QStringLiteral("打印机不存在或不接受打印作业，打印作业未发送。");
    case ErrorCode::PrintJobFailed:
        return QStringLiteral("打印作业发送失败。");
    case ErrorCode::FormulaInvalid:
        return QStringLiteral("公式有语法错误，该单元格未做更改。");
    case ErrorCode::Unexpected:
        break;
    }
    return QStringLiteral("发生意外错误。");
}

ErrorCode EngineError::codeForSystemError(int error, ErrorCode fallback)
{
    switch (error) {
    case EROFS:
        return ErrorCode::ReadOnlyFileSystem;
    case EACCES:
    case EPERM:
        return ErrorCode::FolderNotWritable;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrorCode::DiskFull;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return ErrorCode::InUse;
    case ENOENT:
    case ENOTDIR:
        return ErrorCode::PathNotFound;
    default:
        return fallback;
    }
}

ErrorCode EngineError::codeForReadError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return ErrorCode::PermissionDenied;
    case ENOENT:
        return ErrorCode::FileNotFound;
    case ENOTDIR:
        return ErrorCode::PathNotFound;
    default:
        return ErrorCode::ReadFailed;
    }
}

EngineError EngineError::fromSystemError(int error, ErrorCode fallback, const QString &what, const QString &path)
{
    return EngineError(codeForSystemError(error, fallback),
        QStringLiteral("%1: %2 (%3)").arg(what, QString::fromLocal8Bit(std::strerror(error)), path));
}

EngineError EngineError::fromReadError(int error, const QString &what, const QString &path)
{
    return EngineError(
        codeForReadError(error), QStringLiteral("%1: %2 (%3)").arg(what, QString::fromLocal8Bit(std::strerror(error)), path));
}

EngineError::EngineError(ErrorCode code, QString detail) : EngineError(code, describe(code), std::move(detail)) { }

EngineError::EngineError(ErrorCode code, QString description, QString detail)
    : m_code(code), m_description(std::move(description)), m_detail(std::move(detail))
{
    m_what = QStringLiteral("%1 %2 %3").arg(number()).arg(m_description, m_detail).toUtf8();
}

} // namespace gm
