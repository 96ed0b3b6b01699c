#pragma once

#include "automation/BatchFrame.h"

#include <QString>
#include <QStringList>

namespace gm {

// Removes every hyperlink from the worksheets of the listed workbooks, or turns their
// sharing for several users on or off. Each workbook is changed in place; one that already
// is as asked is left untouched.

enum class LinkAction {
    RemoveHyperlinks, // OptKillHyperlink
    Share, // OptShared
    Unshare, // OptExclusiveAccess
};

struct HyperLinkInputs
{
    QStringList entries;
    LinkAction action = LinkAction::RemoveHyperlinks;
    bool skipReadOnly = true; // OptRSkip (else OptRWrite)
};

inline const QString kHyperLinkEmptyList = QStringLiteral("没有需要处理的EXCEL文档！");
// The captions of the three option buttons, which are also the run-log actions.
inline const QString kRemoveHyperlinksAction = QStringLiteral("批量取消文档中所有超链接");
inline const QString kShareAction = QStringLiteral("批量允许多用户同时编辑工作簿（同时允许工作簿合并）");
inline const QString kUnshareAction = QStringLiteral("批量取消工作簿多用户共享");
inline const QString kRemoveHyperlinksDone = QStringLiteral("超链接取消完毕！");
inline const QString kShareDone = QStringLiteral("批量允许多用户同时编辑工作簿设置完毕！");
inline const QString kUnshareDone = QStringLiteral("批量取消工作簿多用户共享完毕！");

// Check list (showing the message through ui), then the run.
RunSummary applyHyperLinks(
    const HyperLinkInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});
RunSummary runHyperLinks(
    const HyperLinkInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory = {});

} // namespace gm
