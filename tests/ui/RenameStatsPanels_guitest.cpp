// The batch rename and statistics panels driven as the user would: the rename replaces the
// list entries of renamed files only; the statistics run writes its report and shows it.

#include "GuiTestSupport.h"

#include "doclist/DocumentListModel.h"
#include "operations/files/BatchRename.h"
#include "operations/workbook/StatisticsOperation.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class RenameStatsPanelsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void setText(const QString &name, const QString &text) { find<QLineEdit>(name)->setText(text); }
};

TEST_F(RenameStatsPanelsTest, RenameReplacesTheEntriesOfRenamedFiles)
{
    click(QStringLiteral("CmdRename"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kRenameEmptyList});

    const QString folder = tempPath(QStringLiteral("in"));
    const QString book = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), folder, QStringLiteral("Book1.xlsx"));
    const QString other = copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QStringLiteral("Other.xls"));
    copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QStringLiteral("X_Other.xls"));
    m_dialogs.files.push_back({book, other});
    action(QStringLiteral("AddFile"))->trigger();
    ASSERT_EQ(m_window->documents().count(), 2);

    click(QStringLiteral("Option3"));
    setText(QStringLiteral("TxtInsert"), QStringLiteral("X_"));
    setText(QStringLiteral("txtInsertPos"), QStringLiteral("0"));
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdRename"));
    EXPECT_EQ(m_dialogs.texts(), (QStringList{other + QStringLiteral("\n\n") + kRenameClash, kRenameDone}));
    EXPECT_EQ(m_window->documents().entries(), (QStringList{folder + QStringLiteral("/X_Book1.xlsx"), other}));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/X_Book1.xlsx")));

    // The case kind: upper main name, lower extension.
    click(QStringLiteral("Option2"));
    auto *prefix = find<QComboBox>(QStringLiteral("CmbPrefix"));
    prefix->setCurrentIndex(1);
    emit prefix->activated(1);
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdRename"));
    EXPECT_EQ(m_window->documents().entries(),
              (QStringList{folder + QStringLiteral("/X_BOOK1.xlsx"), folder + QStringLiteral("/OTHER.xls")}));

    // An empty search text puts the focus into the search field.
    click(QStringLiteral("Option1"));
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdRename"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kRenameNoSearchText});
}

TEST_F(RenameStatsPanelsTest, StatisticsWriteTheReportAndShowIt)
{
    const QString folder = tempPath(QStringLiteral("in"));
    const QString book = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), folder);
    m_dialogs.files.push_back({book});
    action(QStringLiteral("AddFile"))->trigger();
    click(QStringLiteral("ChkCount(0)"));
    auto *command = find<QPushButton>(QStringLiteral("CmdSum"));
    ASSERT_TRUE(command->isEnabled());

    // No output file: the message, then the save dialog; nothing runs.
    const QString report = tempPath(QStringLiteral("报告.txt"));
    m_dialogs.files.push_back({report});
    command->click();
    EXPECT_EQ(m_dialogs.texts(), QStringList{kStatisticsNoOutput});
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("txtCount"))->text(), report);
    EXPECT_FALSE(QFileInfo::exists(report));

    m_dialogs.messages.clear();
    QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
    command->click();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kStatisticsDone});
    EXPECT_EQ(m_dialogs.opened, QStringList{report});
    EXPECT_EQ(readAll(report), QByteArray("\xEF\xBB\xBF")
                                      + QStringLiteral("统计结果：\r\n\r\n%1\t2工作表\r\n\r\n合计：\t2工作表\r\n").arg(book).toUtf8());
}

} // namespace
} // namespace gm::test
