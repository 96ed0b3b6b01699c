#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace gm {

// Format conversion: every listed workbook is written in one chosen format, under its own
// base name, into one output folder. The sources are never changed.

struct ConvertTarget
{
    QString label; // list entry of LstFileType
    int code; // file-format code
};

// The entries of LstFileType, in list order; the two workbook formats only when .xlsx is
// available.
QList<ConvertTarget> convertTargets(bool xlsxAvailable);

struct ConvertInputs
{
    QStringList entries; // the document list as listed
    int targetIndex = -1; // selected entry of convertTargets(); -1 means none (the first is used)
    QString outputFolder; // txtOut as typed
    bool xlsxAvailable = true;
};

inline const QString kConvertEmptyList = QStringLiteral("没有需要转换类型的文档！");
inline const QString kConvertAction = QStringLiteral("类型转换");
inline const QString kConvertDone = QStringLiteral("类型转换完成！");

// Validate step (after Check list): the output folder.
Validation validateConvert(const ConvertInputs &inputs);

// Check list, Validate (showing the message through ui), then the run. The window calls the
// two checks itself on the GUI thread (to focus the control) and runConvert on a worker.
RunSummary convertWorkbooks(const ConvertInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runConvert(
    const ConvertInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
