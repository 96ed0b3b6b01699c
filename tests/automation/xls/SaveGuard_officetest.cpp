// In-place saves of .xls workbooks through the engine: a save that would change what the
// change did not ask for leaves the original byte for byte and says what would have changed;
// a save that keeps everything, or changes only what was asked, replaces it.

#include "support/TestSupport.h"

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/SaveGuard.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace gm::xls {
namespace {

class EngineSaveGuardTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { app = std::make_unique<lo::LoApplication>(libreOfficeProgramDir()); }
    static void TearDownTestSuite()
    {
        if (app)
            app->quit();
        app.reset();
    }

    QStringList filesInFolder() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    static std::unique_ptr<lo::LoApplication> app;
    QTemporaryDir dir;
};

std::unique_ptr<lo::LoApplication> EngineSaveGuardTest::app;

TEST_F(EngineSaveGuardTest, RefusesSavesThatChangeValuesNamesStoragesOrTheVbaProject)
{
    struct Case
    {
        const char *file;
        QString expected; // one of the differences the run log gets
    };
    const QList<Case> cases = {
        {"xls/calamine-empty-string.xls", QStringLiteral("Sheet1!A1: \"\" \u2192 (blank)")},
        {"xls/calamine-issue343.xls", QStringLiteral("Лист1!A1: =\"\" \u2192 =0")},
        {"xls/calamine-issue_271.xls", QStringLiteral("stream lost: ETExtData")},
        {"xls/poi-SimpleWithPrintArea.xls", QStringLiteral("name added: Excel_BuiltIn_Print_Area (Sheet1)")},
        {"xls/calamine-any_sheets.xls", QStringLiteral("VBA project lost")},
        {"bad/calamine-OOM_alloc.xls", QStringLiteral("name lost: _FilterDatabase (Data)")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString book = gm::test::copyInto(source, dir.path());
        const QByteArray before = gm::test::readAll(book);
        try {
            auto workbook = app->open(book);
            workbook->save();
            ADD_FAILURE() << "saved";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::WouldLoseContent);
            EXPECT_EQ(e.description(), QStringLiteral("保存会丢失原文件中的内容，已保留原文件。"));
            EXPECT_TRUE(e.detail().contains(c.expected)) << e.detail().toStdString();
        }
        EXPECT_EQ(gm::test::readAll(book), before);
        EXPECT_EQ(filesInFolder(), QStringList{QFileInfo(book).fileName()});
        QFile::remove(book);
    }
}

TEST_F(EngineSaveGuardTest, SavesWhatKeepsEverythingAndWhatChangesOnlyTheDeclaredName)
{
    GM_REQUIRE_CORPUS(source, "xls/calamine-date.xls");
    const QString book = gm::test::copyInto(source, dir.path());
    const WorkbookContent original = readXlsContent(book);
    {
        auto workbook = app->open(book);
        workbook->save();
        workbook->close(false);
    }
    EXPECT_EQ(contentDifferences(original, readXlsContent(book), ExpectedChanges()), QStringList());

    // A print area set through the engine is a name the save may add.
    {
        auto workbook = app->open(book);
        workbook->worksheet(1)->setPrintArea(QStringLiteral("$A$1:$B$3"));
        workbook->save();
        workbook->close(false);
    }
    const WorkbookContent changed = readXlsContent(book);
    EXPECT_EQ(contentDifferences(original, changed, ExpectedChanges()),
        QStringList{QStringLiteral("name added: Print_Area (%1)").arg(original.sheets.first().name)});
    ExpectedChanges printArea;
    printArea.addName(QStringLiteral("Print_Area"), 1);
    EXPECT_EQ(contentDifferences(original, changed, printArea), QStringList());
    EXPECT_EQ(filesInFolder(), QStringList{QFileInfo(book).fileName()});
}

} // namespace
} // namespace gm::xls
