// Hidden columns and column widths written into .xls workbooks by the record editor, read
// back by xlrd (an independent reader) and checked by the value-level guard: nothing but the
// column records changes.

#include "automation/EngineError.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/SheetRowsColumns.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace gm::xls {
namespace {

// Column -> [width, hidden] of the first sheet as xlrd reads them; empty when xlrd is missing.
QJsonObject columnsByXlrd(const QString &path)
{
    const QString script = QStringLiteral("import json, sys\n"
                                          "import xlrd\n"
                                          "s = xlrd.open_workbook(sys.argv[1], formatting_info=True).sheet_by_index(0)\n"
                                          "print(json.dumps({str(k): [v.width, v.hidden] for k, v in s.colinfo_map.items()}))\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        if (python.readAllStandardError().contains("No module named 'xlrd'") || python.error() == QProcess::FailedToStart)
            return {};
        ADD_FAILURE() << "xlrd could not read " << path.toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

TEST(XlsColumns, HiddenAndWidthsLandOnTheRunAndNothingElseChanges)
{
    QTemporaryDir dir;
    for (const char *name : {"poi-45538_classic_Header.xls", "xlrd-issue20.xls", "xlrd-Formate.xls"}) {
        SCOPED_TRACE(name);
        const QString source = gm::test::corpusFile(QStringLiteral("xls/") + QString::fromLatin1(name));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString path = gm::test::copyInto(source, dir.path());
        const QJsonObject before = columnsByXlrd(path);
        if (before.isEmpty() && columnsByXlrd(source).isEmpty())
            GTEST_SKIP() << "xlrd not installed";

        {
            auto workbook = openXlsRecords(path);
            auto sheet = workbook->worksheet(1);
            sheet->setColumnsHidden(QStringLiteral("E:C"));
            sheet->setColumnWidth(QStringLiteral("B"), 12);
            sheet->setColumnWidth(QStringLiteral("G:H"), 0);
            workbook->close(true);
        }
        EXPECT_NO_THROW(checkSaveKeepsContent(source, path, {}));

        const QJsonObject after = columnsByXlrd(path);
        for (int column = 0; column < 256; ++column) {
            SCOPED_TRACE(column);
            const QString key = QString::number(column);
            const QJsonArray now = after.value(key).toArray();
            const QJsonArray old = before.value(key).toArray();
            if ((column >= 2 && column <= 4) || column == 6 || column == 7) {
                ASSERT_FALSE(now.isEmpty());
                EXPECT_EQ(now[1].toInt(), 1);
                if (!old.isEmpty()) {
                    EXPECT_EQ(now[0].toInt(), old[0].toInt()) << "a hidden column keeps its width";
                }
            } else if (column == 1) {
                ASSERT_FALSE(now.isEmpty());
                EXPECT_EQ(now[1].toInt(), 0);
                // 12 characters in whole pixels of some digit width between 5 and 12.
                bool onGrid = false;
                for (int mdw = 5; mdw <= 12; ++mdw)
                    onGrid = onGrid || now[0].toInt() == int(std::lround(xlsx::storedColumnWidth(12, mdw) * 256));
                EXPECT_TRUE(onGrid) << now[0].toInt();
            } else {
                EXPECT_EQ(now, old);
            }
        }
    }
}

TEST(XlsColumns, RunsBeyondTheFormatFailAndLeaveTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QByteArray original = gm::test::readAll(path);
    auto workbook = openXlsRecords(path);
    auto sheet = workbook->worksheet(1);
    struct Case
    {
        const char *what;
        std::function<void()> change;
        ErrorCode code;
    };
    const Case cases[] = {
        {"beyond column IV", [&] { sheet->setColumnsHidden(QStringLiteral("IU:IW")); }, ErrorCode::LineRunInvalid},
        {"width above the limit", [&] { sheet->setColumnWidth(QStringLiteral("A"), 300); }, ErrorCode::LineSizeOutOfRange},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.change();
            ADD_FAILURE() << "not refused";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.code);
        }
    }
    workbook->close(true);
    EXPECT_TRUE(gm::test::readAll(path) == original);
}

} // namespace
} // namespace gm::xls
