// Document protection over a list of real workbooks, then loaded by the engine: the engine
// itself must see the workbooks and worksheets protected as asked (read from the package it
// writes of them), and the files the editors cannot take fail without being changed.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "operations/workbook/ProtectOperation.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::test::fixture;

namespace {

class ProtectOperationTest : public ::testing::Test
{
protected:
    void SetUp() override { settings = {true, dir.filePath(QStringLiteral("run.log"))}; }
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    // The engine loads the workbook and writes it as a package; the protection elements of
    // that package are what the engine understood.
    QString engineView(const QString &path, const QString &part)
    {
        const QString out = dir.filePath(QStringLiteral("engine-%1.xlsx").arg(++m_views));
        std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
        book->saveAs(out, FileFormat::OpenXmlWorkbook);
        book->close(false);
        return QString::fromUtf8(gm::test::zipEntry(out, part));
    }

    QTemporaryDir dir;
    RunSettings settings;
    EngineSession session;
    int m_views = 0;
};

QString protectionElement(const QString &xml, const QString &name)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("<%1 [^>]*>").arg(name)).match(xml);
    return match.captured(0);
}

bool flagIs(const QString &element, const char *flag, bool value)
{
    const QString pattern = QStringLiteral(" %1=\"(%2)\"")
                                .arg(QString::fromLatin1(flag), value ? QStringLiteral("1|true") : QStringLiteral("0|false"));
    return element.contains(QRegularExpression(pattern));
}

TEST_F(ProtectOperationTest, WorksheetsProtectedAsTheEngineSeesThemAndRefusalsLeaveFilesAlone)
{
    const QString xlsx = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString xls = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QString readOnly
        = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path(), QStringLiteral("locked.xlsx"));
    QFile::setPermissions(readOnly, QFile::ReadOwner);
    QStringList refused{readOnly};
    const QString biff5 = gm::test::corpusFile(QStringLiteral("xls/calamine-biff5_write.xls"));
    const QString encrypted = gm::test::corpusFile(QStringLiteral("encrypted/poi-password.xls"));
    if (!biff5.isEmpty())
        refused << gm::test::copyInto(biff5, dir.path()) << gm::test::copyInto(encrypted, dir.path());
    std::map<QString, QByteArray> originals;
    for (const QString &path : refused)
        originals[path] = gm::test::readAll(path);

    ProtectInputs inputs;
    inputs.entries = QStringList{xlsx, dir.filePath(QStringLiteral("missing.xlsx")), xls} + refused;
    inputs.protectWorkbook = false;
    inputs.allowed.allow(SheetPermission::Sort);
    inputs.allowed.allow(SheetPermission::AutoFilter);
    inputs.password = QStringLiteral("secret");
    gm::test::ScriptedUi ui;
    const RunSummary summary = protectWorkbooks(inputs, ui, settings);

    EXPECT_EQ(ui.messages.first(), kProtectDone);
    ASSERT_EQ(summary.files.size(), inputs.entries.size());
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Skipped); // missing: no log line
    EXPECT_EQ(summary.files[2].outcome, FileOutcome::Processed) << summary.files[2].errorDescription.toStdString();
    std::vector<int> numbers;
    for (size_t i = 3; i < summary.files.size(); ++i)
        numbers.push_back(summary.files[i].errorNumber);
    std::vector<int> expected{int(ErrorCode::ReadOnlyFile)};
    if (refused.size() > 1)
        expected.insert(expected.end(), {int(ErrorCode::ProtectionNeedsBiff8), int(ErrorCode::PasswordRequired)});
    EXPECT_EQ(numbers, expected);
    for (const auto &[path, bytes] : originals)
        EXPECT_EQ(gm::test::readAll(path), bytes) << path.toStdString();
    QFile log(settings.logFile);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    EXPECT_EQ(logged.count(kProtectAction), int(expected.size()));
    EXPECT_FALSE(logged.contains(QStringLiteral("missing.xlsx")));

    // Both worksheets of both workbooks, as the engine reads them: protected, sorting and
    // filtering allowed, formatting not.
    for (const QString &path : {xlsx, xls}) {
        for (int sheet = 1; sheet <= 2; ++sheet) {
            SCOPED_TRACE(QStringLiteral("%1 sheet %2").arg(path).arg(sheet).toStdString());
            const QString element = protectionElement(
                engineView(path, QStringLiteral("xl/worksheets/sheet%1.xml").arg(sheet)), QStringLiteral("sheetProtection"));
            EXPECT_TRUE(flagIs(element, "sheet", true)) << element.toStdString();
            EXPECT_TRUE(flagIs(element, "sort", false)) << element.toStdString();
            EXPECT_TRUE(flagIs(element, "autoFilter", false)) << element.toStdString();
            EXPECT_FALSE(flagIs(element, "formatCells", false)) << element.toStdString();
            EXPECT_FALSE(flagIs(element, "deleteRows", false)) << element.toStdString();
        }
    }
}

TEST_F(ProtectOperationTest, WorkbookStructureAsTheEngineSeesIt)
{
    const QString xlsx = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString xls = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    ProtectInputs inputs;
    inputs.entries = {xlsx, xls};
    inputs.structure = true;
    gm::test::ScriptedUi ui;

    // Neither structure nor windows: the message, and nothing runs.
    inputs.structure = false;
    Validation failed;
    EXPECT_TRUE(protectWorkbooks(inputs, ui, settings, {}, &failed).stopped);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->message, kProtectNeedsMethod);
    EXPECT_EQ(ui.messages, QStringList{kProtectNeedsMethod});

    // The engine writes a bare <workbookProtection/> for a workbook it takes as unprotected.
    EXPECT_EQ(
        protectionElement(engineView(xls, QStringLiteral("xl/workbook.xml")), QStringLiteral("workbookProtection")), QString());

    inputs.structure = true;
    const RunSummary summary = protectWorkbooks(inputs, ui, settings);
    EXPECT_EQ(summary.failedCount(), 0);
    // The engine takes the .xls workbook as protected; it writes no structure flag of its own.
    // It ignores the protection of an .xlsx when loading one, so there only its loading the
    // result is checked here (the flags and the hash are read back by openpyxl elsewhere).
    EXPECT_FALSE(
        protectionElement(engineView(xls, QStringLiteral("xl/workbook.xml")), QStringLiteral("workbookProtection")).isEmpty());
    EXPECT_TRUE(QString::fromUtf8(gm::test::zipEntry(xlsx, QStringLiteral("xl/workbook.xml")))
                    .contains(QStringLiteral("lockStructure=\"1\"")));
    EXPECT_EQ(session.open(xlsx, WorkbookUse::Engine, true)->worksheetCount(), 2);
}

} // namespace
