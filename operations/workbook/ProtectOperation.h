#pragma once

#include "automation/BatchFrame.h"
#include "automation/Protection.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Document protection: every listed workbook gets its structure and/or windows protected, or
// every one of its worksheets (hidden ones too; chart sheets have no such protection) is
// protected allowing the chosen actions. One optional password for the whole run.

struct ProtectInputs
{
    QStringList entries;
    bool protectWorkbook = true; // OptProtectBook (else OptProtectSheet)
    bool structure = false; // ChkProtectS
    bool windows = false; // ChkProtectW
    SheetPermissions allowed; // the marked items of List1
    QString password; // txtProtect; empty protects without a password
};

inline const QString kProtectEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kProtectNeedsMethod = QStringLiteral("设置工作薄保护时至少选择“结构”或“窗口”一种保护方法！");
inline const QString kProtectAction = QStringLiteral("文档保护");
inline const QString kProtectDone = QStringLiteral("处理完成！");

Validation validateProtect(const ProtectInputs &inputs);

// Check list, Validate (showing the message through ui), then the run. The window calls the
// two checks itself on the GUI thread (to focus the control) and runProtect on a worker.
RunSummary protectWorkbooks(const ProtectInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runProtect(
    const ProtectInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
