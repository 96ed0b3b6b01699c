// The document protection panel driven as the user would: its checks before any run, then a
// real run over copies of the fixture workbooks.

#include "GuiTestSupport.h"

#include "automation/xls/BiffTestSupport.h"

#include "operations/workbook/ProtectOperation.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"
#include "ui/panels/FeaturePanel.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class ProtectPanelTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        action(QStringLiteral("Protect"))->trigger();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
};

TEST_F(ProtectPanelTest, ChecksThenProtectsEveryWorksheetWithTheMarkedActions)
{
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("CmdProtect"))->isEnabled());
    click(QStringLiteral("CmdProtect"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kProtectEmptyList});

    const QString xlsx = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), tempPath(QStringLiteral("in")));
    const QString xls = copyInto(fixture(QStringLiteral("sheets_second_active.xls")), tempPath(QStringLiteral("in")));
    m_dialogs.files.push_back({xlsx, xls});
    action(QStringLiteral("AddFile"))->trigger();
    const QByteArray original = readAll(xlsx);

    // Workbook protection needs structure or windows; the message, and nothing runs.
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdProtect"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kProtectNeedsMethod});
    EXPECT_FALSE(m_window->runner().isRunning());
    EXPECT_EQ(readAll(xlsx), original);

    click(QStringLiteral("OptProtectSheet"));
    auto *allowed = find<QListWidget>(QStringLiteral("List1"));
    allowed->item(8)->setCheckState(Qt::Checked); // sort
    allowed->item(9)->setCheckState(Qt::Checked); // AutoFilter
    find<QLineEdit>(QStringLiteral("txtProtect"))->setText(QStringLiteral("secret"));
    m_dialogs.messages.clear();
    QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
    click(QStringLiteral("CmdProtect"));
    ASSERT_TRUE(m_window->runner().isRunning());
    EXPECT_FALSE(find<FeaturePanel>(QStringLiteral("fraProtect"))->commandWanted(QStringLiteral("CmdProtect")));
    ASSERT_TRUE(finished.wait(240000));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kProtectDone});
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("CmdProtect"))->isEnabled());

    for (int sheet = 1; sheet <= 2; ++sheet) {
        const QByteArray xml = zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet%1.xml").arg(sheet));
        EXPECT_TRUE(xml.contains("sheet=\"1\" objects=\"1\" scenarios=\"1\" sort=\"0\" autoFilter=\"0\"/>")) << xml.toStdString();
    }
    // The record editor's file: one FEATHEADR per worksheet allowing sorting and filtering.
    EXPECT_EQ(xls::test::workbookStreamOf(xls).count(QByteArray::fromHex("0200"
                                                                         "01"
                                                                         "FFFFFFFF"
                                                                         "005C0000")),
        2);
}

} // namespace
} // namespace gm::test
