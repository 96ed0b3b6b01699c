// The header/footer template is checked before the run: a template that is missing or not a
// readable workbook stops the command with one message and the focus on the template box.

#include "automation/EngineError.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

TEST(HeaderFooterTemplate, UnusableTemplatesAreOneProblemOfTheCommand)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray workbook = gm::test::readAll(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    auto make = [&](const char *name, const QByteArray &bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        gm::test::writeAll(path, bytes);
        return path;
    };
    QByteArray scrambled = workbook;
    for (qsizetype i = scrambled.size() / 3; i < scrambled.size() / 3 + 64; ++i)
        scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5a);

    const QString missingMessage = kHeaderFooterNoTemplate;
    auto problem = [](ErrorCode code) { return headerFooterTemplateProblem(EngineError::describe(code)); };
    struct Case
    {
        const char *name;
        QString path;
        std::optional<QString> message; // nullopt: the template passes
    };
    std::vector<Case> cases = {
        {"blank path", QString(), missingMessage},
        {"missing file", dir.filePath(QStringLiteral("none.xls")), missingMessage},
        {"a folder", dir.path(), missingMessage},
        {"text named .xls", make("notes.xls", "Name,Value\r\nA,1\r\n"), problem(ErrorCode::NotAWorkbook)},
        {"HTML named .xlsx", make("page.xlsx", "<html><body><table></table></body></html>"), problem(ErrorCode::NotAWorkbook)},
        {"empty file", make("empty.xlsx", QByteArray()), problem(ErrorCode::EmptyFile)},
        {"damaged package", make("damaged.xlsx", scrambled), problem(ErrorCode::Damaged)},
        {"good .xlsx", make("good.xlsx", workbook), std::nullopt},
        {"good .xls", gm::test::fixture(QStringLiteral("sheets_second_active.xls")), std::nullopt},
    };
    const QString encrypted = gm::test::corpusFile(QStringLiteral("encrypted/poi-protect.xlsx"));
    if (!encrypted.isEmpty())
        cases.push_back({"encrypted .xlsx", encrypted, problem(ErrorCode::PasswordRequired)});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        HeaderFooterInputs inputs;
        inputs.entries = {dir.filePath(QStringLiteral("doc.xlsx"))};
        inputs.templatePath = c.path;
        const Validation failure = validateHeaderFooter(inputs);
        ASSERT_EQ(failure.has_value(), c.message.has_value());
        if (!failure)
            continue;
        EXPECT_EQ(failure->message, *c.message);
        EXPECT_EQ(failure->control, QStringLiteral("txtHeaderFooterTemplate"));

        // The command stops at its checks: one message, no run.
        gm::test::ScriptedUi ui;
        Validation shown;
        const RunSummary summary = copyHeaderFooter(inputs, ui, RunSettings{}, {}, &shown);
        EXPECT_TRUE(summary.stopped);
        EXPECT_EQ(ui.messages, QStringList{*c.message});
        EXPECT_TRUE(ui.busyChanges.isEmpty());
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(shown->control, failure->control);
    }
    // A one-line message: what is wrong, then what to do.
    EXPECT_EQ(problem(ErrorCode::EmptyFile),
        QStringLiteral("页眉页脚模板无法使用：文件为空（0字节），不是有效的工作簿。请选择已设置好页眉页脚的EXCEL文档模板！"));
}
