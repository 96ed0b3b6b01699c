#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Print area and orientation: written into every worksheet (hidden ones included) of every
// listed workbook, without printing.

struct PrintSetupInputs
{
    QStringList entries;
    bool setArea = false; // ChkPrintArea
    QString topLeft = QStringLiteral("A1"); // txtPrintF
    QString bottomRight; // txtPrint2
    bool setOrientation = false; // ChkPrintOrientation
    bool landscape = false; // OptLandscape (else OptPortrait)
};

inline const QString kPrintSetupEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kPrintSetupAction = QStringLiteral("打印区域设置");
inline const QString kPrintSetupDone = QStringLiteral("处理完成！");

Validation validatePrintSetup(const PrintSetupInputs &inputs);

// Check list, Validate (showing the message through ui), then the run. The window calls the
// two checks itself on the GUI thread (to focus the control) and runPrintSetup on a worker.
RunSummary setPrintSetup(const PrintSetupInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runPrintSetup(
    const PrintSetupInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
