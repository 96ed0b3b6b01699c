// The properties, header/footer and print-area panels driven as the user would: checks on
// the window's side, then real runs on copies of the fixture workbooks.

#include "GuiTestSupport.h"

#include "automation/EngineError.h"
#include "automation/xls/BiffInfo.h"
#include "automation/ole/XlsPropertyWorkbook.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/PrintOperation.h"
#include "support/PrivateCups.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"
#include "ui/panels/FeaturePanel.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class WorkbookPanelsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
    }
    // Copies of the two fixtures (two worksheets each), added to the list by the add dialog.
    void addFixtures()
    {
        const QString folder = tempPath(QStringLiteral("in"));
        xlsx = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), folder);
        xls = copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder);
        addByDialog({xlsx, xls});
    }
    void addByDialog(const QStringList &paths)
    {
        m_dialogs.files.push_back(paths);
        action(QStringLiteral("AddFile"))->trigger();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void setText(const QString &name, const QString &text) { find<QLineEdit>(name)->setText(text); }
    bool wanted(const QString &panel, const QString &button) const { return find<FeaturePanel>(panel)->commandWanted(button); }
    // Clicks a command, lets check run while the run lasts, and waits for its end.
    void run(const QString &button, const std::function<void()> &during = {})
    {
        m_dialogs.messages.clear();
        QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
        click(button);
        ASSERT_TRUE(m_window->runner().isRunning());
        if (during)
            during();
        ASSERT_TRUE(finished.wait(240000));
    }
    QString sheetXml(int n) const
    {
        return QString::fromUtf8(zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)));
    }

    QString xlsx;
    QString xls;
};

TEST_F(WorkbookPanelsTest, ChecksBeforeAnyRun)
{
    for (const char *name : {"CmdSetAbstract", "CmdHeaderFooter", "CmdPrintArea"})
        EXPECT_TRUE(find<QPushButton>(QString::fromLatin1(name))->toolTip().isEmpty()) << name;

    // An empty list stops each of the three with its own message.
    click(QStringLiteral("ChkProperty(1)"));
    click(QStringLiteral("ChkPrintOrientation"));
    const std::pair<const char *, const char *> emptyList[] = {
        {"CmdSetAbstract", "没有需要设置“属性-摘要”的文档！"},
        {"CmdHeaderFooter", "没有需要处理的EXCEL文档！"},
        {"CmdPrintArea", "没有需要处理的EXCEL文档！"},
    };
    for (const auto &[button, text] : emptyList) {
        SCOPED_TRACE(button);
        m_dialogs.messages.clear();
        click(QString::fromLatin1(button));
        EXPECT_EQ(m_dialogs.texts(), QStringList{QString::fromUtf8(text)});
        EXPECT_FALSE(m_window->runner().isRunning());
    }

    // Invalid input gives its message and the focus to the control at fault; nothing runs.
    addByDialog({tempPath(QStringLiteral("book.xlsx"))});
    struct Case
    {
        const char *page;
        const char *topLeft;
        const char *bottomRight;
        const char *button;
        const char *message;
        const char *focus;
    };
    const Case cases[] = {
        {"Print", "A0", "E100", "CmdPrintArea", "请输入合法的Excel单元格地址格式，如 A1 ", "txtPrintF"},
        {"Print", "A1", "E1x", "CmdPrintArea", "请输入合法的Excel单元格地址格式，如 G100 ", "txtPrint2"},
        {"Header", "", "", "CmdHeaderFooter", "请选择已设置好页眉页脚的EXCEL文档模板！", "txtHeaderFooterTemplate"},
    };
    click(QStringLiteral("ChkPrintArea"));
    setText(QStringLiteral("txtHeaderFooterTemplate"), tempPath(QStringLiteral("missing.xls")));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        action(QString::fromLatin1(c.page))->trigger();
        setText(QStringLiteral("txtPrintF"), QString::fromLatin1(c.topLeft));
        setText(QStringLiteral("txtPrint2"), QString::fromLatin1(c.bottomRight));
        find<QWidget>(QString::fromLatin1(c.button))->setFocus();
        m_dialogs.messages.clear();
        click(QString::fromLatin1(c.button));
        EXPECT_EQ(m_dialogs.texts(), QStringList{QString::fromUtf8(c.message)});
        EXPECT_EQ(m_window->focusWidget(), find<QWidget>(QString::fromLatin1(c.focus)));
        EXPECT_FALSE(m_window->runner().isRunning());
        EXPECT_TRUE(find<QWidget>(QString::fromLatin1(c.button))->isEnabled());
    }

    // A template that is not a workbook is the template's problem, said once before the run.
    const QString notes = tempPath(QStringLiteral("notes.xls"));
    gm::test::writeAll(notes, "Name,Value\r\n");
    action(QStringLiteral("Header"))->trigger();
    setText(QStringLiteral("txtHeaderFooterTemplate"), notes);
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdHeaderFooter"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{headerFooterTemplateProblem(EngineError::describe(ErrorCode::NotAWorkbook))});
    EXPECT_EQ(m_window->focusWidget(), find<QWidget>(QStringLiteral("txtHeaderFooterTemplate")));
    EXPECT_FALSE(m_window->runner().isRunning());
}

TEST_F(WorkbookPanelsTest, PropertiesRun)
{
    addFixtures();
    action(QStringLiteral("Abstract"))->trigger();
    setText(QStringLiteral("txtProperty(0)"), QStringLiteral("季度 & 报表"));
    setText(QStringLiteral("txtProperty(2)"), QStringLiteral("张三"));
    setText(QStringLiteral("txtProperty(1)"), QStringLiteral("not ticked"));
    click(QStringLiteral("ChkProperty(0)"));
    click(QStringLiteral("ChkProperty(2)"));

    run(QStringLiteral("CmdSetAbstract"), [&] {
        EXPECT_FALSE(wanted(QStringLiteral("fraAbstract"), QStringLiteral("CmdSetAbstract")));
        // Ticks changed meanwhile neither reach this run nor enable the command before its end.
        find<QCheckBox>(QStringLiteral("ChkProperty(0)"))->setChecked(false);
        find<QCheckBox>(QStringLiteral("ChkProperty(5)"))->setChecked(true);
        EXPECT_FALSE(wanted(QStringLiteral("fraAbstract"), QStringLiteral("CmdSetAbstract")));
    });
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("属性：摘要设置完成！")});
    const QString core = QString::fromUtf8(zipEntry(xlsx, QStringLiteral("docProps/core.xml")));
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:title>季度 &amp; 报表</dc:title>"))) << core.toStdString();
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:creator>张三</dc:creator>")));
    EXPECT_FALSE(core.contains(QStringLiteral("not ticked")));
    auto streams = ole::openXlsProperties(xls);
    EXPECT_EQ(streams->builtinProperty(DocumentProperty::Title), QStringLiteral("季度 & 报表"));
    EXPECT_EQ(streams->builtinProperty(DocumentProperty::Author), QStringLiteral("张三"));
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("CmdSetAbstract"))->isEnabled());

    // With no box ticked when the run ends, the command stays disabled.
    run(QStringLiteral("CmdSetAbstract"), [&] {
        find<QCheckBox>(QStringLiteral("ChkProperty(2)"))->setChecked(false);
        find<QCheckBox>(QStringLiteral("ChkProperty(5)"))->setChecked(false);
    });
    EXPECT_FALSE(find<QPushButton>(QStringLiteral("CmdSetAbstract"))->isEnabled());
}

TEST_F(WorkbookPanelsTest, HeaderFooterRunFollowsTheHyperlinkPanelsReadOnlyChoice)
{
    const QString source = corpusFile(QStringLiteral("xls/poi-45538_classic_Header.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "the workbook corpus is not beside the project";
    addFixtures();
    action(QStringLiteral("Header"))->trigger();
    setText(QStringLiteral("txtHeaderFooterTemplate"), copyInto(source, tempPath(QStringLiteral("template"))));
    QFile::setPermissions(xlsx, QFile::ReadOwner);
    const QByteArray before = readAll(xlsx);

    // Read-only files are skipped until the hyperlink panel says otherwise.
    run(QStringLiteral("CmdHeaderFooter"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("处理完毕！")});
    EXPECT_EQ(readAll(xlsx), before);
    for (const BiffSheet &sheet : readBiff(xls).sheets)
        EXPECT_TRUE(sheet.header.contains(QStringLiteral("testdoc"))) << sheet.header.toStdString();

    action(QStringLiteral("HyperLink"))->trigger();
    click(QStringLiteral("OptRWrite"));
    action(QStringLiteral("Header"))->trigger();
    run(QStringLiteral("CmdHeaderFooter"),
        [&] { EXPECT_TRUE(wanted(QStringLiteral("fraHeaderFooter"), QStringLiteral("CmdHeaderFooter"))); });
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("处理完毕！")});
    EXPECT_TRUE(QFileInfo(xlsx).permissions() & QFile::WriteOwner); // made writable first
    for (int n : {1, 2})
        EXPECT_TRUE(sheetXml(n).contains(QStringLiteral("<oddHeader>&amp;Ltestdoc&amp;Rtest phrase</oddHeader>"))) << n;
}

TEST_F(WorkbookPanelsTest, PrintAreaRun)
{
    addFixtures();
    action(QStringLiteral("Print"))->trigger();
    click(QStringLiteral("ChkPrintArea"));
    setText(QStringLiteral("txtPrint2"), QStringLiteral("E100"));
    click(QStringLiteral("ChkPrintOrientation"));
    click(QStringLiteral("OptLandscape"));

    run(QStringLiteral("CmdPrintArea"),
        [&] { EXPECT_FALSE(wanted(QStringLiteral("fraPrint"), QStringLiteral("CmdPrintArea"))); });
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("处理完成！")});
    const QString workbook = QString::fromUtf8(zipEntry(xlsx, QStringLiteral("xl/workbook.xml")));
    EXPECT_EQ(workbook.count(QStringLiteral("!$A$1:$E$100</definedName>")), 2) << workbook.toStdString();
    EXPECT_TRUE(sheetXml(2).contains(QStringLiteral("orientation=\"landscape\"")));
    for (const BiffSheet &sheet : readBiff(xls).sheets) {
        SCOPED_TRACE(sheet.name.toStdString());
        EXPECT_EQ(sheet.printArea, QStringLiteral("$A$1:$E$100"));
        EXPECT_EQ(sheet.orientation, 2);
    }
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("CmdPrintArea"))->isEnabled());
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("BtnPrint"))->isEnabled()); // not tied to the page setup
}

TEST_F(WorkbookPanelsTest, PrintChecksInOrderThenSendsEveryWorkbook)
{
    action(QStringLiteral("Print"))->trigger();
    click(QStringLiteral("BtnPrint"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kPrintEmptyList});
    addFixtures();
    {
        // No print service answers.
        QTemporaryDir nowhere;
        EnvironmentGuard environment;
        environment.set("CUPS_SERVER", nowhere.filePath(QStringLiteral("cups.sock")).toLocal8Bit());
        environment.unset("LPDEST");
        environment.unset("PRINTER");
        m_dialogs.messages.clear();
        click(QStringLiteral("BtnPrint"));
        EXPECT_EQ(m_dialogs.texts(), QStringList{kPrintNoPrinter});
        EXPECT_FALSE(m_window->runner().isRunning());
    }

    GM_REQUIRE_PRINT_SERVICE(cups);
    if (QString why; !cups.addPdfPrinter(QStringLiteral("GridmulePanel"), &why))
        GTEST_SKIP() << why.toStdString();
    auto *copies = find<QLineEdit>(QStringLiteral("TxtCopy"));
    EXPECT_FALSE(find<QLineEdit>(QStringLiteral("txtSheetIndex"))->isEnabled());
    click(QStringLiteral("ChkPrintSheet"));
    EXPECT_TRUE(find<QLineEdit>(QStringLiteral("txtSheetIndex"))->isEnabled());
    setText(QStringLiteral("txtSheetIndex"), QStringLiteral("   "));
    m_dialogs.messages.clear();
    click(QStringLiteral("BtnPrint"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kPrintNoSheets});

    // The copy count's own box: critical, its caption, the box's text selected.
    setText(QStringLiteral("txtSheetIndex"), QStringLiteral("2  2 7"));
    setText(QStringLiteral("TxtCopy"), QStringLiteral("xy"));
    m_dialogs.messages.clear();
    click(QStringLiteral("BtnPrint"));
    ASSERT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_EQ(m_dialogs.messages[0].request.text, kPrintBadCopies);
    EXPECT_EQ(m_dialogs.messages[0].request.icon, QMessageBox::Critical);
    EXPECT_EQ(m_dialogs.messages[0].request.caption, QStringLiteral("Gridmule-批量打印"));
    EXPECT_EQ(copies->selectedText(), QStringLiteral("xy"));

    // No copies wanted: the click ends without a word.
    setText(QStringLiteral("TxtCopy"), QStringLiteral("0"));
    m_dialogs.messages.clear();
    click(QStringLiteral("BtnPrint"));
    EXPECT_TRUE(m_dialogs.messages.empty());
    EXPECT_FALSE(m_window->runner().isRunning());

    // Worksheet 2 twice (7 is past the last) in each of the two workbooks: four jobs.
    setText(QStringLiteral("TxtCopy"), QStringLiteral("1"));
    const QStringList before = PrivateCups::outputFiles();
    run(QStringLiteral("BtnPrint"), [&] { EXPECT_FALSE(find<QPushButton>(QStringLiteral("BtnPrint"))->isEnabled()); });
    EXPECT_EQ(m_dialogs.texts(), QStringList{kPrintDone});
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("BtnPrint"))->isEnabled());
    ASSERT_TRUE(cups.waitForIdle());
    QStringList written = PrivateCups::outputFiles();
    for (const QString &name : before)
        written.removeAll(name);
    EXPECT_EQ(written.size(), 4) << written.join(u' ').toStdString();
    for (const QString &name : written) {
        EXPECT_EQ(pdfinfoPages(PrivateCups::outputFolder() + u'/' + name), 1) << name.toStdString();
        QFile::remove(PrivateCups::outputFolder() + u'/' + name);
    }
}

} // namespace
} // namespace gm::test
