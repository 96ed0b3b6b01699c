#include "automation/EngineError.h"

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
    case ErrorCode::SheetCopyUnsupported:
        return QStringLiteral("源工作表含有无法复制的内容（图形、表格、批注、引用其他工作表的公式等），未插入。");
    case ErrorCode::Unexpected:
        break;
    }
    return QStringLiteral("发生意外错误。");
}

EngineError::EngineError(ErrorCode code, QString detail) : EngineError(code, describe(code), std::move(detail)) { }

EngineError::EngineError(ErrorCode code, QString description, QString detail)
    : m_code(code), m_description(std::move(description)), m_detail(std::move(detail))
{
    m_what = QStringLiteral("%1 %2 %3").arg(number()).arg(m_description, m_detail).toUtf8();
}

} // namespace gm
