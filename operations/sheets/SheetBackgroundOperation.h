#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Sets one picture as the background of every worksheet of every listed workbook, or
// removes the backgrounds. No status text and no read-only step; a workbook that cannot be
// changed (missing, read-only, no workbook, a picture that cannot be read) fails on its own
// and the run goes on. Chart sheets have no cell background and are left alone.

struct SheetBackgroundInputs
{
    QStringList entries;
    bool set = true; // OptSheetBack index 1 (index 0 removes)
    QString picturePath; // txtBackgroudPic
};

inline const QString kBackgroundEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kChoosePicture = QStringLiteral("请选择背景图片文件！");
inline const QString kBackgroundDone = QStringLiteral("工作表背景设置完成！");
inline const QString kSetBackgroundAction = QStringLiteral("批量设置工作表背景");
inline const QString kRemoveBackgroundAction = QStringLiteral("批量删除工作表背景");

Validation validateSheetBackground(const SheetBackgroundInputs &inputs);

// Check list, Validate (showing the message through ui), then the run.
RunSummary applySheetBackground(const SheetBackgroundInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runSheetBackground(
    const SheetBackgroundInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
