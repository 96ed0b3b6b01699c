// Open and modify passwords written into real workbooks by the package and record editors,
// checked by an independent reader: msoffcrypto-tool decrypts every encrypted output, and the
// decrypted package or workbook stream must be the original's.

#include "automation/xls/BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/crypto/PasswordHashes.h"
#include "automation/xls/BiffRecordStream.h"
#include "operations/workbook/PasswordOperation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <gtest/gtest.h>

namespace gm {
namespace {

using namespace gm::xls::test;

const QString decryptScript = QStringLiteral(GRIDMULE_TEST_DATA "/../support/office_decrypt.py");

bool independentReaderPresent()
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import msoffcrypto")});
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

#define GM_REQUIRE_DECRYPTOR()                                                                                                   \
    if (independentReaderPresent()) {                                                                                            \
    } else                                                                                                                       \
        GTEST_SKIP() << "python3-msoffcrypto-tool is not installed (scripts/setup.sh installs it)"

// Decrypts with msoffcrypto-tool, in one process: the package of an .xlsx, the Workbook stream
// of an .xls, each to its output path. Exit status 3 means the reader refused the password.
int decrypt(const QList<std::pair<QString, QString>> &files, const QString &password)
{
    QTemporaryDir dir;
    const QString passwordFile = dir.filePath(QStringLiteral("password"));
    test::writeAll(passwordFile, password.toUtf8() + '\n');
    QStringList arguments{decryptScript, passwordFile};
    for (const auto &[encrypted, output] : files)
        arguments << encrypted << output;
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (process.exitCode() != 0 && process.exitCode() != 3)
        ADD_FAILURE() << process.readAllStandardError().toStdString();
    return process.exitCode();
}

RunSummary run(const QStringList &files, PasswordKind kind, const QString &password, bool makeWritable = false)
{
    PasswordInputs inputs;
    inputs.entries = files;
    inputs.kind = kind;
    inputs.password = password;
    inputs.confirmation = password;
    inputs.makeWritable = makeWritable;
    test::ScriptedUi ui;
    // No file of this operation may reach the spreadsheet engine.
    ApplicationFactory noEngine = []() -> std::unique_ptr<Application> {
        ADD_FAILURE() << "the engine was started";
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("not in this test"));
    };
    return runPasswords(inputs, ui, RunSettings{}, noEngine);
}

// A decrypted workbook stream without the zeroed record msoffcrypto leaves where FILEPASS was,
// laid out again, so that the positions it holds are comparable with the original's.
QByteArray withoutFilePassSlot(const QByteArray &decrypted)
{
    xls::BiffRecordStream stream = xls::BiffRecordStream::parse(decrypted);
    QList<xls::BiffRecord> &records = stream.records();
    for (int i = 1; i < records.size(); ++i) {
        if (records[i].type == 0 && records[i].data == QByteArray(0x36, '\0')) {
            records.removeAt(i);
            break;
        }
    }
    return stream.serialize();
}

// Where msoffcrypto's zeroed FILEPASS sits among the records.
int filePassSlot(const QList<RawRecord> &records)
{
    for (int i = 1; i < records.size(); ++i) {
        if (records[i].type == 0 && records[i].data == QByteArray(0x36, '\0'))
            return i;
    }
    return 1;
}

// The original stream up to its last record (padding after it is not part of the workbook).
QByteArray recordsOf(const QByteArray &stream)
{
    const QList<RawRecord> records = rawRecords(stream);
    if (records.isEmpty())
        return {};
    const RawRecord &last = records.last();
    return stream.left(last.at + 4 + last.data.size());
}

TEST(Passwords, OpenPasswordEncryptsXlsxPackagesByteForByte)
{
    GM_REQUIRE_DECRYPTOR();
    GM_REQUIRE_CORPUS(folder, "xlsx");
    QTemporaryDir dir;
    QStringList files, originals;
    // Packages with charts and pictures, and the small fixture.
    for (const char *name : {"chart_bar01.xlsx", "embed_image01.xlsx"})
        files << test::copyInto(folder + QLatin1Char('/') + QLatin1String(name), dir.path());
    files << test::copyInto(test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    for (const QString &file : files)
        originals << QString::fromLatin1(test::readAll(file).toBase64());

    const QString password = QStringLiteral("Geheim-42 密码");
    const RunSummary summary = run(files, PasswordKind::Open, password);
    ASSERT_EQ(summary.files.size(), size_t(files.size()));
    QList<std::pair<QString, QString>> outputs;
    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].toStdString());
        EXPECT_EQ(summary.files[size_t(i)].outcome, FileOutcome::Processed)
            << summary.files[size_t(i)].errorDescription.toStdString();
        EXPECT_TRUE(test::readAll(files[i]).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
        outputs.append({files[i], files[i] + QStringLiteral(".plain")});
    }
    ASSERT_EQ(decrypt(outputs, password), 0);
    for (int i = 0; i < files.size(); ++i)
        EXPECT_EQ(QString::fromLatin1(test::readAll(outputs[i].second).toBase64()), originals[i]) << files[i].toStdString();
    EXPECT_EQ(decrypt({{files[0], dir.filePath(QStringLiteral("wrong"))}}, QStringLiteral("Geheim-42")), 3);
}

TEST(Passwords, OpenPasswordEncryptsXlsWorkbookStreams)
{
    GM_REQUIRE_DECRYPTOR();
    const QStringList sources = corpusXlsFiles();
    if (sources.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString password = QStringLiteral("пароль🔑x"); // a surrogate pair counts as two units
    struct Encrypted
    {
        QString copy;
        ole::CompoundEntry before;
        QByteArray name;
    };
    QList<Encrypted> encrypted;
    QList<std::pair<QString, QString>> outputs;
    for (const QString &source : sources) {
        SCOPED_TRACE(source.toStdString());
        const QString copy = test::copyInto(source, dir.path());
        const ole::CompoundEntry before = ole::CompoundFile::readFile(copy);
        const RunSummary summary = run({copy}, PasswordKind::Open, password);
        ASSERT_EQ(summary.files.size(), 1u);
        if (summary.files[0].outcome != FileOutcome::Processed) {
            // Refused inputs (already encrypted, Excel 5.0, a second workbook stream) stay as they were.
            EXPECT_EQ(test::readAll(copy), test::readAll(source));
            continue;
        }
        const ole::CompoundEntry after = ole::CompoundFile::readFile(copy);
        const QByteArray name = workbookStreamName(before);
        // Only the workbook stream differs; it starts BOF, FILEPASS (or BOF, WRITEPROT, FILEPASS).
        ole::CompoundEntry expected = before;
        expected.child(name)->data = after.child(name)->data;
        EXPECT_EQ(ole::CompoundFile::difference(expected, after), QString());
        const QList<RawRecord> records = rawRecords(after.child(name)->data);
        ASSERT_GE(records.size(), 3);
        EXPECT_TRUE(records[1].type == 0x002F || (records[1].type == 0x0086 && records[2].type == 0x002F));
        encrypted.append({copy, before, name});
        outputs.append({copy, copy + QStringLiteral(".stream")});
    }
    EXPECT_GE(encrypted.size(), 40);
    ASSERT_EQ(decrypt(outputs, password), 0);

    for (int i = 0; i < encrypted.size(); ++i) {
        SCOPED_TRACE(encrypted[i].copy.toStdString());
        const QByteArray original = encrypted[i].before.child(encrypted[i].name)->data;
        const QByteArray decrypted = test::readAll(outputs[i].second);
        const QList<bool> hits = positionHits(original);
        if (!hits.contains(false)) {
            EXPECT_EQ(withoutFilePassSlot(decrypted), recordsOf(original));
            EXPECT_EQ(positionHits(decrypted), hits);
            continue;
        }
        // Stray positions that point nowhere (written by other programs) are kept as they were
        // and cannot be compared through a layout: compare the records themselves.
        QList<RawRecord> plain = rawRecords(decrypted);
        const QList<RawRecord> want = rawRecords(original);
        ASSERT_EQ(plain.size(), want.size() + 1);
        plain.removeAt(filePassSlot(plain));
        for (int r = 0; r < want.size(); ++r) {
            EXPECT_EQ(plain[r].type, want[r].type);
            if (want[r].type != 0x0085 && want[r].type != 0x020B && want[r].type != 0x00FF) {
                EXPECT_EQ(plain[r].data, want[r].data) << "record " << r;
            }
        }
    }
}

TEST(Passwords, ModifyPasswordXlsxWritesFileSharingOnly)
{
    QTemporaryDir dir;
    const QString file = test::copyInto(test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QStringList entriesBefore = test::zipEntryNames(file);
    const QString password = QStringLiteral("改写 Secret");
    const RunSummary summary = run({file}, PasswordKind::Modify, password);
    ASSERT_EQ(summary.files.size(), 1u);
    ASSERT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();

    EXPECT_EQ(test::zipEntryNames(file), entriesBefore);
    const QString original = test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    for (const QString &entry : entriesBefore) {
        if (entry != QStringLiteral("xl/workbook.xml")) {
            EXPECT_EQ(test::zipEntry(file, entry), test::zipEntry(original, entry)) << entry.toStdString();
        }
    }
    const QByteArray workbook = test::zipEntry(file, QStringLiteral("xl/workbook.xml"));
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(workbook.constData(), size_t(workbook.size())));
    const pugi::xml_node root = document.document_element();
    // Right after fileVersion (or first), as the schema orders the workbook's children.
    pugi::xml_node sharing = root.first_child();
    if (QLatin1String(sharing.name()) == QLatin1String("fileVersion"))
        sharing = sharing.next_sibling();
    ASSERT_STREQ(sharing.name(), "fileSharing");
    EXPECT_STREQ(sharing.attribute("algorithmName").value(), "SHA-512");
    EXPECT_EQ(sharing.attribute("spinCount").as_int(), 100000);
    EXPECT_FALSE(QString::fromUtf8(sharing.attribute("userName").value()).isEmpty());
    const QByteArray salt = QByteArray::fromBase64(sharing.attribute("saltValue").value());
    EXPECT_EQ(salt.size(), 16);
    EXPECT_EQ(
        crypto::iteratedPasswordHash(password, salt, 100000).toBase64(), QByteArray(sharing.attribute("hashValue").value()));
}

TEST(Passwords, ModifyPasswordXlsxReplacesAnEarlierReservation)
{
    // A workbook reserved before, read-only recommended: the recommendation stays, the old
    // legacy password goes, and there is still one fileSharing element.
    QTemporaryDir dir;
    const QString source = test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : test::zipEntryNames(source)) {
        QByteArray data = test::zipEntry(source, name);
        if (name == QStringLiteral("xl/workbook.xml")) {
            const qsizetype at = data.indexOf("<bookViews");
            ASSERT_GT(at, 0);
            data.insert(at, "<fileSharing readOnlyRecommended=\"1\" userName=\"Old\" reservationPassword=\"CBEB\"/>");
        }
        entries.append({name, data});
    }
    const QString file = dir.filePath(QStringLiteral("reserved.xlsx"));
    test::writeZip(file, entries);
    const RunSummary summary = run({file}, PasswordKind::Modify, QStringLiteral("new"));
    ASSERT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();
    const QByteArray workbook = test::zipEntry(file, QStringLiteral("xl/workbook.xml"));
    EXPECT_EQ(workbook.count("<fileSharing "), 1);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(workbook.constData(), size_t(workbook.size())));
    const pugi::xml_node sharing = document.document_element().child("fileSharing");
    EXPECT_STREQ(sharing.attribute("readOnlyRecommended").value(), "1");
    EXPECT_FALSE(sharing.attribute("reservationPassword"));
    EXPECT_STRNE(sharing.attribute("userName").value(), "Old");
    EXPECT_EQ(crypto::iteratedPasswordHash(
                  QStringLiteral("new"), QByteArray::fromBase64(sharing.attribute("saltValue").value()), 100000)
                  .toBase64(),
        QByteArray(sharing.attribute("hashValue").value()));
}

TEST(Passwords, ModifyPasswordXlsWritesReservationRecords)
{
    QTemporaryDir dir;
    const QString source = test::fixture(QStringLiteral("sheets_second_active.xls"));
    const QString file = test::copyInto(source, dir.path());
    const RunSummary summary = run({file}, PasswordKind::Modify, QStringLiteral("密码"));
    ASSERT_EQ(summary.files.size(), 1u);
    ASSERT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();

    const QByteArray before = workbookStreamOf(source);
    const QByteArray after = workbookStreamOf(file);
    const QList<RawRecord> records = rawRecords(after);
    ASSERT_GE(records.size(), 2);
    EXPECT_EQ(records[1].type, 0x0086); // WRITEPROT right after the globals BOF
    int sharing = -1;
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].type == 0x005B)
            sharing = i;
    }
    ASSERT_GT(sharing, 0);
    const QByteArray body = records[sharing].data;
    EXPECT_EQ(u16(body, 0), 0); // not read-only recommended
    EXPECT_EQ(u16(body, 2), 0xC419); // the verifier of the password's GBK bytes
    const int characters = u16(body, 4);
    EXPECT_EQ(body.size(), 7 + (body[6] ? 2 * characters : characters)); // cch, flags, then the characters
    // Every other record is the original's, and every stream position still hits.
    QList<RawRecord> rest = records;
    rest.removeAt(sharing);
    rest.removeAt(1);
    const QList<RawRecord> original = rawRecords(before);
    ASSERT_EQ(rest.size(), original.size());
    for (int i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].type, original[i].type);
        if (rest[i].type != 0x0085 && rest[i].type != 0x020B && rest[i].type != 0x00FF) {
            EXPECT_EQ(rest[i].data, original[i].data) << "record " << i;
        }
    }
    for (const bool hit : positionHits(after))
        EXPECT_TRUE(hit);
}

TEST(Passwords, RefusedWorkbooksAreLeftUntouched)
{
    QTemporaryDir dir;
    struct Case
    {
        QString source;
        PasswordKind kind;
        QString password;
        ErrorCode expected;
    };
    QList<Case> cases{
        // An .xls open password longer than its readers accept.
        {test::fixture(QStringLiteral("sheets_second_active.xls")), PasswordKind::Open, QStringLiteral("0123456789abcdef"),
            ErrorCode::PasswordTooLong},
        // A modify password GBK cannot represent would never unlock.
        {test::fixture(QStringLiteral("sheets_second_active.xls")), PasswordKind::Modify, QStringLiteral("🔑"),
            ErrorCode::PasswordNotEncodable},
    };
    for (const char *name :
        {"encrypted/poi-protected_sha512.xlsx", "encrypted/poi-password.xls", "encrypted/poi-xor-encryption-abc.xls"}) {
        const QString path = test::corpusFile(QString::fromLatin1(name));
        if (!path.isEmpty()) {
            cases.append({path, PasswordKind::Open, QStringLiteral("x"), ErrorCode::PasswordRequired});
            cases.append({path, PasswordKind::Modify, QStringLiteral("x"), ErrorCode::PasswordRequired});
        }
    }
    // A shared workbook: passwords are refused while it is shared.
    const QString shared = test::corpusFile(QStringLiteral("xlsx/poi-workbookProtection_workbook_revision_protected.xlsx"));
    if (!shared.isEmpty()) {
        cases.append({shared, PasswordKind::Open, QStringLiteral("x"), ErrorCode::SharedWorkbook});
        cases.append({shared, PasswordKind::Modify, QStringLiteral("x"), ErrorCode::SharedWorkbook});
    }
    const QString biff5 = test::corpusFile(QStringLiteral("xls/calamine-biff5-rich-text-string.xls"));
    for (const QString &path :
        QDir(test::corpusFile(QStringLiteral("xls"))).entryList({QStringLiteral("*biff5*")}, QDir::Files)) {
        const QString full = test::corpusFile(QStringLiteral("xls/") + path);
        if (full != biff5) // that one also holds a BIFF8 stream
            cases.append({full, PasswordKind::Open, QStringLiteral("x"), ErrorCode::UnsupportedFormat});
    }
    if (!biff5.isEmpty())
        cases.append({biff5, PasswordKind::Open, QStringLiteral("x"), ErrorCode::UnsupportedFormat});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        const QString copy = test::copyInto(c.source, dir.path());
        const RunSummary summary = run({copy}, c.kind, c.password);
        ASSERT_EQ(summary.files.size(), 1u);
        EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
        EXPECT_EQ(summary.files[0].errorNumber, int(c.expected)) << summary.files[0].errorDescription.toStdString();
        EXPECT_EQ(test::readAll(copy), test::readAll(c.source));
        QFile::remove(copy);
    }
}

TEST(Passwords, ReadOnlyPolicyAndInputChecks)
{
    QTemporaryDir dir;
    const QString source = test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    const QString file = test::copyInto(source, dir.path());
    QFile(file).setPermissions(QFile::ReadOwner | QFile::ReadGroup);
    RunSummary summary = run({file}, PasswordKind::Open, QStringLiteral("pw"));
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Skipped);
    EXPECT_EQ(test::readAll(file), test::readAll(source));
    summary = run({file}, PasswordKind::Open, QStringLiteral("pw"), true);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    EXPECT_TRUE(test::readAll(file).startsWith(QByteArray::fromHex("D0CF11E0")));

    // The two boxes must match exactly; an empty password runs nothing and says nothing.
    PasswordInputs inputs;
    inputs.entries = {file};
    inputs.password = QStringLiteral("Secret");
    inputs.confirmation = QStringLiteral("secret");
    test::ScriptedUi ui;
    Validation failed;
    EXPECT_TRUE(setPasswords(inputs, ui, RunSettings{}, {}, &failed).stopped);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->control, QStringLiteral("txtPassword1"));
    EXPECT_EQ(ui.messages, QStringList{kPasswordMismatch});
    inputs.password.clear();
    inputs.confirmation.clear();
    test::ScriptedUi silent;
    EXPECT_TRUE(setPasswords(inputs, silent, RunSettings{}).stopped);
    EXPECT_TRUE(silent.messages.isEmpty());
}

} // namespace
} // namespace gm
