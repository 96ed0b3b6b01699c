// Encrypted workbooks read by the spreadsheet engine with their password: every worksheet
// shows the same texts as the original's, and a wrong password is refused.

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "operations/workbook/PasswordOperation.h"

#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm {
namespace {

// Every worksheet's name and the texts the cells of its top-left corner show.
QStringList shownTexts(Workbook &book)
{
    QStringList texts;
    for (int n = 1; n <= book.worksheetCount(); ++n) {
        auto sheet = book.worksheet(n);
        texts << sheet->name();
        for (int row = 1; row <= 20; ++row) {
            for (const char column : {'A', 'B', 'C', 'D', 'E', 'F'})
                texts << sheet->cellText(QLatin1Char(column) + QString::number(row));
        }
    }
    return texts;
}

TEST(PasswordsOffice, TheEngineOpensEncryptedWorkbooksWithThePassword)
{
    QTemporaryDir dir;
    QStringList files;
    for (const char *name : {"sheets_second_active.xlsx", "sheets_second_active.xls", "displayed_values.xlsx"})
        files << test::copyInto(test::fixture(QString::fromLatin1(name)), dir.path());
    const QString corpus = test::corpusFile(QStringLiteral("xls"));
    if (!corpus.isEmpty()) {
        // Larger streams: many 1024-byte keystream blocks, shared strings, stream positions.
        for (const char *name : {"xlrd-profiles.xls", "poi-chinese-provinces.xls"}) {
            const QString path = corpus + QLatin1Char('/') + QLatin1String(name);
            if (QFileInfo::exists(path))
                files << test::copyInto(path, dir.path());
        }
    }
    lo::LoApplication engine(libreOfficeProgramDir());
    std::vector<QStringList> before;
    for (const QString &file : files) {
        auto book = engine.open(file, true);
        before.push_back(shownTexts(*book));
        book->close(false);
    }

    const QString password = QStringLiteral("密码 Geheim");
    PasswordInputs inputs;
    inputs.entries = files;
    inputs.password = password;
    inputs.confirmation = password;
    test::ScriptedUi ui;
    const RunSummary summary = runPasswords(inputs, ui, RunSettings{});
    for (size_t i = 0; i < size_t(files.size()); ++i) {
        SCOPED_TRACE(files[int(i)].toStdString());
        ASSERT_EQ(summary.files[i].outcome, FileOutcome::Processed) << summary.files[i].errorDescription.toStdString();
        auto book = engine.openWithPassword(files[int(i)], password);
        EXPECT_EQ(shownTexts(*book), before[i]);
        book->close(false);
        try {
            engine.openWithPassword(files[int(i)], QStringLiteral("密码 geheim"));
            ADD_FAILURE() << "a wrong password opened the workbook";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::PasswordRequired);
        }
    }
}

} // namespace
} // namespace gm
