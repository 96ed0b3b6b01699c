#include "GuiTestSupport.h"

#include "ui/dialogs/CellDialog.h"
#include "ui/dialogs/OptionsDialog.h"
#include "ui/panels/BatchCellsPanel.h"
#include "ui/panels/FeaturePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace gm::test {
namespace {

class PanelsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
    }
    QLineEdit *line(const QString &name) const
    {
        if (auto *combo = m_window->findChild<QComboBox *>(name))
            return combo->lineEdit();
        return find<QLineEdit>(name);
    }
    // Types keys one by one into a field, as the user would.
    QString type(const QString &name, const QString &keys)
    {
        QLineEdit *field = line(name);
        field->setFocus();
        for (QChar key : keys)
            QTest::keyClick(field, key.toLatin1());
        return field->text();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    bool enabled(const QString &name) const { return find<QWidget>(name)->isEnabled(); }
    bool wanted(const QString &panel, const QString &button) const
    {
        return find<FeaturePanel>(panel)->commandWanted(button);
    }
};

TEST_F(PanelsTest, NotationKeystrokeFilters)
{
    struct Case
    {
        const char *field;
        const char *keys;
        const char *text;
        const char *message; // shown for the rejected key, if any
    };
    const Case cases[] = {
            {"cmbReplaceScopeC1", "c5-[", "C5", nullptr},
            {"cmbReplaceScopeC2", "ab.", "AB", nullptr},
            {"txtCol1(0)", "c", "C", nullptr},
            {"txtCol2(1)", "[", "", "输入不合法，Excel文件的列以大写英文字母标识！"},
            {"txtCol1(2)", "abc", "AB", nullptr},
            {"txtRow1(1)", "3a", "3", "输入不合法，Excel文件的行以整数标识！"},
            {"txtRow2(2)", "70000", "70000", nullptr},
            {"txtRowHeight", "12.7.5x", "12.75", nullptr},
            {"txtColWidth", ".5", ".5", nullptr},
            {"CmbDelsheetPosition", "1-2.", "12", nullptr},
            {"CmbHideSheetPosition", "a3", "3", nullptr},
            {"txtSheetIndex", "1 3x 5", "1 3 5", nullptr},
    };
    find<QCheckBox>(QStringLiteral("ChkPrintSheet"))->click();
    find<QCheckBox>(QStringLiteral("ChkReplaceScopeC"))->click();
    find<QRadioButton>(QStringLiteral("OptDelSheetByOrder"))->click();
    find<QRadioButton>(QStringLiteral("OptHideSheetByIndex"))->click();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        m_dialogs.messages.clear();
        EXPECT_EQ(type(QString::fromLatin1(c.field), QString::fromLatin1(c.keys)), QString::fromLatin1(c.text));
        if (c.message) {
            ASSERT_EQ(m_dialogs.messages.size(), 1u);
            EXPECT_EQ(m_dialogs.messages[0].request.text, QString::fromUtf8(c.message));
            EXPECT_EQ(m_dialogs.messages[0].request.icon, QMessageBox::Information);
        } else {
            EXPECT_TRUE(m_dialogs.messages.empty());
        }
    }
    // Backspace always passes.
    QTest::keyClick(line(QStringLiteral("txtRowHeight")), Qt::Key_Backspace);
    EXPECT_EQ(line(QStringLiteral("txtRowHeight"))->text(), QStringLiteral("12.7"));
}

TEST_F(PanelsTest, CellDialogKeepsNameAndNumbersInStep)
{
    CellDialog dialog(m_dialogs, m_window.get());
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto *cellName = dialog.findChild<QLineEdit *>(QStringLiteral("txtCellID"));
    auto *row = dialog.findChild<QLineEdit *>(QStringLiteral("txtRow"));
    auto *column = dialog.findChild<QLineEdit *>(QStringLiteral("txtCol"));

    // A digit cannot start a cell name.
    cellName->setFocus();
    QTest::keyClicks(cellName, QStringLiteral("5f5"));
    EXPECT_EQ(cellName->text(), QStringLiteral("F5"));
    EXPECT_EQ(column->text(), QStringLiteral("6"));
    EXPECT_EQ(row->text(), QStringLiteral("5"));

    cellName->clear();
    QTest::keyClicks(cellName, QStringLiteral("ab012"));
    EXPECT_EQ(column->text(), QStringLiteral("28"));
    EXPECT_EQ(row->text(), QStringLiteral("12"));

    column->setFocus();
    column->clear();
    QTest::keyClicks(column, QStringLiteral("28"));
    row->setFocus();
    row->clear();
    QTest::keyClicks(row, QStringLiteral("3"));
    EXPECT_EQ(cellName->text(), QStringLiteral("AB3"));

    m_dialogs.messages.clear();
    QTest::keyClicks(row, QStringLiteral("x"));
    EXPECT_EQ(row->text(), QStringLiteral("3"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("输入不合法，请输入整数行号！")});
    column->setFocus();
    QTest::keyClicks(column, QStringLiteral("-"));
    EXPECT_EQ(m_dialogs.texts().constLast(), QStringLiteral("输入不合法，请输入整数列序号！"));
}

TEST_F(PanelsTest, CellListAddEditDelete)
{
    auto *panel = find<BatchCellsPanel>(QStringLiteral("fraBatchCells"));
    auto *list = find<QTreeWidget>(QStringLiteral("ListView1"));
    auto fill = [](const char *cell, const char *content, const char *button) {
        return [=](CellDialog &dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("单元格内容设置"));
            auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("txtCellID"));
            name->setFocus();
            name->setText(QString::fromLatin1(cell));
            dialog.findChild<QLineEdit *>(QStringLiteral("txtCell"))->setText(QString::fromUtf8(content));
            dialog.findChild<QPushButton *>(QString::fromLatin1(button))->click();
        };
    };
    withModal<CellDialog>(fill("F5", "100", "Command1"), [&] { click(QStringLiteral("CmdRepListView(0)")); });
    withModal<CellDialog>(fill("F", "no row", "Command1"), [&] { click(QStringLiteral("CmdRepListView(0)")); });
    withModal<CellDialog>(fill("A1", "cancelled", "Command2"), [&] { click(QStringLiteral("CmdRepListView(0)")); });
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(panel->entries().at(0).row, QStringLiteral("5"));
    EXPECT_EQ(panel->entries().at(0).column, QStringLiteral("6"));
    EXPECT_EQ(panel->entries().at(0).content, QStringLiteral("100"));

    // Editing an entry opens the dialog with its cell name built from its numbers.
    list->setCurrentItem(list->topLevelItem(0));
    withModal<CellDialog>(
            [](CellDialog &dialog) {
                EXPECT_EQ(dialog.findChild<QLineEdit *>(QStringLiteral("txtCellID"))->text(), QStringLiteral("F5"));
                EXPECT_EQ(dialog.findChild<QLineEdit *>(QStringLiteral("txtCell"))->text(), QStringLiteral("100"));
                auto *column = dialog.findChild<QLineEdit *>(QStringLiteral("txtCol"));
                column->setFocus();
                column->setText(QStringLiteral("27"));
                dialog.findChild<QLineEdit *>(QStringLiteral("txtCell"))->setText(QStringLiteral("=1+1"));
                dialog.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
            },
            [&] { click(QStringLiteral("CmdRepListView(2)")); });
    EXPECT_EQ(panel->entries().at(0).column, QStringLiteral("27"));
    EXPECT_EQ(panel->entries().at(0).content, QStringLiteral("=1+1"));

    // Export, then import into an emptied list, gives the same entries back; a file that is
    // not a cell list is refused with a message and leaves the list as it was.
    QTemporaryDir folder;
    const QString saved = folder.filePath(QStringLiteral("cells.xml"));
    m_dialogs.files.push_back({saved});
    click(QStringLiteral("CmdRepListView(3)"));
    EXPECT_EQ(m_dialogs.fileDialogs.back().filter, kCellListFilter);
    click(QStringLiteral("CmdRepListView(1)"));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    m_dialogs.files.push_back({saved});
    click(QStringLiteral("CmdRepListView(4)"));
    ASSERT_EQ(panel->entries().size(), 1);
    EXPECT_EQ(panel->entries().at(0), (CellListEntry{QStringLiteral("5"), QStringLiteral("27"), QStringLiteral("=1+1")}));

    const QString wrong = folder.filePath(QStringLiteral("wrong.xml"));
    QFile file(wrong);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<Rows><Cell><Row>1</Row><Col>1</Col><Text>x</Text></Cell></Rows>");
    file.close();
    m_dialogs.messages.clear();
    m_dialogs.files.push_back({wrong});
    click(QStringLiteral("CmdRepListView(4)"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kCellListWrongRoot + wrong});
    EXPECT_EQ(panel->entries().size(), 1);

    // A cancelled dialog does nothing.
    m_dialogs.files.push_back({});
    click(QStringLiteral("CmdRepListView(4)"));
    EXPECT_EQ(panel->entries().size(), 1);
}

TEST_F(PanelsTest, EnablingRules)
{
    // Print area and orientation.
    const QString print = QStringLiteral("fraPrint");
    EXPECT_FALSE(wanted(print, QStringLiteral("CmdPrintArea")));
    click(QStringLiteral("ChkPrintArea"));
    EXPECT_TRUE(enabled(QStringLiteral("txtPrintF")) && enabled(QStringLiteral("txtPrint2")));
    EXPECT_FALSE(enabled(QStringLiteral("OptPortrait")));
    EXPECT_TRUE(wanted(print, QStringLiteral("CmdPrintArea")));
    click(QStringLiteral("ChkPrintOrientation"));
    click(QStringLiteral("ChkPrintArea"));
    EXPECT_FALSE(enabled(QStringLiteral("txtPrintF")));
    EXPECT_TRUE(enabled(QStringLiteral("OptLandscape")));
    EXPECT_TRUE(wanted(print, QStringLiteral("CmdPrintArea")));
    click(QStringLiteral("ChkPrintOrientation"));
    EXPECT_FALSE(wanted(print, QStringLiteral("CmdPrintArea")));

    // Header and footer: at least one of the two.
    click(QStringLiteral("ChkHeader"));
    EXPECT_TRUE(wanted(QStringLiteral("fraHeaderFooter"), QStringLiteral("CmdHeaderFooter")));
    click(QStringLiteral("ChkFooter"));
    EXPECT_FALSE(wanted(QStringLiteral("fraHeaderFooter"), QStringLiteral("CmdHeaderFooter")));

    // Statistics: at least one item.
    EXPECT_FALSE(wanted(QStringLiteral("fraSum"), QStringLiteral("CmdSum")));
    click(QStringLiteral("ChkCount(1)"));
    EXPECT_TRUE(wanted(QStringLiteral("fraSum"), QStringLiteral("CmdSum")));
    click(QStringLiteral("ChkCount(1)"));
    EXPECT_FALSE(wanted(QStringLiteral("fraSum"), QStringLiteral("CmdSum")));

    // Properties: unticking the last box disables the command.
    click(QStringLiteral("ChkProperty(4)"));
    EXPECT_TRUE(wanted(QStringLiteral("fraAbstract"), QStringLiteral("CmdSetAbstract")));
    click(QStringLiteral("ChkProperty(4)"));
    EXPECT_FALSE(wanted(QStringLiteral("fraAbstract"), QStringLiteral("CmdSetAbstract")));

    // Rows and columns: only the chosen mode's boxes count.
    const QString rows = QStringLiteral("fraBatchColsAndRows");
    auto *groups = find<QWidget>(QStringLiteral("PicBatchColRow(0)"))->parentWidget();
    EXPECT_FALSE(wanted(rows, QStringLiteral("CmdBatchColsAndRows")));
    click(QStringLiteral("OpBatchColRow(0)"));
    EXPECT_TRUE(find<QWidget>(QStringLiteral("PicBatchColRow(0)"))->isVisibleTo(groups->parentWidget()));
    click(QStringLiteral("ChkHideRows"));
    EXPECT_TRUE(wanted(rows, QStringLiteral("CmdBatchColsAndRows")));
    click(QStringLiteral("OpBatchColRow(2)"));
    EXPECT_FALSE(find<QWidget>(QStringLiteral("PicBatchColRow(0)"))->isVisibleTo(groups->parentWidget()));
    EXPECT_FALSE(wanted(rows, QStringLiteral("CmdBatchColsAndRows")));
    click(QStringLiteral("ChkColWidth"));
    EXPECT_TRUE(wanted(rows, QStringLiteral("CmdBatchColsAndRows")));

    // Batch rename: the case kind needs a change of case.
    const QString rename = QStringLiteral("FraBatchRename");
    click(QStringLiteral("Option2"));
    EXPECT_TRUE(wanted(rename, QStringLiteral("CmdRename")));
    for (const char *list : {"CmbPrefix", "CmbSuffix"}) {
        auto *combo = find<QComboBox>(QString::fromLatin1(list));
        combo->setCurrentIndex(0);
        emit combo->activated(0);
    }
    EXPECT_FALSE(wanted(rename, QStringLiteral("CmdRename")));
    click(QStringLiteral("Option3"));
    EXPECT_TRUE(wanted(rename, QStringLiteral("CmdRename")));
    EXPECT_TRUE(find<QWidget>(QStringLiteral("Picture1(1)"))->isVisibleTo(find<QWidget>(rename)));
    EXPECT_FALSE(enabled(QStringLiteral("TxtDelete")));
    click(QStringLiteral("OptDelete"));
    EXPECT_TRUE(enabled(QStringLiteral("TxtDelete")));
    EXPECT_FALSE(enabled(QStringLiteral("TxtInsert")));
}

TEST_F(PanelsTest, SheetPanelSwitching)
{
    const QWidget *panel = find<QWidget>(QStringLiteral("fraBatchSheet"));
    const std::pair<const char *, const char *> cases[] = {
            {"OptInsertSheet", "FraInsSheet"},          {"OptSheetRename", "fraRenameSheet"},
            {"OptSheetBackground", "fraSheetBackground"}, {"OptBatchHideSheet", "fraBatchHideSheet"},
            {"OptSheetShow", "FraDisplaySheet"},        {"OptDelSheet", "fraBSheetDelete"},
    };
    for (const auto &[option, subPanel] : cases) {
        SCOPED_TRACE(option);
        click(QString::fromLatin1(option));
        for (const auto &[other, otherPanel] : cases)
            EXPECT_EQ(find<QWidget>(QString::fromLatin1(otherPanel))->isVisibleTo(panel), otherPanel == subPanel);
    }

    click(QStringLiteral("OptDelSheetByOrder"));
    EXPECT_TRUE(enabled(QStringLiteral("CmbDelsheetPosition")));
    EXPECT_FALSE(enabled(QStringLiteral("txtDelSheet")) || enabled(QStringLiteral("CmbDelSheetByName")));
    click(QStringLiteral("OptDisplayAll"));
    EXPECT_FALSE(enabled(QStringLiteral("CmbDisplaySheetByName")) || enabled(QStringLiteral("txtDisplaySheet")));
    click(QStringLiteral("OptDisplaySheetByName"));
    EXPECT_TRUE(enabled(QStringLiteral("CmbDisplaySheetByName")) && enabled(QStringLiteral("txtDisplaySheet")));

    // Choosing a source that is no file leaves nothing to insert.
    m_dialogs.files = {{tempPath(QStringLiteral("missing.xls"))}};
    click(QStringLiteral("CmdSheetSource"));
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("TxtSheetSource"))->text(), tempPath(QStringLiteral("missing.xls")));
    EXPECT_FALSE(wanted(QStringLiteral("fraBatchSheet"), QStringLiteral("CmdInsSheet")));
}

TEST_F(PanelsTest, PasswordsAreMasked)
{
    for (const char *name : {"txtPassword1", "txtPassword2", "txtProtect"}) {
        SCOPED_TRACE(name);
        QLineEdit *field = find<QLineEdit>(QString::fromLatin1(name));
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(field->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, field), int(u'*'));
    }
}

TEST_F(PanelsTest, ChoosersFillTheirFieldsAndCancelChangesNothing)
{
    struct Case
    {
        const char *button;
        const char *field;
        const char *chosen;
        const char *shown;
    };
    const Case cases[] = {
            {"CmdUnitePath", "txtUniteFile", "/d/merged.xlsx", "/d/merged.xlsx"},
            {"Command2", "txtOut", "/out", "/out/"},
            {"CmdCountOutFile", "txtCount", "/d/report.txt", "/d/report.txt"},
            {"Command1", "txtHeaderFooterTemplate", "/d/template.xls", "/d/template.xls"},
            {"CmdSheetSource", "TxtSheetSource", "/d/source.xls", "/d/source.xls"},
            {"CmdSheetBackgroudSelect", "txtBackgroudPic", "/d/back.jpg", "/d/back.jpg"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button);
        auto *field = find<QLineEdit>(QString::fromLatin1(c.field));
        m_dialogs.files = {{QString::fromLatin1(c.chosen)}, {}};
        click(QString::fromLatin1(c.button));
        EXPECT_EQ(field->text(), QString::fromLatin1(c.shown));
        // The second dialog is cancelled: the field keeps what it had.
        click(QString::fromLatin1(c.button));
        EXPECT_TRUE(m_dialogs.files.empty()) << "the chooser did not open";
        EXPECT_EQ(field->text(), QString::fromLatin1(c.shown));
    }
    const auto titleOf = [&](size_t fromEnd) { return m_dialogs.fileDialogs.at(m_dialogs.fileDialogs.size() - fromEnd); };
    EXPECT_EQ(m_dialogs.fileDialogs.front().filter,
              QStringLiteral("Microsft Excel文件(*.xlsx)|*.xlsx|Microsft Excel(97-2003)文件(*.xls)|*.xls"));
    EXPECT_EQ(titleOf(8).title, QStringLiteral("保存"));
    EXPECT_EQ(titleOf(6).title, QStringLiteral("选择设置好页眉页脚的模板"));
}

// Every operation's command can run: none is left disabled as unfinished.
TEST_F(PanelsTest, EveryOperationCanRun)
{
    for (const char *name : {"BtnConvert", "BtnPrint", "CmdLockDoc", "CmdUnite", "CmdProtect", "CmdHyperLink", "CmdSheetBackgroud"}) {
        SCOPED_TRACE(name);
        auto *button = find<QPushButton>(QString::fromLatin1(name));
        EXPECT_TRUE(button->isEnabled());
        EXPECT_NE(button->toolTip(), kNotAvailableYet);
    }
    EXPECT_EQ(find<QPushButton>(QStringLiteral("CmdReplace"))->size(), find<QPushButton>(QStringLiteral("BtnConvert"))->size());
}

TEST_F(PanelsTest, OptionsDialog)
{
    const QString before = m_state.LogFile;
    withModal<OptionsDialog>(
            [&](OptionsDialog &dialog) {
                EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Gridmule - 选项"));
                auto *log = dialog.findChild<QLineEdit *>(QStringLiteral("txtLog"));
                EXPECT_EQ(log->text(), before);
                EXPECT_FALSE(dialog.findChild<QCheckBox *>(QStringLiteral("ChkLog"))->isChecked());
                log->clear();
                dialog.findChild<QCheckBox *>(QStringLiteral("ChkLog"))->setChecked(true);
                // The engine count starts at the state's and is kept within what a run starts.
                auto *jobs = dialog.findChild<QSpinBox *>(QStringLiteral("SpinJobs"));
                EXPECT_EQ(jobs->value(), m_state.jobs);
                jobs->setValue(kMaxEngineJobs + 5);
                EXPECT_EQ(jobs->value(), kMaxEngineJobs);
                jobs->setValue(3);
                dialog.findChild<QPushButton *>(QStringLiteral("CmdOK"))->click();
            },
            [&] { action(QStringLiteral("mnuOption"))->trigger(); });
    EXPECT_EQ(m_state.jobs, 3);
    EXPECT_EQ(stored(QStringLiteral("Option/Jobs")), QStringLiteral("3"));
    EXPECT_EQ(m_state.runSettings().jobs, 3);
    EXPECT_TRUE(m_state.isRecordError);
    EXPECT_EQ(m_state.LogFile, before);
    EXPECT_EQ(stored(QStringLiteral("Option/isRecordError")), QStringLiteral("True"));

    // A cancelled file dialog keeps the typed path; Cancel keeps everything.
    const QString typed = tempPath(QStringLiteral("typed.log"));
    withModal<OptionsDialog>(
            [&](OptionsDialog &dialog) {
                EXPECT_TRUE(dialog.findChild<QCheckBox *>(QStringLiteral("ChkLog"))->isChecked());
                auto *log = dialog.findChild<QLineEdit *>(QStringLiteral("txtLog"));
                log->setText(typed);
                m_dialogs.files = {{}};
                dialog.findChild<QPushButton *>(QStringLiteral("Command3"))->click();
                EXPECT_EQ(m_dialogs.fileDialogs.back().title, QStringLiteral("处理日志"));
                EXPECT_EQ(m_dialogs.fileDialogs.back().presetName, QStringLiteral("Gridmule.log"));
                EXPECT_EQ(log->text(), typed);
                dialog.findChild<QPushButton *>(QStringLiteral("CmdCancel"))->click();
            },
            [&] { action(QStringLiteral("mnuOption"))->trigger(); });
    EXPECT_EQ(m_state.LogFile, before);

    const QString chosen = tempPath(QStringLiteral("chosen.log"));
    withModal<OptionsDialog>(
            [&](OptionsDialog &dialog) {
                m_dialogs.files = {{chosen}};
                dialog.findChild<QPushButton *>(QStringLiteral("Command3"))->click();
                dialog.findChild<QCheckBox *>(QStringLiteral("ChkLog"))->setChecked(false);
                dialog.findChild<QPushButton *>(QStringLiteral("CmdOK"))->click();
            },
            [&] { action(QStringLiteral("mnuOption"))->trigger(); });
    EXPECT_FALSE(m_state.isRecordError);
    EXPECT_EQ(m_state.LogFile, chosen);
    EXPECT_EQ(stored(QStringLiteral("Option/LogFile")), chosen);

    // Opened again, the dialog shows what was last confirmed.
    withModal<OptionsDialog>(
            [&](OptionsDialog &dialog) {
                EXPECT_EQ(dialog.findChild<QLineEdit *>(QStringLiteral("txtLog"))->text(), chosen);
                EXPECT_FALSE(dialog.findChild<QCheckBox *>(QStringLiteral("ChkLog"))->isChecked());
                dialog.reject();
            },
            [&] { action(QStringLiteral("mnuOption"))->trigger(); });
}

} // namespace
} // namespace gm::test
