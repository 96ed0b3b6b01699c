// Content replace over real workbooks: cells are matched by the text they show and the
// replacement is written as typed; an independent reader of the saved XML and the engine
// loading the result see exactly the intended cells changed.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "operations/cells/ReplaceOperation.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>

using namespace gm;
using gm::test::fixture;
using gm::test::zipEntry;

namespace {

class ReplaceTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    RunSummary replace(const QString &path, const char *find, const char *with, bool contains)
    {
        ReplaceInputs inputs;
        inputs.entries = {path};
        inputs.find = QString::fromUtf8(find);
        inputs.replacement = QString::fromUtf8(with);
        inputs.contains = contains;
        return replaceContent(inputs, ui, settings);
    }

    QStringList engineTexts(const QString &path, const QString &sheetName, const QStringList &cells)
    {
        QStringList texts;
        std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
        auto sheet = book->worksheet(sheetName);
        for (const QString &cell : cells)
            texts << sheet->cellText(cell);
        book->close(false);
        return texts;
    }

    QTemporaryDir dir;
    RunSettings settings;
    gm::test::ScriptedUi ui;
    EngineSession session;
};

std::string cellXml(const QString &path, const char *part, const char *ref)
{
    const QByteArray bytes = zipEntry(path, QString::fromLatin1(part));
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(bytes.constData(), size_t(bytes.size())));
    std::ostringstream out;
    document.select_node((std::string("//c[@r='") + ref + "']").c_str()).node().print(out, "", pugi::format_raw);
    return out.str();
}

} // namespace

TEST_F(ReplaceTest, MatchesDisplayedTextAndWritesTypedValues)
{
    const QString path = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QByteArray picture = zipEntry(path, QStringLiteral("xl/media/image1.png"));

    // 1234.5678 shows 1,234.57 with its #,##0.00 format; the number 99 keeps the format.
    RunSummary summary = replace(path, "1,234.57", "99", false);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(cellXml(path, "xl/worksheets/sheet2.xml", "B1"), "<c r=\"B1\" s=\"1\"><v>99</v></c>");
    // 45000 shows 2023-03-15; a typed date keeps the cell's own date format.
    summary = replace(path, "2023-03-15", "1/2/2020", false);
    EXPECT_EQ(cellXml(path, "xl/worksheets/sheet2.xml", "B2"), "<c r=\"B2\" s=\"2\"><v>43832</v></c>");
    // Contains mode, letter case aside, on every worksheet.
    summary = replace(path, "SHEET", "页", true);
    ASSERT_EQ(summary.failedCount(), 0);
    EXPECT_EQ(cellXml(path, "xl/worksheets/sheet1.xml", "A1"), "<c r=\"A1\" t=\"s\"><v>3</v></c>");
    EXPECT_EQ(cellXml(path, "xl/worksheets/sheet1.xml", "B1"), "<c r=\"B1\"><v>1</v></c>");
    EXPECT_EQ(cellXml(path, "xl/worksheets/sheet2.xml", "A2"), "<c r=\"A2\" s=\"3\" t=\"s\"><v>1</v></c>");
    EXPECT_EQ(zipEntry(path, QStringLiteral("xl/media/image1.png")), picture);

    // Nothing in scope: the file is not written again.
    const QByteArray before = gm::test::readAll(path);
    ReplaceInputs limited;
    limited.entries = {path};
    limited.find = QStringLiteral("99");
    limited.limitRows = true;
    limited.rowFrom = QStringLiteral("100");
    limited.rowTo = QStringLiteral("200");
    EXPECT_EQ(replaceContent(limited, ui, settings).failedCount(), 0);
    EXPECT_EQ(gm::test::readAll(path), before);

    EXPECT_EQ(engineTexts(path, QStringLiteral("第二"),
                  {QStringLiteral("A1"), QStringLiteral("A2"), QStringLiteral("B1"), QStringLiteral("B2")}),
        (QStringList{
            QStringLiteral("second-页"), QStringLiteral("中文,逗号"), QStringLiteral("99.00"), QStringLiteral("2020-01-02")}));
    EXPECT_EQ(engineTexts(path, QStringLiteral("First"), {QStringLiteral("A1")}), QStringList{QStringLiteral("first-页")});
}
