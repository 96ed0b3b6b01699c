// Opening and saving packages: refusals with the right error, atomic replacement, and an
// original that stays as it was whenever something fails.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <tuple>

namespace gm::xlsx {
namespace {

class PackageSave : public ::testing::Test
{
protected:
    QString copyOf(const char *relative, const QString &name = {})
    {
        const QString source = gm::test::corpusFile(QString::fromUtf8(relative));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path(), name);
    }
    QStringList folderListing() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QTemporaryDir m_dir;
};

#define COPY_OR_SKIP(var, ...)                                                                                         \
    const QString var = copyOf(__VA_ARGS__);                                                                           \
    if (var.isEmpty())                                                                                                 \
    GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"

ErrorCode failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const EngineError &error) {
        return error.code();
    }
    return ErrorCode::Unexpected;
}

// The stored bytes of one entry inside the zip file, located through libzip.
QByteArray compressedEntry(const QString &path, const QString &name)
{
    const test::RawPackage raw = test::readRaw(path);
    return raw.entries.at(name).compressed;
}

TEST_F(PackageSave, RefusesWhatItCannotOpenAndLeavesItAlone)
{
    COPY_OR_SKIP(good, "xlsx/simple01.xlsx");
    COPY_OR_SKIP(encrypted, "encrypted/poi-protect.xlsx");
    COPY_OR_SKIP(xls, "xls/calamine-date.xls", QStringLiteral("binary.xlsx"));
    const QString folder = m_dir.path() + QLatin1Char('/');

    const QByteArray original = gm::test::readAll(good);
    // Bytes flipped inside the deflated data of one entry.
    QByteArray flipped = original;
    const QByteArray stored = compressedEntry(good, QStringLiteral("xl/worksheets/sheet1.xml"));
    const qsizetype at = original.indexOf(stored);
    ASSERT_GT(at, 0);
    for (qsizetype i = at + stored.size() / 2; i < at + stored.size() / 2 + 4; ++i)
        flipped[i] = char(flipped[i] ^ 0x5A);
    gm::test::writeAll(folder + QStringLiteral("flipped.xlsx"), flipped);
    // The same sheet with another CRC in its headers: its data inflates, the CRC does not match.
    QByteArray wrongCrc = original;
    const QByteArray sheetName("xl/worksheets/sheet1.xml");
    for (const auto &[signature, crcAt, nameAt] :
        {std::tuple{QByteArray("PK\x01\x02", 4), 16, 46}, std::tuple{QByteArray("PK\x03\x04", 4), 14, 30}}) {
        for (qsizetype i = wrongCrc.indexOf(signature); i >= 0; i = wrongCrc.indexOf(signature, i + 4)) {
            if (wrongCrc.mid(i + nameAt, sheetName.size()) == sheetName)
                wrongCrc[i + crcAt] = char(wrongCrc.at(i + crcAt) ^ 0x01);
        }
    }
    ASSERT_NE(wrongCrc, original);
    gm::test::writeAll(folder + QStringLiteral("crc.xlsx"), wrongCrc);
    gm::test::writeAll(folder + QStringLiteral("truncated.xlsx"), original.left(original.size() * 6 / 10));
    gm::test::writeAll(folder + QStringLiteral("empty.xlsx"), {});
    gm::test::writeAll(folder + QStringLiteral("text.xlsx"), "a\tb\r\n1\t2\r\n");
    {
        // A zip, but no package.
        int error = 0;
        zip_t *za = zip_open(QFile::encodeName(folder + QStringLiteral("plain.xlsx")).constData(), ZIP_CREATE, &error);
        ASSERT_TRUE(za);
        zip_file_add(za, "a.txt", zip_source_buffer(za, "hello", 5, 0), 0);
        ASSERT_EQ(zip_close(za), 0);
    }

    const struct
    {
        QString path;
        ErrorCode code;
    } cases[] = {
        {folder + QStringLiteral("flipped.xlsx"), ErrorCode::Damaged},
        {folder + QStringLiteral("crc.xlsx"), ErrorCode::Damaged},
        {folder + QStringLiteral("truncated.xlsx"), ErrorCode::Damaged},
        {folder + QStringLiteral("empty.xlsx"), ErrorCode::EmptyFile},
        {folder + QStringLiteral("text.xlsx"), ErrorCode::NotAWorkbook},
        {folder + QStringLiteral("plain.xlsx"), ErrorCode::NotAWorkbook},
        {folder + QStringLiteral("missing.xlsx"), ErrorCode::FileNotFound},
        {encrypted, ErrorCode::PasswordRequired},
        {xls, ErrorCode::NotAWorkbook},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QByteArray before = gm::test::readAll(c.path);
        EXPECT_EQ(failureOf([&] { openPackage(c.path); }), c.code);
        EXPECT_FALSE(PackageWorkbook::isXlsxPackage(c.path) && c.code != ErrorCode::Damaged);
        EXPECT_EQ(gm::test::readAll(c.path), before);
    }
    EXPECT_EQ(gm::test::readAll(folder + QStringLiteral("flipped.xlsx")), flipped);
}

TEST_F(PackageSave, EveryCorpusWorkbookTakesAChangeAndKeepsItsOtherEntries)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xlsx"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xls?")}, QDir::Files)) {
        SCOPED_TRACE(file.toStdString());
        const QString path = gm::test::copyInto(folder + QLatin1Char('/') + file, m_dir.path());
        EXPECT_TRUE(isXlsxPackage(path));
        const test::RawPackage before = test::readRaw(path);
        QStringList changed;
        try {
            PackageWorkbook workbook(path);
            workbook.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("Changed title"));
            workbook.worksheet(1)->setHeaderFooter(HeaderFooterSection::RightFooter, QStringLiteral("&P"));
            workbook.worksheet(1)->setPrintArea(QStringLiteral("A1:B2"));
            workbook.close(true);
        } catch (const EngineError &error) {
            ADD_FAILURE() << error.what();
            continue;
        }
        // Entries whose content did not change (same CRC) must be stored exactly as before.
        const test::RawPackage after = test::readRaw(path);
        for (const QString &name : before.order) {
            if (after.entries.count(name) && after.entries.at(name).crc != before.entries.at(name).crc)
                changed << name;
        }
        EXPECT_GE(changed.size(), 3);
        EXPECT_LE(changed.size(), 4); // workbook, sheet, core properties (and their new rels)
        // Zips from other programs may get their local headers normalised (data descriptors,
        // extra fields); Excel's keep theirs, which the other tests check.
        test::expectUntouchedExcept(before, path, changed, {}, test::LocalHeaders::MayBeRewritten);
        PackageWorkbook reopened(path);
        EXPECT_EQ(reopened.builtinProperty(DocumentProperty::Title), QStringLiteral("Changed title"));
        EXPECT_EQ(reopened.worksheet(1)->printArea(), QStringLiteral("$A$1:$B$2"));
        QFile::remove(path);
    }
}

TEST_F(PackageSave, RecognisesPackagesByContentNotByName)
{
    COPY_OR_SKIP(xlsx, "xlsx/simple01.xlsx");
    COPY_OR_SKIP(renamed, "xlsx/simple01.xlsx", QStringLiteral("book.dat"));
    COPY_OR_SKIP(xlsm, "xlsx/macro01.xlsm");
    COPY_OR_SKIP(xls, "xls/calamine-date.xls");
    EXPECT_TRUE(isXlsxPackage(xlsx));
    EXPECT_TRUE(isXlsxPackage(renamed));
    EXPECT_TRUE(isXlsxPackage(xlsm));
    EXPECT_FALSE(isXlsxPackage(xls));
    EXPECT_FALSE(isXlsxPackage(m_dir.path() + QStringLiteral("/missing.xlsx")));
}

TEST_F(PackageSave, SaveKeepsPermissionsAndSymlinksAndLeavesNoStrayFiles)
{
    COPY_OR_SKIP(path, "xlsx/theme01.xlsx");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    const QString link = m_dir.path() + QStringLiteral("/link.xlsx");
    ASSERT_TRUE(QFile::link(path, link));
    const QStringList listing = folderListing();
    const test::RawPackage before = test::readRaw(path);

    PackageWorkbook workbook(link);
    EXPECT_EQ(workbook.fullName(), link);
    EXPECT_EQ(workbook.name(), QStringLiteral("link.xlsx"));
    workbook.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("first"));
    workbook.save();
    workbook.setBuiltinProperty(DocumentProperty::Subject, QStringLiteral("second"));
    workbook.close(true);

    EXPECT_TRUE(QFileInfo(link).isSymLink());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(folderListing(), listing);
    test::expectUntouchedExcept(before, path, {QStringLiteral("docProps/core.xml")});
    PackageWorkbook reopened(path);
    EXPECT_EQ(reopened.builtinProperty(DocumentProperty::Title), QStringLiteral("first"));
    EXPECT_EQ(reopened.builtinProperty(DocumentProperty::Subject), QStringLiteral("second"));
}

TEST_F(PackageSave, FailedSavesLeaveTheOriginalAndNoTemporaryFile)
{
    COPY_OR_SKIP(readOnly, "xlsx/simple01.xlsx", QStringLiteral("readonly.xlsx"));
    COPY_OR_SKIP(changed, "xlsx/simple01.xlsx", QStringLiteral("changed.xlsx"));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    const QByteArray original = gm::test::readAll(readOnly);
    const QStringList listing = folderListing();

    PackageWorkbook first(readOnly);
    first.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("x"));
    EXPECT_EQ(failureOf([&] { first.save(); }), ErrorCode::ReadOnlyFile);
    EXPECT_EQ(gm::test::readAll(readOnly), original);

    // Another program rewrites the file while it is open: the save must not overwrite that.
    PackageWorkbook second(changed);
    second.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("x"));
    const QByteArray theirs = original + "tail";
    gm::test::writeAll(changed, theirs);
    EXPECT_EQ(failureOf([&] { second.save(); }), ErrorCode::InUse);
    EXPECT_EQ(gm::test::readAll(changed), theirs);
    EXPECT_EQ(folderListing(), listing);
}

TEST_F(PackageSave, SaveAsWritesACopyAndTheWorkbookStaysWhereItIs)
{
    COPY_OR_SKIP(path, "xlsx/table01.xlsx");
    COPY_OR_SKIP(macro, "xlsx/macro01.xlsm");
    const QByteArray original = gm::test::readAll(path);
    const QString copy = m_dir.path() + QStringLiteral("/copy.xlsx");

    PackageWorkbook workbook(path);
    workbook.setBuiltinProperty(DocumentProperty::Company, QStringLiteral("C"));
    EXPECT_EQ(failureOf([&] { workbook.saveAs(copy, FileFormat::Csv); }), ErrorCode::UnsupportedFormat);
    workbook.saveAs(copy, FileFormat::OpenXmlWorkbook);
    EXPECT_EQ(gm::test::readAll(path), original);
    EXPECT_EQ(workbook.fullName(), path);
    test::expectUntouchedExcept(test::readRaw(path), copy, {QStringLiteral("docProps/app.xml")});
    EXPECT_EQ(PackageWorkbook(copy).builtinProperty(DocumentProperty::Company), QStringLiteral("C"));

    // Closing without saving keeps the original; a kept worksheet then fails cleanly.
    const auto sheet = workbook.worksheet(1);
    workbook.close(false);
    EXPECT_EQ(gm::test::readAll(path), original);
    EXPECT_EQ(failureOf([&] { sheet->orientation(); }), ErrorCode::Unexpected);

    PackageWorkbook macroBook(macro);
    EXPECT_EQ(failureOf([&] { macroBook.saveAs(copy, FileFormat::OpenXmlWorkbook); }), ErrorCode::NotSupported);
}

} // namespace
} // namespace gm::xlsx
