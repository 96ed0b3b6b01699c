// Batch rename on real files in a temporary folder: each kind, the refusals that keep every
// file, and the dry run that changes nothing.

#include "operations/files/BatchRename.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

struct Folder
{
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.path() + u'/' + name; }
    QString make(const QString &name, const QByteArray &content = {}) const
    {
        const QString file = path(name);
        test::writeAll(file, content.isEmpty() ? name.toUtf8() : content);
        return file;
    }
    QStringList names() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

struct KindCase
{
    const char *label;
    const char *file;
    RenameInputs inputs;
    const char *expected; // new file name; "" when the file keeps its name
};

RenameInputs replace(const char *search, const char *with, bool all = false)
{
    RenameInputs inputs;
    inputs.search = QString::fromUtf8(search);
    inputs.replacement = QString::fromUtf8(with);
    inputs.replaceAll = all;
    return inputs;
}

RenameInputs insert(const char *position, const char *text)
{
    RenameInputs inputs;
    inputs.kind = RenameKind::Insert;
    inputs.insertPosition = QString::fromUtf8(position);
    inputs.insertText = QString::fromUtf8(text);
    return inputs;
}

RenameInputs erase(const char *position, const char *count)
{
    RenameInputs inputs;
    inputs.kind = RenameKind::Delete;
    inputs.deletePosition = QString::fromUtf8(position);
    inputs.deleteCount = QString::fromUtf8(count);
    return inputs;
}

RenameInputs letterCase(CaseChange mainName, CaseChange extension)
{
    RenameInputs inputs;
    inputs.kind = RenameKind::Case;
    inputs.mainNameCase = mainName;
    inputs.extensionCase = extension;
    return inputs;
}

} // namespace

TEST(BatchRename, EachKindRenamesTheFileAndReportsTheNewPath)
{
    const KindCase cases[] = {
        {"first match, case ignored", "Report.xls", replace("rep", "Sum"), "Sumort.xls"},
        {"first only", "aaa.xls", replace("a", "b"), "baa.xls"},
        {"all", "aaa.xls", replace("a", "b", true), "bbb.xls"},
        {"empty replacement removes", "月度报表2024.xlsx", replace("报表", ""), "月度2024.xlsx"},
        {"CJK replacement", "销售-一月.xls", replace("一月", "二月", true), "销售-二月.xls"},
        {"dots stay in the main name", "a.b.c.xls", replace(".", "_", true), "a_b_c.xls"},
        {"case-only replacement does nothing", "report.xls", replace("report", "REPORT"), ""},
        {"no match", "Book1.xls", replace("zz", "y"), ""},
        {"insert at 0", "Book1.xls", insert("0", "X_"), "X_Book1.xls"},
        {"insert at end", "Book1.xls", insert("5", "X_"), "Book1X_.xls"},
        {"insert beyond skips", "Book1.xls", insert("6", "X_"), ""},
        {"insert CJK", "报表.xlsx", insert("1", "年度"), "报年度表.xlsx"},
        {"delete", "Book1.xls", erase("1", "2"), "Bk1.xls"},
        {"delete past the end", "Book1.xls", erase("3", "100"), "Boo.xls"},
        {"delete at the end changes nothing", "Book1.xls", erase("5", "1"), ""},
        {"delete CJK", "二〇二四年报表.xls", erase("0", "5"), "报表.xls"},
        {"upper main, lower extension", "Book1.XLS", letterCase(CaseChange::Upper, CaseChange::Lower), "BOOK1.xls"},
        {"lower main only", "Book1.XLS", letterCase(CaseChange::Lower, CaseChange::Unchanged), "book1.XLS"},
        {"already in that case", "book1.xls", letterCase(CaseChange::Lower, CaseChange::Lower), ""},
    };
    for (const KindCase &c : cases) {
        SCOPED_TRACE(c.label);
        Folder folder;
        const QString original = folder.make(QString::fromUtf8(c.file));
        RenameInputs inputs = c.inputs;
        inputs.entries = {original};
        test::ScriptedUi ui;
        const RenameRun run = renameDocuments(inputs, ui);
        ASSERT_TRUE(run.completed);
        ASSERT_EQ(run.files.size(), 1);
        EXPECT_EQ(ui.messages, QStringList{kRenameDone});
        const QString expected = QString::fromUtf8(*c.expected ? c.expected : c.file);
        EXPECT_EQ(folder.names(), QStringList{expected});
        EXPECT_EQ(test::readAll(folder.path(expected)), QByteArray(c.file));
        EXPECT_EQ(run.files[0].outcome, *c.expected ? RenameOutcome::Renamed
                                                    : (QByteArray(c.label).contains("skips") ? RenameOutcome::Skipped
                                                                                              : RenameOutcome::Unchanged));
        if (run.files[0].outcome == RenameOutcome::Renamed) {
            EXPECT_EQ(run.files[0].newPath, folder.path(expected));
        }
    }
}

TEST(BatchRename, NothingIsEverOverwrittenOrLost)
{
    Folder folder;
    const QString a = folder.make(QStringLiteral("A.xls"));
    const QString b = folder.make(QStringLiteral("B.xls"));
    const QString c = folder.make(QStringLiteral("C1.xls"));
    folder.make(QStringLiteral("D1.xls"), "other");
    const QString clashInList = folder.make(QStringLiteral("X1.xls"));
    const QString takenByEarlier = folder.make(QStringLiteral("X 1.xls"));

    struct Case
    {
        const char *label;
        QStringList entries;
        RenameInputs inputs;
        QList<RenameOutcome> outcomes;
    };
    const Case cases[] = {
        // A -> B while B exists: refused; B -> C then renames.
        {"existing target", {a, b}, replace("A", "B"), {RenameOutcome::Refused, RenameOutcome::Unchanged}},
        {"target outside the list", {c}, replace("C", "D"), {RenameOutcome::Refused}},
        {"empty main name", {a}, replace("A", ""), {RenameOutcome::Refused}},
        {"deleting the whole name", {c}, erase("0", "5"), {RenameOutcome::Refused}},
        {"forbidden character inserted", {a}, insert("1", "/x"), {RenameOutcome::Refused}},
        // "X 1.xls" -> "X1.xls" clashes with the listed X1.xls.
        {"two entries onto one name", {clashInList, takenByEarlier}, replace(" ", ""), {RenameOutcome::Unchanged, RenameOutcome::Refused}},
    };
    const QStringList before = folder.names();
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.label);
        RenameInputs inputs = testCase.inputs;
        inputs.entries = testCase.entries;
        test::ScriptedUi ui;
        const RenameRun run = renameDocuments(inputs, ui);
        ASSERT_EQ(run.files.size(), testCase.outcomes.size());
        for (int i = 0; i < run.files.size(); ++i) {
            EXPECT_EQ(run.files[i].outcome, testCase.outcomes[i]) << i;
            if (run.files[i].outcome == RenameOutcome::Refused) {
                EXPECT_TRUE(ui.messages.contains(run.files[i].reason));
            }
        }
        EXPECT_EQ(ui.messages.last(), kRenameDone);
        EXPECT_EQ(folder.names(), before);
        EXPECT_EQ(test::readAll(folder.path(QStringLiteral("D1.xls"))), QByteArray("other"));
    }

    // The case kind onto a different existing file of other letter case keeps both.
    Folder cased;
    const QString lower = cased.make(QStringLiteral("book.xls"), "lower");
    cased.make(QStringLiteral("BOOK.xls"), "upper");
    test::ScriptedUi ui;
    RenameInputs upper = letterCase(CaseChange::Upper, CaseChange::Unchanged);
    upper.entries = {lower};
    const RenameRun run = renameDocuments(upper, ui);
    ASSERT_EQ(run.files.size(), 1);
    EXPECT_EQ(run.files[0].outcome, RenameOutcome::Refused);
    EXPECT_EQ(run.files[0].reason, lower + QStringLiteral("\n\n") + kRenameClash);
    EXPECT_EQ(test::readAll(cased.path(QStringLiteral("book.xls"))), QByteArray("lower"));
    EXPECT_EQ(test::readAll(cased.path(QStringLiteral("BOOK.xls"))), QByteArray("upper"));
}

TEST(BatchRename, ChecksStopTheRunBeforeAnyFileIsRenamed)
{
    Folder folder;
    const QString book = folder.make(QStringLiteral("Book1.xls"));
    struct Case
    {
        const char *label;
        RenameInputs inputs;
        QString message; // "" : the run ends without a message
    };
    const Case cases[] = {
        {"slash in the replacement", replace("Book", "a/b"), kRenameForbiddenCharacters},
        {"empty search text", replace("", "x"), kRenameNoSearchText},
        {"empty insert text", insert("1", ""), QString()},
        {"insert position not a number", insert("x", "a"), kRenameBadInsertPosition},
        {"negative insert position", insert("-1", "a"), kRenameBadInsertPosition},
        {"delete count 0", erase("1", "0"), QString()},
        {"delete count not a number", erase("1", "1.5"), kRenameBadDeleteCount},
        {"delete position beyond 16 bits", erase("40000", "1"), kRenameBadDeletePosition},
        {"case kind with nothing to change", letterCase(CaseChange::Unchanged, CaseChange::Unchanged), QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        RenameInputs inputs = c.inputs;
        inputs.entries = {book};
        test::ScriptedUi ui;
        const RenameRun run = renameDocuments(inputs, ui);
        EXPECT_FALSE(run.completed);
        EXPECT_EQ(ui.messages, c.message.isEmpty() ? QStringList{} : QStringList{c.message});
        EXPECT_EQ(folder.names(), QStringList{QStringLiteral("Book1.xls")});
    }
    EXPECT_EQ(kRenameForbiddenCharacters.section(u'\n', 1).size(), 18);

    RenameInputs empty = replace("a", "b");
    test::ScriptedUi ui;
    EXPECT_FALSE(renameDocuments(empty, ui).completed);
    EXPECT_EQ(ui.messages, QStringList{kRenameEmptyList});
}

TEST(BatchRename, DryRunPredictsTheRunAndChangesNothing)
{
    Folder folder;
    const QString a = folder.make(QStringLiteral("1A.xls"));
    const QString b = folder.make(QStringLiteral("1B.xls"));
    RenameInputs inputs = insert("0", "B");
    inputs.entries = {a, b};
    // 1A -> B1A, 1B -> B1B: both free.
    test::ScriptedUi dryUi;
    const RenameRun dry = renameDocuments(inputs, dryUi, true);
    EXPECT_EQ(folder.names(), (QStringList{QStringLiteral("1A.xls"), QStringLiteral("1B.xls")}));

    RenameInputs chain = replace("1", "");
    chain.entries = {folder.make(QStringLiteral("X1.xls")), folder.make(QStringLiteral("X11.xls"))};
    // X11 -> X1 is free only because X1 -> X came first.
    test::ScriptedUi chainDryUi;
    const RenameRun chainDry = renameDocuments(chain, chainDryUi, true);
    const QStringList untouched = folder.names();

    test::ScriptedUi realUi;
    const RenameRun real = renameDocuments(inputs, realUi);
    test::ScriptedUi chainUi;
    const RenameRun chainReal = renameDocuments(chain, chainUi);
    EXPECT_EQ(untouched.size(), 4);
    for (const auto &[predicted, happened] : {std::pair{&dry, &real}, std::pair{&chainDry, &chainReal}}) {
        ASSERT_EQ(predicted->files.size(), happened->files.size());
        for (int i = 0; i < predicted->files.size(); ++i) {
            EXPECT_EQ(predicted->files[i].outcome, happened->files[i].outcome) << i;
            EXPECT_EQ(predicted->files[i].newPath, happened->files[i].newPath) << i;
        }
    }
    EXPECT_EQ(chainReal.files[0].outcome, RenameOutcome::Renamed);
    EXPECT_EQ(chainReal.files[1].outcome, RenameOutcome::Renamed);
    EXPECT_EQ(folder.names(), (QStringList{QStringLiteral("B1A.xls"), QStringLiteral("B1B.xls"), QStringLiteral("X.xls"),
                                           QStringLiteral("X1.xls")}));
    EXPECT_EQ(test::readAll(folder.path(QStringLiteral("X1.xls"))), QByteArray("X11.xls"));
}
