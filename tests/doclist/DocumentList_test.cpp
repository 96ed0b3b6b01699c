#include "doclist/DocumentListModel.h"

#include <QItemSelectionModel>

#include <gtest/gtest.h>

namespace gm {
namespace {

QStringList letters(const char *text)
{
    QStringList result;
    for (const char *c = text; *c; ++c)
        result.append(QString(QChar::fromLatin1(*c)));
    return result;
}

struct ListFixture
{
    explicit ListFixture(const char *entries)
    {
        for (const QString &entry : letters(entries))
            model.append(entry);
    }
    void select(const char *chosen)
    {
        selection.clearSelection();
        for (int row = 0; row < model.count(); ++row) {
            if (letters(chosen).contains(model.entry(row)))
                selection.select(model.index(row), QItemSelectionModel::Select);
        }
    }
    QString order() const { return model.entries().join(QString()); }
    QString selected() const
    {
        QString result;
        for (int row = 0; row < model.count(); ++row) {
            if (selection.isSelected(model.index(row)))
                result += model.entry(row);
        }
        return result;
    }

    DocumentListModel model;
    QItemSelectionModel selection{&model};
};

TEST(DocumentList, ArrangeMovesSelectedRunsAsBlocks)
{
    struct Case
    {
        const char *entries;
        const char *selected;
        int direction;
        const char *order;
    };
    const Case cases[] = {
            {"ABCD", "BC", 1, "BCAD"},
            {"BCAD", "BC", 1, "BCAD"}, // a run at the top stays
            {"ABCD", "BC", 2, "ADBC"},
            {"ABCD", "CD", 2, "ABCD"}, // a run at the bottom stays
            {"ABCDE", "BD", 1, "BADCE"},
            {"ABCDE", "AC", 1, "ACBDE"},
            {"ABCDE", "BD", 2, "ACBED"},
            {"ABCD", "", 1, "ABCD"},
            {"ABCD", "BC", 3, "ABCD"}, // other directions do nothing
            {"ABCD", "BC", 0, "ABCD"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.entries) + " " + c.selected + " " + std::to_string(c.direction));
        ListFixture list(c.entries);
        list.select(c.selected);
        list.model.ArrangeItem(list.selection, c.direction);
        EXPECT_EQ(list.order(), QString::fromLatin1(c.order));
        // The moved entries stay selected, wherever they went.
        EXPECT_EQ(list.selected().size(), qsizetype(strlen(c.selected)));
        for (const QString &entry : letters(c.selected))
            EXPECT_TRUE(list.selected().contains(entry));
    }
}

TEST(DocumentList, RemoveSelectedEntries)
{
    ListFixture list("ABCDE");
    list.select("BDE");
    list.model.removeSelected(list.selection);
    EXPECT_EQ(list.order(), QStringLiteral("AC"));

    list.select("");
    list.model.removeSelected(list.selection);
    EXPECT_EQ(list.order(), QStringLiteral("AC"));
}

TEST(DocumentList, NoDuplicatesFromAnySource)
{
    DocumentListModel model;
    EXPECT_TRUE(model.appendUnique(QStringLiteral("/data/a.xls")));
    EXPECT_FALSE(model.appendUnique(QStringLiteral("/data/a.xls")));
    EXPECT_TRUE(model.appendUnique(QStringLiteral("/data/A.xls"))); // letter case counts
    // A drop skips what is listed and repeats within itself.
    EXPECT_EQ(model.appendDropped({QStringLiteral("/data/a.xls"), QStringLiteral("/data/b.xls"),
                                   QStringLiteral("/data/b.xls")},
                                  true),
              1);
    EXPECT_EQ(model.entries(), (QStringList{QStringLiteral("/data/a.xls"), QStringLiteral("/data/A.xls"),
                                            QStringLiteral("/data/b.xls")}));
    EXPECT_TRUE(ListHasItem(model.entries(), QStringLiteral("/data/A.xls")));
    EXPECT_FALSE(ListHasItem(model.entries(), QStringLiteral("/data/a.xls ")));
}

TEST(DocumentList, DropRule)
{
    const std::tuple<const char *, bool, bool> cases[] = {
            {"/d/a.xls", false, true},   {"/d/a.XLS", false, true},   {"/d/a.xlsx", false, false},
            {"/d/a.XLSX", false, false}, {"/d/a.XLSX", true, true},   {"/d/a.xlsm", true, false},
            {"/d/a.xls.txt", true, false}, {"/d/folder", true, false}, {"/d/.xls", true, true},
            {"/d/.~gridmule-1a2b.xlsx", true, false}, {"/d/~$a.xlsx", true, false}, {"/d/~$a.xls", false, false},
            {"/d/.~lock.a.xls#", true, false},
    };
    for (const auto &[path, xlsx, accepted] : cases) {
        SCOPED_TRACE(std::string(path) + (xlsx ? " xlsx" : ""));
        DocumentListModel model;
        EXPECT_EQ(model.appendDropped({QString::fromLatin1(path)}, xlsx), accepted ? 1 : 0);
    }
}

// Our temporary files, lock files and owner files never enter the list, whatever adds them;
// names that only resemble them are ordinary workbooks.
TEST(DocumentList, TemporaryAndLockFilesAreNeverListed)
{
    const std::pair<const char *, bool> cases[] = {
            {"/d/.~gridmule-4f2a9c.xlsx", true},
            {"/d/.~gridmule-12-77.xls", true},
            {"/d/~$Budget.xlsx", true},
            {"/d/sub/~$b.xls", true},
            {"/d/.~lock.a.xls#", true},
            {"/d/.~lock..~gridmule-1.xlsx#", true},
            {"/d/.~lock.a.xls", false}, // no closing '#': not the engine's lock
            {"/d/gridmule-report.xlsx", false},
            {"/d/a~$b.xls", false},
            {"/~$d/a.xls", false}, // only the file's own name counts
            {"/d/.gridmule.xls", false},
    };
    for (const auto &[path, helper] : cases) {
        SCOPED_TRACE(path);
        const QString text = QString::fromUtf8(path);
        EXPECT_EQ(isTemporaryOrLockFile(text), helper);
        DocumentListModel unique;
        EXPECT_EQ(unique.appendUnique(text), !helper);
        DocumentListModel plain;
        EXPECT_EQ(plain.append(text), !helper);
        EXPECT_EQ(isWorkbookFileName(text, true), !helper);
    }
}

TEST(DocumentList, CountText)
{
    EXPECT_EQ(documentCountText(0), QStringLiteral("共0个文档"));
    EXPECT_EQ(documentCountText(12), QStringLiteral("共12个文档"));
}

TEST(DocumentList, HoldsAtMostTheLargestPosition)
{
    DocumentListModel model;
    QStringList many;
    for (int i = 0; i < kMaxDocuments + 5; ++i)
        many.append(QStringLiteral("/d/%1.xls").arg(i));
    EXPECT_EQ(model.appendDropped(many, false), kMaxDocuments);
    EXPECT_FALSE(model.append(QStringLiteral("/d/more.xls")));
}

} // namespace
} // namespace gm
