#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace gm {

// Batch printing: every listed workbook, whole or only the worksheets at the typed positions,
// goes to one printer with the same number of copies. The engine renders the pages (print
// areas and page setup respected) to a temporary PDF file that the print service queues; no
// workbook is changed.

struct PrintInputs
{
    QStringList entries;
    bool printSheets = false; // ChkPrintSheet
    QString sheetIndex; // txtSheetIndex as typed
    QString copies = QStringLiteral("1"); // TxtCopy as typed
    QString printer; // a printer by name; empty for the default printer
};

inline const QString kPrintEmptyList = QStringLiteral("没有需要打印的EXCEL文档！");
inline const QString kPrintNoPrinter = QStringLiteral("没有检测到系统打印机！");
inline const QString kPrintNoSheets = QStringLiteral("请输入要打印的工作表序号！");
inline const QString kPrintBadCopies = QStringLiteral("文档打印份数设置错误。正确输入范围 [ 1-99 ]");
inline const QString kPrintCopiesCaptionSuffix = QStringLiteral("-批量打印"); // after the application title
inline const QString kPrintAction = QStringLiteral("批量打印");
inline const QString kPrintProgress = QStringLiteral("正在发送文件至打印机：");
inline const QString kPrintDone = QStringLiteral("打印作业发送完毕！");

// The sheet-position list: the text without leading and trailing blanks, split at every
// single blank (two blanks in a row give an empty token, which prints nothing).
QStringList sheetPositionTokens(const QString &text);

// A text read as a signed 16-bit whole number, as the copy count and the sheet positions
// are: blanks around it allowed, a fraction rounded half to even; nothing when it is not a
// number or does not fit.
std::optional<int> readShortInteger(const QString &text);

// Validate step, after Check list and the printer check: the sheet positions, then the copy
// count. A count below 1 passes (the command then ends without a message).
Validation validatePrint(const PrintInputs &inputs);

// One print job: the pages of a whole workbook or of one of its worksheets.
struct PrintJob
{
    int entryIndex = 0; // position of the workbook in the list
    QString sheet; // the worksheet's name; empty for the whole workbook
    int pages = 0; // pages of one copy
    QString jobId; // the print service's id; empty in a dry run
};

struct PrintOptions
{
    bool dryRun = false; // render and count the pages, queue nothing
    std::vector<PrintJob> *jobs = nullptr; // receives every job, in order, when given
};

// Check list, the printer check (not for a dry run), Validate (each failure shown through ui),
// then the run.
// The window calls the checks itself on the GUI thread (to focus the control) and runPrint
// on a worker.
RunSummary printWorkbooks(const PrintInputs &inputs, UserInterface &ui, const RunSettings &settings,
    const PrintOptions &options = {}, ApplicationFactory engineFactory = {}, Validation *failed = nullptr);
// The run itself, to `printer` (a destination resolvePrinter gave; may be empty in a dry run).
RunSummary runPrint(const PrintInputs &inputs, const QString &printer, UserInterface &ui, const RunSettings &settings,
    const PrintOptions &options = {}, ApplicationFactory engineFactory = {});

} // namespace gm
