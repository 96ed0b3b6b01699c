// Print setup and header/footer runs over .xls files: done by the record editor, so no engine is
// ever started; a print area the .xls grid cannot hold fails the file and leaves it untouched.

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffInfo.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "operations/workbook/PropertiesOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

class XlsPageSetupRunTest : public ::testing::Test
{
protected:
    // A factory that counts starts and refuses them: any use of the engine shows.
    ApplicationFactory noEngine()
    {
        return [this]() -> std::unique_ptr<Application> {
            ++engineStarts;
            throw EngineError(ErrorCode::EngineUnavailable);
        };
    }
    QString copy(const char *corpus)
    {
        const QString source = gm::test::corpusFile(QString::fromLatin1(corpus));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, dir.path());
    }

    QTemporaryDir dir;
    RunSettings settings{true, QString()};
    gm::test::ScriptedUi ui;
    int engineStarts = 0;
};

TEST_F(XlsPageSetupRunTest, PrintSetupAndHeadersNeedNoEngine)
{
    settings.logFile = dir.filePath(QStringLiteral("run.log"));
    const QString quoted = copy("xls/xlrd-namesdemo.xls"); // sheet names that need quoting
    const QString charts = copy("xls/poi-45538_classic_Header.xls");
    if (quoted.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    PrintSetupInputs print;
    print.entries = {quoted, charts};
    print.setArea = true;
    print.topLeft = QStringLiteral("C3");
    print.bottomRight = QStringLiteral("B2");
    print.setOrientation = true;
    print.landscape = true;
    const RunSummary printed = setPrintSetup(print, ui, settings, noEngine());
    for (const FileResult &f : printed.files)
        EXPECT_EQ(f.outcome, FileOutcome::Processed) << f.path.toStdString() << " " << f.errorDescription.toStdString();

    // An .xls template: its active sheet's header lands on every worksheet.
    HeaderFooterInputs headers{{quoted}, charts, true, true, false};
    const RunSummary copied = copyHeaderFooter(headers, ui, settings, noEngine());
    ASSERT_EQ(copied.failedCount(), 0) << copied.files[0].errorDescription.toStdString();
    EXPECT_EQ(engineStarts, 0);

    for (const BiffSheet &sheet : readBiff(quoted).sheets) {
        SCOPED_TRACE(sheet.name.toStdString());
        if (sheet.type != 0)
            continue;
        EXPECT_EQ(sheet.printArea, QStringLiteral("$B$2:$C$3"));
        EXPECT_EQ(sheet.orientation, 2);
        EXPECT_EQ(sheet.header, QStringLiteral("&Ltestdoc&Rtest phrase"));
    }
}

TEST_F(XlsPageSetupRunTest, AnAreaBeyondTheXlsGridFailsTheFileUntouched)
{
    const QString book = copy("xls/poi-SimpleWithPrintArea.xls");
    if (book.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QByteArray before = gm::test::readAll(book);
    for (const auto &[from, to] :
        {std::pair{QStringLiteral("A1"), QStringLiteral("IW100")}, std::pair{QStringLiteral("ZZ5"), QStringLiteral("B2")}}) {
        SCOPED_TRACE(to.toStdString());
        PrintSetupInputs print;
        print.entries = {book};
        print.setArea = true;
        print.topLeft = from;
        print.bottomRight = to;
        print.setOrientation = true; // would succeed alone, but the file is not changed half-way
        print.landscape = true;
        const RunSummary summary = setPrintSetup(print, ui, settings, noEngine());
        ASSERT_EQ(summary.files.size(), 1u);
        EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
        EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::InvalidArgument));
        EXPECT_TRUE(summary.files[0].errorDescription.contains(QStringLiteral("IV")))
            << summary.files[0].errorDescription.toStdString();
        EXPECT_EQ(gm::test::readAll(book), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
    EXPECT_EQ(engineStarts, 0);
}

TEST_F(XlsPageSetupRunTest, EncryptedAndDamagedXlsFailWithTheirOwnErrors)
{
    const struct
    {
        const char *file;
        ErrorCode code;
    } cases[] = {
        {"encrypted/poi-password.xls", ErrorCode::PasswordRequired},
        {"encrypted/poi-xor-encryption-abc.xls", ErrorCode::PasswordRequired},
        {"xls/calamine-issue_385.xls", ErrorCode::PasswordRequired},
        {"bad/xlrd-corrupted_error.xls", ErrorCode::Damaged},
        {"bad/calamine-OOM_alloc3.xls", ErrorCode::Damaged},
        // A sound container whose workbook stream is no sequence of records: cut inside one,
        // and with bytes before its first BOF.
        {"cut", ErrorCode::Damaged},
        {"junk", ErrorCode::Damaged},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        QString book;
        if (QByteArray(c.file) == "cut" || QByteArray(c.file) == "junk") {
            ole::CompoundEntry root = ole::CompoundFile::readFile(gm::test::fixture(QStringLiteral("sheets_second_active.xls")));
            ole::CompoundEntry *stream = root.child("Workbook");
            ASSERT_NE(stream, nullptr);
            stream->data = QByteArray(c.file) == "cut" ? stream->data.left(stream->data.size() / 2 + 1)
                                                       : QByteArray::fromHex("01000200ABCD") + stream->data;
            book = dir.filePath(QString::fromLatin1(c.file) + QStringLiteral(".xls"));
            gm::test::writeAll(book, ole::CompoundFile::write(root));
        } else {
            book = copy(c.file);
        }
        if (book.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QByteArray before = gm::test::readAll(book);
        PrintSetupInputs print;
        print.entries = {book};
        print.setOrientation = true;
        EXPECT_EQ(setPrintSetup(print, ui, settings, noEngine()).files[0].errorNumber, int(c.code));
        // Document properties live outside the workbook stream, yet such a file is not touched.
        PropertiesInputs properties;
        properties.entries = {book};
        properties.checked = propertyChecks(1);
        properties.values[0] = QStringLiteral("标题");
        EXPECT_EQ(setProperties(properties, ui, settings, noEngine()).files[0].errorNumber, int(c.code));
        EXPECT_EQ(gm::test::readAll(book), before);
    }
    EXPECT_EQ(engineStarts, 0);
}

} // namespace
