#include "GuiTestSupport.h"

#include "doclist/DocumentListModel.h"
#include "ui/panels/FeaturePanel.h"

#include <QCheckBox>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace gm::test {
namespace {

class MainWindowTest : public WindowTest
{
protected:
    QString currentPanelName() const
    {
        QWidget *panel = m_window->currentPanel();
        return panel ? panel->objectName() : QString();
    }
    bool checked(const QString &name) const { return find<QAbstractButton>(name)->isChecked(); }
    FeaturePanel *panel(const QString &name) const { return find<FeaturePanel>(name); }
};

TEST_F(MainWindowTest, FirstStart)
{
    MainWindow &window = start();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Gridmule - Excel文档批处理工具"));
    EXPECT_EQ(currentPanelName(), QStringLiteral("FraUnite"));
    EXPECT_TRUE(action(QStringLiteral("Unite"))->isChecked());
    EXPECT_EQ(window.pressedFeatureIndex(), 11);
    EXPECT_FALSE(m_state.isRecordError);
    EXPECT_EQ(m_state.LogFile, defaultLogFile()); // in the user's state folder, not the program's

    EXPECT_TRUE(checked(QStringLiteral("OptDelSheet")));
    EXPECT_TRUE(find<QWidget>(QStringLiteral("fraBSheetDelete"))->isVisibleTo(find<QWidget>(QStringLiteral("fraBatchSheet"))));
    EXPECT_FALSE(find<QWidget>(QStringLiteral("CmbDelsheetPosition"))->isEnabled());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("CmbHideSheetPosition"))->isEnabled());
    EXPECT_EQ(find<QComboBox>(QStringLiteral("CmbDelSheetByName"))->currentText(), QStringLiteral("工作表名称等于"));
    for (const char *text : {"txtSheetName", "txtSheetOldName", "txtSheetNewName", "txtProperty(0)", "txtProperty(8)"})
        EXPECT_TRUE(find<QLineEdit>(QString::fromLatin1(text))->text().isEmpty()) << text;
    // Rename mode 1 by default: the active-sheet name is the field in use.
    EXPECT_TRUE(checked(QStringLiteral("OptBatchRenameSheet(1)")));
    EXPECT_TRUE(find<QLineEdit>(QStringLiteral("txtSheetName"))->isEnabled());
    EXPECT_FALSE(find<QLineEdit>(QStringLiteral("txtSheetOldName"))->isEnabled());

    EXPECT_FALSE(find<QPushButton>(QStringLiteral("CmdSetAbstract"))->isEnabled());
    EXPECT_FALSE(panel(QStringLiteral("fraAbstract"))->commandWanted(QStringLiteral("CmdSetAbstract")));

    EXPECT_EQ(find<QComboBox>(QStringLiteral("cmbReplaceScopeC1"))->count(), 26);
    auto *columnTo = find<QComboBox>(QStringLiteral("cmbReplaceScopeC2"));
    ASSERT_EQ(columnTo->count(), 52);
    EXPECT_EQ(columnTo->itemText(26), QStringLiteral("AA"));
    EXPECT_EQ(columnTo->itemText(51), QStringLiteral("AZ"));
    EXPECT_TRUE(columnTo->currentText().isEmpty());

    auto *formats = find<QListWidget>(QStringLiteral("LstFileType"));
    ASSERT_EQ(formats->count(), 6);
    EXPECT_EQ(formats->item(4)->text(), QStringLiteral("Excel2007 工作簿格式(*.xlsx)"));
    EXPECT_TRUE(formats->selectedItems().isEmpty());

    auto *count = find<QLabel>(QStringLiteral("StatusPanel2"));
    EXPECT_EQ(count->text(), window.windowTitle());
    EXPECT_EQ(count->toolTip(), window.windowTitle());
    EXPECT_TRUE(action(QStringLiteral("CLock"))->isEnabled());
    EXPECT_FALSE(action(QStringLiteral("RemoveAll"))->isVisible());
}

TEST_F(MainWindowTest, OlderEngineGates)
{
    start(EngineInfo{QStringLiteral("LibreOffice"), QStringLiteral("3.0"), false, 65536});
    EXPECT_FALSE(m_state.XlsxAvailable);
    EXPECT_EQ(find<QListWidget>(QStringLiteral("LstFileType"))->count(), 4);
    EXPECT_TRUE(action(QStringLiteral("CLock"))->isEnabled());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("OptProtectSheet"))->isEnabled());
}

TEST_F(MainWindowTest, EngineWithoutVersionDisablesPasswords)
{
    start(EngineInfo{QStringLiteral("LibreOffice"), QString(), false, 0});
    QAction *lock = action(QStringLiteral("CLock"));
    EXPECT_FALSE(lock->isEnabled());
    EXPECT_EQ(lock->toolTip(), QStringLiteral("本功能只能在安装了Excel XP及以上版本的系统中使用"));
    EXPECT_FALSE(find<QWidget>(QStringLiteral("OptProtectSheet"))->isEnabled());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("List1"))->isEnabled());
}

TEST_F(MainWindowTest, RememberedSettingsAreRestoredAndStored)
{
    seed(QStringLiteral("Page/PageIndex"), QStringLiteral("18"));
    seed(QStringLiteral("Param/Abstract"), QStringLiteral("5"));
    seed(QStringLiteral("BatchSheetOP/OpIndex"), QStringLiteral("9"));
    seed(QStringLiteral("BatchSheetOP/OptBatchRenameSheet"), QStringLiteral("0"));
    seed(QStringLiteral("BatchSheetOP/SheetOldName"), QStringLiteral("Sheet"));
    seed(QStringLiteral("Param/txtProperty2"), QStringLiteral("张三"));
    start();

    // Share's panel is the hyperlink panel, the same one a click on HyperLink shows.
    EXPECT_EQ(currentPanelName(), QStringLiteral("fraHyperLink"));
    EXPECT_TRUE(action(QStringLiteral("Share"))->isChecked());
    EXPECT_FALSE(action(QStringLiteral("HyperLink"))->isChecked());
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(checked(QStringLiteral("ChkProperty(%1)").arg(i)), i == 0 || i == 2) << i;
    EXPECT_TRUE(panel(QStringLiteral("fraAbstract"))->commandWanted(QStringLiteral("CmdSetAbstract")));
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("txtProperty(2)"))->text(), QStringLiteral("张三"));
    EXPECT_TRUE(checked(QStringLiteral("OptDelSheet")));
    EXPECT_TRUE(checked(QStringLiteral("OptBatchRenameSheet(0)")));
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("txtSheetOldName"))->text(), QStringLiteral("Sheet"));
    EXPECT_FALSE(find<QLineEdit>(QStringLiteral("txtSheetName"))->isEnabled());

    // Change what is remembered, then close.
    action(QStringLiteral("SUM"))->trigger();
    EXPECT_EQ(currentPanelName(), QStringLiteral("fraSum"));
    find<QRadioButton>(QStringLiteral("OptBatchHideSheet"))->click();
    EXPECT_TRUE(find<QWidget>(QStringLiteral("fraBatchHideSheet"))->isVisibleTo(find<QWidget>(QStringLiteral("fraBatchSheet"))));
    find<QRadioButton>(QStringLiteral("OptBatchRenameSheet(1)"))->click();
    find<QLineEdit>(QStringLiteral("txtSheetName"))->setText(QStringLiteral("汇总"));
    find<QCheckBox>(QStringLiteral("ChkProperty(0)"))->click();
    find<QCheckBox>(QStringLiteral("ChkProperty(8)"))->click();
    closeWindow();

    EXPECT_EQ(stored(QStringLiteral("Page/PageIndex")), QStringLiteral("22"));
    EXPECT_EQ(stored(QStringLiteral("BatchSheetOP/OpIndex")), QStringLiteral("4"));
    EXPECT_EQ(stored(QStringLiteral("BatchSheetOP/OptBatchRenameSheet")), QStringLiteral("1"));
    EXPECT_EQ(stored(QStringLiteral("BatchSheetOP/ActiveSheetName")), QStringLiteral("汇总"));
    EXPECT_EQ(stored(QStringLiteral("Param/Abstract")), QString::number(4 + 256));
    EXPECT_EQ(stored(QStringLiteral("Param/txtProperty2")), QStringLiteral("张三"));

    // And the next start shows them again.
    start();
    EXPECT_EQ(currentPanelName(), QStringLiteral("fraSum"));
    EXPECT_TRUE(checked(QStringLiteral("OptBatchHideSheet")));
    EXPECT_TRUE(checked(QStringLiteral("ChkProperty(8)")));
    EXPECT_FALSE(checked(QStringLiteral("ChkProperty(0)")));
}

TEST_F(MainWindowTest, UnreadablePageShowsNoPanel)
{
    seed(QStringLiteral("Page/PageIndex"), QStringLiteral("abc"));
    MainWindow &window = start();
    EXPECT_EQ(window.currentPanel(), nullptr);
    EXPECT_EQ(window.pressedFeatureIndex(), 0);
    closeWindow();
    EXPECT_EQ(stored(QStringLiteral("Page/PageIndex")), QStringLiteral("abc"));
}

TEST_F(MainWindowTest, EveryFeatureButtonShowsItsPanel)
{
    const std::pair<const char *, const char *> cases[] = {
            {"Convert", "FraConvert"},       {"Header", "fraHeaderFooter"}, {"BatchRename", "FraBatchRename"},
            {"Unite", "FraUnite"},           {"StrReplace", "fraReplace"},  {"CLock", "fraLockDoc"},
            {"Protect", "fraProtect"},       {"HyperLink", "fraHyperLink"}, {"BatchSheet", "fraBatchSheet"},
            {"Print", "fraPrint"},           {"Share", "fraHyperLink"},     {"Cols", "fraBatchColsAndRows"},
            {"CELLS", "fraBatchCells"},      {"Abstract", "fraAbstract"},   {"SUM", "fraSum"},
    };
    MainWindow &window = start();
    int index = 8;
    for (const auto &[key, panelName] : cases) {
        SCOPED_TRACE(key);
        auto *button = qobject_cast<QToolButton *>(window.toolButton(action(QString::fromLatin1(key))));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(currentPanelName(), QString::fromLatin1(panelName));
        EXPECT_EQ(window.pressedFeatureIndex(), index++);
        // Exactly one panel is in view.
        int visible = 0;
        for (FeaturePanel *panel : window.findChildren<FeaturePanel *>())
            visible += panel->isVisible() ? 1 : 0;
        EXPECT_EQ(visible, 1);
    }
}

TEST_F(MainWindowTest, ButtonLabelsReturnToFormerHeight)
{
    MainWindow &window = start();
    const int height = window.height();
    QAction *labels = action(QStringLiteral("mnuBtnCaption"));
    EXPECT_FALSE(labels->isChecked());
    labels->trigger();
    EXPECT_TRUE(labels->isChecked());
    for (const char *name : {"Toolbar1", "Toolbar1Row2"})
        EXPECT_EQ(find<QToolBar>(QString::fromLatin1(name))->toolButtonStyle(), Qt::ToolButtonTextUnderIcon) << name;
    EXPECT_EQ(window.height(), height + 100 / 15);
    labels->trigger();
    for (const char *name : {"Toolbar1", "Toolbar1Row2"})
        EXPECT_EQ(find<QToolBar>(QString::fromLatin1(name))->toolButtonStyle(), Qt::ToolButtonIconOnly) << name;
    EXPECT_EQ(window.height(), height);
}

TEST_F(MainWindowTest, HoverHintsInTheStatusBar)
{
    MainWindow &window = start();
    auto *hint = find<QLabel>(QStringLiteral("StatusPanel1"));
    // Buttons of both toolbar rows give their hints.
    const std::pair<const char *, const char *> cases[] = {{"AddFolder", "添加目录下所有Excel文档"},
                                                           {"Share", "批量设置共享工作薄"}};
    for (const auto &[key, text] : cases) {
        SCOPED_TRACE(key);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(window.toolButton(action(QString::fromLatin1(key))), &enter);
        EXPECT_EQ(hint->text(), QString::fromUtf8(text));
    }
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(find<QAbstractScrollArea>(QStringLiteral("LstFile"))->viewport(), &move);
    EXPECT_TRUE(hint->text().isEmpty());
}

TEST_F(MainWindowTest, HelpAndAbout)
{
    MainWindow &window = start();
    action(QStringLiteral("mnuHelp1"))->trigger();
    ASSERT_EQ(m_dialogs.opened.size(), 1);
    EXPECT_EQ(m_dialogs.opened.constFirst(), QApplication::applicationDirPath() + QStringLiteral("/Gridmule.html"));
    EXPECT_EQ(action(QStringLiteral("mnuHelp1"))->shortcut(), QKeySequence(Qt::Key_F1));

    withModal<QDialog>(
            [](QDialog &about) {
                EXPECT_EQ(about.objectName(), QStringLiteral("frmAbout"));
                EXPECT_EQ(about.windowTitle(), QStringLiteral("Gridmule - Excel文档批处理工具"));
                EXPECT_EQ(about.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(),
                          QStringLiteral("Gridmule - Excel文档批处理工具4.4"));
                about.findChild<QPushButton *>(QStringLiteral("CmdOK"))->click();
            },
            [&] { window.showAbout(); });
}

} // namespace
} // namespace gm::test
