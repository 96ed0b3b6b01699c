// The insert sub-panel and the merge panel driven as the user would: the source listing,
// the checks on the window's side, then real runs on copies of the fixtures.

#include "GuiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class InsertMergePanelsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    QStringList listed() const
    {
        QStringList names;
        auto *list = find<QListWidget>(QStringLiteral("LstInsSheet"));
        for (int i = 0; i < list->count(); ++i)
            names.append(list->item(i)->text());
        return names;
    }
    QString addCopy(const QString &fixtureName)
    {
        const QString book = copyInto(fixture(fixtureName), tempPath(QStringLiteral("in")));
        m_dialogs.files.push_back({book});
        action(QStringLiteral("AddFile"))->trigger();
        m_dialogs.messages.clear();
        return book;
    }
    void runAndWait(const QString &button)
    {
        QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
        click(button);
        ASSERT_TRUE(m_window->runner().isRunning());
        EXPECT_FALSE(find<QPushButton>(button)->isEnabled());
        ASSERT_TRUE(finished.wait(120000));
        EXPECT_TRUE(find<QPushButton>(button)->isEnabled());
    }
};

TEST_F(InsertMergePanelsTest, TheSourceListsItsWorksheetsAndTheInsertRuns)
{
    action(QStringLiteral("BatchSheet"))->trigger();
    click(QStringLiteral("OptInsertSheet"));
    auto *source = find<QLineEdit>(QStringLiteral("TxtSheetSource"));
    auto *command = find<QPushButton>(QStringLiteral("CmdInsSheet"));
    // Enabled with an empty list at start; a click then names what is missing.
    EXPECT_TRUE(command->isEnabled());
    addCopy(QStringLiteral("sheets_second_active.xlsx"));
    click(QStringLiteral("CmdInsSheet"));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("没有指定源工作表！"));

    source->setText(fixture(QStringLiteral("sheet_references.xlsx")));
    const QStringList first = listed();
    EXPECT_GE(first.size(), 2);
    EXPECT_EQ(find<QListWidget>(QStringLiteral("LstInsSheet"))->currentRow(), 0);
    EXPECT_TRUE(command->isEnabled());
    source->setText(fixture(QStringLiteral("sheets_second_active.xls")));
    EXPECT_EQ(listed(), QStringList({QStringLiteral("First"), QStringLiteral("第二")}));
    source->setText(tempPath(QStringLiteral("nothing.xlsx")));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_FALSE(command->isEnabled());
    // A file that is no workbook: told, nothing listed.
    writeAll(tempPath(QStringLiteral("text.xlsx")), "not a workbook");
    m_dialogs.messages.clear();
    source->setText(tempPath(QStringLiteral("text.xlsx")));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(m_dialogs.messages.size(), 1u);

    source->setText(fixture(QStringLiteral("sheets_second_active.xlsx")));
    find<QListWidget>(QStringLiteral("LstInsSheet"))->setCurrentRow(1);
    m_dialogs.messages.clear();
    runAndWait(QStringLiteral("CmdInsSheet"));
    EXPECT_EQ(m_dialogs.texts().value(0), QStringLiteral("处理完成！"));
    const QString book = tempPath(QStringLiteral("in/sheets_second_active.xlsx"));
    EXPECT_TRUE(zipEntry(book, QStringLiteral("xl/workbook.xml")).contains("name=\"第二 (2)\""));
}

TEST_F(InsertMergePanelsTest, MergeChecksItsTargetThenWritesTheMergedWorkbook)
{
    action(QStringLiteral("Unite"))->trigger();
    EXPECT_EQ(find<QCheckBox>(QStringLiteral("ChkDelBlank"))->checkState(), Qt::PartiallyChecked);
    click(QStringLiteral("CmdUnite"));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("没有需要处理的文档！"));

    addCopy(QStringLiteral("sheets_second_active.xlsx"));
    // No target: the message, then the save dialog, and no run.
    m_dialogs.files = {{}};
    click(QStringLiteral("CmdUnite"));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("请输入要合并到的新文件名！"));
    EXPECT_TRUE(m_dialogs.files.empty()) << "the save dialog did not open";
    EXPECT_FALSE(m_window->runner().isRunning());

    const QString target = tempPath(QStringLiteral("合并.xlsx"));
    find<QLineEdit>(QStringLiteral("txtUniteFile"))->setText(target);
    click(QStringLiteral("ChkBookName"));
    m_dialogs.messages.clear();
    runAndWait(QStringLiteral("CmdUnite"));
    EXPECT_EQ(m_dialogs.texts().value(0), QStringLiteral("电子表格文件合并完成！"));
    const QByteArray workbook = zipEntry(target, QStringLiteral("xl/workbook.xml"));
    EXPECT_TRUE(workbook.contains("name=\"sheets_second_active-First\"")) << workbook.toStdString();
    EXPECT_TRUE(workbook.contains("name=\"sheets_second_active-第二\""));
}

} // namespace
} // namespace gm::test
