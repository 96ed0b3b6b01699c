#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace gm {

// Finds the cells of every worksheet whose displayed text equals, or contains, a text and
// writes the replacement into them as if typed. The visit per sheet is the used range, its
// columns never beyond 1000, narrowed by optional row and column limits; a row is left after
// its 101st consecutive empty cell.

inline const QString kReplaceEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
inline const QString kReplaceNoText = QStringLiteral("请输入要替换的字符！");
inline const QString kReplaceBadColumns = QStringLiteral("请输入正确的列范围（数字或字母）！");
inline const QString kReplaceBadRows = QStringLiteral("请输入正确的行范围（数字）！");
inline const QString kReplaceAction = QStringLiteral("内容替换");
inline const QString kReplaceDone = QStringLiteral("字符替换完成！");

struct ReplaceInputs
{
    QStringList entries;
    QString find; // txtStr1
    QString replacement; // txtNewCell
    bool contains = false; // OptInclude, else OptEqual
    bool matchCase = false; // ChkCase
    bool ignoreLineBreaks = true; // ChkIgnoreReturn
    bool limitRows = false; // ChkReplaceScopeR
    QString rowFrom; // txtReplaceScopeR1
    QString rowTo; // txtReplaceScopeR2
    bool limitColumns = false; // ChkReplaceScopeC
    QString columnFrom; // cmbReplaceScopeC1
    QString columnTo; // cmbReplaceScopeC2
};

Validation validateReplace(const ReplaceInputs &inputs);

// The cells of one sheet to write: every cell of `bounds` whose text (row by row, as
// displayedTexts gives them) matches, with the value to write. Exposed for tests.
std::vector<Worksheet::CellWrite> replacementsFor(
    const ReplaceInputs &inputs, const CellBounds &bounds, const std::vector<QString> &texts);
// The part of a used range that is visited, or nothing when no cell is in scope.
std::optional<CellBounds> replaceScope(const ReplaceInputs &inputs, const CellBounds &used);

RunSummary replaceContent(const ReplaceInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
RunSummary runReplaceContent(
    const ReplaceInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
