// A template that passes the file checks but cannot be read as a workbook (a zip package that
// holds no workbook) is found when the run reads it, before any document is opened.

#include "operations/workbook/HeaderFooterOperation.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zip.h>

using namespace gm;

TEST(HeaderFooterTemplateOffice, AnUnreadableTemplateStopsTheRunOnceWithEveryDocumentUntouched)
{
    QTemporaryDir dir;
    const QString templ = dir.filePath(QStringLiteral("template.xlsx"));
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(templ).constData(), ZIP_CREATE, &error);
    ASSERT_NE(archive, nullptr);
    zip_file_add(archive, "notes.txt", zip_source_buffer(archive, "hello", 5, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);

    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QByteArray xlsxBefore = gm::test::readAll(xlsx);
    const QByteArray xlsBefore = gm::test::readAll(xls);

    HeaderFooterInputs inputs;
    inputs.entries = {xlsx, xls};
    inputs.templatePath = templ;
    const RunSettings settings{true, dir.filePath(QStringLiteral("run.log"))};
    gm::test::ScriptedUi ui;
    const RunSummary summary = runHeaderFooter(inputs, ui, settings);

    EXPECT_TRUE(summary.stopped);
    EXPECT_TRUE(summary.files.empty());
    ASSERT_EQ(ui.messages.size(), 1) << ui.messages.join(u'\n').toStdString();
    EXPECT_TRUE(ui.messages[0].startsWith(QStringLiteral("页眉页脚模板无法使用：")));
    EXPECT_TRUE(ui.messages[0].endsWith(kHeaderFooterNoTemplate));
    EXPECT_TRUE(ui.questions.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(settings.logFile));
    EXPECT_EQ(gm::test::readAll(xlsx), xlsxBefore);
    EXPECT_EQ(gm::test::readAll(xls), xlsBefore);
    EXPECT_EQ(ui.busyChanges, (QList<bool>{true, false}));
    EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
}
