#include "GuiTestSupport.h"

#include "doclist/DocumentListModel.h"
#include "doclist/RecentDocuments.h"
#include "ui/dialogs/FolderDialog.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

namespace gm::test {
namespace {

class DocumentListTest : public WindowTest
{
protected:
    QString countText() const { return find<QLabel>(QStringLiteral("StatusPanel2"))->text(); }
    QListView *list() const { return find<QListView>(QStringLiteral("LstFile")); }
    QStringList entries() const { return m_window->documents().entries(); }
    void select(const QList<int> &rows)
    {
        list()->selectionModel()->clearSelection();
        for (int row : rows)
            list()->selectionModel()->select(m_window->documents().index(row), QItemSelectionModel::Select);
    }
    void drop(const QStringList &paths)
    {
        auto *mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        mime->setUrls(urls);
        // As from the desktop: the drag enters the list, then is dropped on it.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &event);
        delete mime;
    }
    void touch(const QString &relative)
    {
        const QString path = tempPath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
};

TEST_F(DocumentListTest, DialogAddsOnlyNewPaths)
{
    start();
    m_dialogs.files = {{QStringLiteral("/d/a.xls"), QStringLiteral("/d/b.xlsx")},
                       {QStringLiteral("/d/a.xls")},
                       {}};
    action(QStringLiteral("AddFile"))->trigger();
    ASSERT_EQ(m_dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(m_dialogs.fileDialogs[0].title, QStringLiteral("新增"));
    EXPECT_EQ(m_dialogs.fileDialogs[0].filter, QStringLiteral("Microsft Excel文件(*.xls;*.xlsx)|*.xls;*.xlsx"));
    EXPECT_EQ(countText(), QStringLiteral("共2个文档"));

    // A file already listed adds nothing but the count text is written again.
    find<QLabel>(QStringLiteral("StatusPanel2"))->setText(QString());
    action(QStringLiteral("AddFile"))->trigger();
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("/d/a.xls"), QStringLiteral("/d/b.xlsx")}));
    EXPECT_EQ(countText(), QStringLiteral("共2个文档"));

    // Cancelling changes nothing, not even the status bar.
    find<QLabel>(QStringLiteral("StatusPanel2"))->setText(QStringLiteral("unchanged"));
    action(QStringLiteral("AddFile"))->trigger();
    EXPECT_EQ(entries().size(), 2);
    EXPECT_EQ(countText(), QStringLiteral("unchanged"));
}

TEST_F(DocumentListTest, DialogFilterWithoutXlsx)
{
    start(EngineInfo{QStringLiteral("LibreOffice"), QStringLiteral("3.0"), false, 65536});
    action(QStringLiteral("AddFile"))->trigger();
    ASSERT_EQ(m_dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(m_dialogs.fileDialogs[0].filter, QStringLiteral("Microsft Excel文件(*.xls)|*.xls"));
}

TEST_F(DocumentListTest, DroppedFilesAreListedOnceAndCounted)
{
    start();
    m_dialogs.files = {{QStringLiteral("/d/b.xls")}};
    action(QStringLiteral("AddFile"))->trigger();
    drop({QStringLiteral("/d/a.xls"), QStringLiteral("/d/notes.txt"), QStringLiteral("/d/m.xlsm"),
          QStringLiteral("/d/b.xls"), QStringLiteral("/d/~$a.xls")});
    EXPECT_EQ(countText(), QStringLiteral("共2个文档"));
    drop({QStringLiteral("/d/a.xls"), QStringLiteral("/d/B.XLSX"), QStringLiteral("/d/.~gridmule-77-1f.xlsx")});
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("/d/b.xls"), QStringLiteral("/d/a.xls"), QStringLiteral("/d/B.XLSX")}));
    EXPECT_EQ(countText(), QStringLiteral("共3个文档"));
    // A drop of nothing new still shows the count.
    find<QLabel>(QStringLiteral("StatusPanel2"))->setText(QString());
    drop({QStringLiteral("/d/a.xls")});
    EXPECT_EQ(countText(), QStringLiteral("共3个文档"));
}

// Workbooks named on the program's command line (the file manager's "Open with") start as the
// list, relative paths taken from the current folder; anything else is passed over.
TEST_F(DocumentListTest, FilesNamedOnTheCommandLineAreListed)
{
    touch(QStringLiteral("in/a.xlsx"));
    touch(QStringLiteral("in/b.xls"));
    touch(QStringLiteral("in/notes.txt"));
    QDir().mkpath(tempPath(QStringLiteral("in/folder.xls")));
    start();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tempPath(QStringLiteral("in"))));
    m_window->openDocuments({QStringLiteral("a.xlsx"), tempPath(QStringLiteral("in/b.xls")), QStringLiteral("missing.xls"),
                             QStringLiteral("notes.txt"), QStringLiteral("folder.xls"), QStringLiteral("./a.xlsx")});
    QDir::setCurrent(previous);
    EXPECT_EQ(entries(), (QStringList{tempPath(QStringLiteral("in/a.xlsx")), tempPath(QStringLiteral("in/b.xls"))}));
    EXPECT_EQ(countText(), QStringLiteral("共2个文档"));
}

TEST_F(DocumentListTest, DialogNeverAddsTemporaryOrLockFiles)
{
    start();
    m_dialogs.files = {{QStringLiteral("/d/~$a.xlsx"), QStringLiteral("/d/a.xlsx"), QStringLiteral("/d/.~gridmule-9-9.xls"),
                        QStringLiteral("/d/.~lock.a.xlsx#")}};
    action(QStringLiteral("AddFile"))->trigger();
    EXPECT_EQ(entries(), QStringList{QStringLiteral("/d/a.xlsx")});
    EXPECT_EQ(countText(), QStringLiteral("共1个文档"));
}

TEST_F(DocumentListTest, MovingRemovingAndTheDeleteKey)
{
    start();
    m_dialogs.files = {{QStringLiteral("A.xls"), QStringLiteral("B.xls"), QStringLiteral("C.xls"), QStringLiteral("D.xls")}};
    action(QStringLiteral("AddFile"))->trigger();
    select({1, 2});
    action(QStringLiteral("MoveUp"))->trigger();
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("B.xls"), QStringLiteral("C.xls"), QStringLiteral("A.xls"),
                                      QStringLiteral("D.xls")}));
    action(QStringLiteral("MoveUp"))->trigger();
    EXPECT_EQ(entries().at(0), QStringLiteral("B.xls"));
    action(QStringLiteral("MoveDown"))->trigger();
    action(QStringLiteral("MoveDown"))->trigger();
    action(QStringLiteral("MoveDown"))->trigger();
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("A.xls"), QStringLiteral("D.xls"), QStringLiteral("B.xls"),
                                      QStringLiteral("C.xls")}));
    const QModelIndexList selected = list()->selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 2);

    // Delete with nothing selected removes nothing and shows the count.
    list()->selectionModel()->clearSelection();
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Delete);
    EXPECT_EQ(entries().size(), 4);
    EXPECT_EQ(countText(), QStringLiteral("共4个文档"));

    select({0, 3});
    QTest::keyClick(list(), Qt::Key_Delete);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("D.xls"), QStringLiteral("B.xls")}));
    EXPECT_EQ(countText(), QStringLiteral("共2个文档"));

    select({0});
    action(QStringLiteral("Remove"))->trigger();
    EXPECT_EQ(entries(), QStringList{QStringLiteral("B.xls")});
    action(QStringLiteral("mnuRemoveAll"))->trigger();
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(countText(), QStringLiteral("共0个文档"));
}

TEST_F(DocumentListTest, ClickShowsTheFullPath)
{
    start();
    const QString longPath = QStringLiteral("/一个很长的目录/another/very/long/folder/name/报表.xls");
    m_dialogs.files = {{longPath}};
    action(QStringLiteral("AddFile"))->trigger();
    const QRect first = list()->visualRect(m_window->documents().index(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, Qt::NoModifier, first.center());
    EXPECT_EQ(list()->toolTip(), longPath);
}

TEST_F(DocumentListTest, FolderImportWithAndWithoutSubfolders)
{
    for (const char *file : {"in/a.xls", "in/b.XLSX", "in/c.xlsm", "in/.h.xls", "in/sub/d.xls", "in/~$a.xls",
                             "in/.~gridmule-5-5.xlsx", "in/sub/.~lock.d.xls#"})
        touch(QString::fromLatin1(file));
    const QString folder = tempPath(QStringLiteral("in"));
    start();

    auto importWith = [&](bool subfolders) {
        withModal<FolderDialog>(
                [&](FolderDialog &dialog) {
                    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("选择目录："));
                    m_dialogs.files = {{folder}};
                    dialog.findChild<QPushButton *>(QStringLiteral("CmdFolder"))->click();
                    EXPECT_EQ(dialog.findChild<QLineEdit *>(QStringLiteral("txtFolder"))->text(), folder);
                    dialog.findChild<QCheckBox *>(QStringLiteral("ChkSubdir"))->setChecked(subfolders);
                    dialog.findChild<QPushButton *>(QStringLiteral("CmdOK"))->click();
                },
                [&] { action(QStringLiteral("AddFolder"))->trigger(); });
    };

    importWith(false);
    QStringList top = entries();
    top.sort();
    EXPECT_EQ(top, (QStringList{folder + QStringLiteral("/.h.xls"), folder + QStringLiteral("/a.xls"),
                                folder + QStringLiteral("/b.XLSX")}));
    EXPECT_EQ(countText(), QStringLiteral("共3个文档"));
    EXPECT_EQ(m_dialogs.folderPrompts, QStringList{QStringLiteral("请选择一个文件夹")});

    importWith(true);
    EXPECT_EQ(entries().size(), 4);
    EXPECT_EQ(entries().constLast(), folder + QStringLiteral("/sub/d.xls"));
    EXPECT_EQ(countText(), QStringLiteral("共4个文档"));

    // Cancelling the dialog adds nothing, whatever was typed.
    withModal<FolderDialog>(
            [&](FolderDialog &dialog) {
                dialog.findChild<QLineEdit *>(QStringLiteral("txtFolder"))->setText(folder);
                dialog.findChild<QPushButton *>(QStringLiteral("CmdCancel"))->click();
            },
            [&] { action(QStringLiteral("AddFolder"))->trigger(); });
    EXPECT_EQ(entries().size(), 4);
}

TEST_F(DocumentListTest, RecentDocuments)
{
    start();
    const RecentDocuments recent;
    recent.clear();

    action(QStringLiteral("Imp2Recent"))->trigger();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("没有需要导入“开始”菜单“文档”项中的文档！")});

    m_dialogs.files = {{QStringLiteral("/d/a.xls"), QStringLiteral("/d/b.xls")}};
    action(QStringLiteral("AddFile"))->trigger();
    m_dialogs.messages.clear();
    m_dialogs.answers = {QMessageBox::No};
    action(QStringLiteral("mnuImp2Recent"))->trigger();
    ASSERT_EQ(m_dialogs.messages.size(), 1u);
    EXPECT_EQ(m_dialogs.messages[0].request.icon, QMessageBox::Question);
    EXPECT_EQ(m_dialogs.messages[0].request.text, QStringLiteral("确定要将文档批量导入“开始”菜单“文档”项中吗？"));
    EXPECT_TRUE(recent.files().isEmpty());

    m_dialogs.messages.clear();
    m_dialogs.answers = {QMessageBox::Yes};
    action(QStringLiteral("Imp2Recent"))->trigger();
    EXPECT_EQ(m_dialogs.texts().constLast(), QStringLiteral("导入完成！"));
    EXPECT_EQ(recent.files(), (QStringList{QStringLiteral("/d/a.xls"), QStringLiteral("/d/b.xls")}));

    m_dialogs.messages.clear();
    m_dialogs.answers = {QMessageBox::No};
    action(QStringLiteral("mnuClsRecent"))->trigger();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("确定要将“开始”菜单“文档”文件夹清空吗？")});
    EXPECT_EQ(recent.files().size(), 2);

    m_dialogs.answers = {QMessageBox::Yes};
    action(QStringLiteral("mnuClsRecent"))->trigger();
    EXPECT_EQ(m_dialogs.texts().constLast(), QStringLiteral("“开始”菜单“文档”文件夹清空！"));
    EXPECT_TRUE(recent.files().isEmpty());
    for (const auto &shown : m_dialogs.messages)
        EXPECT_EQ(shown.request.caption, QStringLiteral("Gridmule"));
}

} // namespace
} // namespace gm::test
