#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

namespace gm {

// Header and footer from a template: the three header sections and/or the three footer
// sections of the template's active sheet are copied onto every worksheet of every listed
// workbook.

struct HeaderFooterInputs
{
    QStringList entries;
    QString templatePath; // txtHeaderFooterTemplate as typed
    bool header = true; // ChkHeader
    bool footer = true; // ChkFooter
    bool makeWritable = false; // OptRWrite of the hyperlink panel; otherwise read-only files are skipped
};

inline const QString kHeaderFooterEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kHeaderFooterAction = QStringLiteral("批量设置页眉页脚：");
inline const QString kHeaderFooterDone = QStringLiteral("处理完毕！");
inline const QString kHeaderFooterNoTemplate = QStringLiteral("请选择已设置好页眉页脚的EXCEL文档模板！");

// The message for a template that exists but cannot be read as a workbook: what is wrong with
// it, then the request to choose another.
QString headerFooterTemplateProblem(const QString &description);

// The template must be a file and pass the workbook checks (not empty, a workbook, not
// encrypted, not damaged), so that a bad template is reported once, before any document.
Validation validateHeaderFooter(const HeaderFooterInputs &inputs);

// Removes picture codes (&G) from a copied section: pictures are not copied, and a picture
// code without its picture would leave an empty placeholder.
QString withoutPictureCodes(const QString &section);

// Check list, Validate (showing the message through ui), then the run. The window calls the
// two checks itself on the GUI thread (to focus the control) and runHeaderFooter on a worker.
// The run reads the template before it opens any document; a template that cannot be read
// then is reported once through ui and the run stops (RunSummary::stopped) with every
// document untouched.
RunSummary copyHeaderFooter(const HeaderFooterInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runHeaderFooter(
    const HeaderFooterInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
