#pragma once

#include <QList>
#include <QString>

namespace gm {

// What the workbook stream of an .xls file records, read without the engine: used where the
// engine does not report a value (the active sheet, header and footer codes) and to check
// that a save kept what the original had.
struct BiffSheet
{
    QString name;
    int type = 0; // 0 worksheet, 2 chart, 1 macro sheet, 6 VB module
    int state = 0; // 0 visible, 1 hidden, 2 very hidden
    QString header; // header code string, "" when none
    QString footer;
    int orientation = 0; // 1 portrait, 2 landscape, 0 when the page setup holds none
    QString printArea; // "$A$1:$E$100" (areas joined by ","), "" when none
};

struct BiffSummary
{
    bool valid = false;
    bool encrypted = false;
    int activeSheet = -1; // 0-based position among all sheets
    QList<BiffSheet> sheets;
    int stringFormulaResults = 0; // formulas whose cached result is text
    int booleanFormulaResults = 0;
    bool hasVbaProject = false; // a _VBA_PROJECT_CUR storage beside the workbook stream
};

BiffSummary readBiff(const QString &path);

// The 0-based position of the active sheet, or -1 when it cannot be read.
int biffActiveSheet(const QString &path);

} // namespace gm
