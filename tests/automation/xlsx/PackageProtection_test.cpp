// Workbook and sheet protection written by the package editor, read back by openpyxl (which
// also verifies the password hashes with its own SHA-512) and compared entry by entry.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/Protection.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

using namespace gm::test;
using namespace gm::xlsx::test;

// Prints the protection openpyxl reads: the workbook's locks, and per worksheet whether it is
// protected and which actions stay locked; "password" is whether the stored hash verifies.
const char *const kReadProtection = R"(
import base64, hashlib, json, sys, openpyxl
path, password = sys.argv[1], sys.argv[2]
def verify(algorithm, salt, value, spins):
    if not value:
        return None
    if algorithm != 'SHA-512':
        return False
    h = hashlib.sha512(base64.b64decode(salt) + password.encode('utf-16-le')).digest()
    for i in range(int(spins)):
        h = hashlib.sha512(h + i.to_bytes(4, 'little')).digest()
    return base64.b64encode(h).decode() == value
book = openpyxl.load_workbook(path)
out = {'book': None, 'sheets': []}
s = book.security
if s is not None:
    out['book'] = {'structure': bool(s.lockStructure), 'windows': bool(s.lockWindows),
        'password': verify(s.workbookAlgorithmName, s.workbookSaltValue, s.workbookHashValue, s.workbookSpinCount)}
flags = ['objects', 'scenarios', 'formatCells', 'formatColumns', 'formatRows', 'insertColumns', 'insertRows',
    'insertHyperlinks', 'deleteColumns', 'deleteRows', 'selectLockedCells', 'sort', 'autoFilter', 'pivotTables',
    'selectUnlockedCells']
for sheet in book.worksheets:
    p = sheet.protection
    out['sheets'].append({'name': sheet.title, 'protected': bool(p.sheet),
        'locked': [f for f in flags if getattr(p, f)],
        'password': verify(p.algorithmName, p.saltValue, p.hashValue, p.spinCount)})
print(json.dumps(out))
)";

// What openpyxl reads; an empty object (and a skipped test) without openpyxl.
QJsonObject readProtection(const QString &path, const QString &password)
{
    QProcess python;
    python.start(
        QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kReadProtection), path, password});
    python.waitForFinished(120000);
    const QByteArray errors = python.readAllStandardError();
    if (errors.contains("No module named 'openpyxl'"))
        return {};
    EXPECT_EQ(python.exitCode(), 0) << errors.toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

#define GM_REQUIRE_OPENPYXL(var, path, password)                                                                                 \
    const QJsonObject var = readProtection(path, password);                                                                      \
    if (var.isEmpty())                                                                                                           \
    GTEST_SKIP() << "openpyxl not installed (python3-openpyxl)"

const QStringList kAllLocked{QStringLiteral("objects"), QStringLiteral("scenarios"), QStringLiteral("formatCells"),
    QStringLiteral("formatColumns"), QStringLiteral("formatRows"), QStringLiteral("insertColumns"), QStringLiteral("insertRows"),
    QStringLiteral("insertHyperlinks"), QStringLiteral("deleteColumns"), QStringLiteral("deleteRows"), QStringLiteral("sort"),
    QStringLiteral("autoFilter"), QStringLiteral("pivotTables")};

QStringList strings(const QJsonValue &value)
{
    QStringList result;
    for (const QJsonValue &item : value.toArray())
        result << item.toString();
    return result;
}

QString workbookXml(const QString &path)
{
    return QString::fromUtf8(zipEntry(path, QStringLiteral("xl/workbook.xml")));
}

TEST(PackageProtection, WorkbookLocksAndPassword)
{
    GM_REQUIRE_CORPUS(source, "xlsx/simple01.xlsx");
    QTemporaryDir dir;
    struct Case
    {
        bool structure;
        bool windows;
        const char *password;
        const char *element; // the element's start, up to its flags
    };
    const Case cases[] = {
        {true, false, "", "<workbookProtection lockStructure=\"1\"/>"},
        {false, true, "", "<workbookProtection lockWindows=\"1\"/>"},
        {true, true, "密码", "<workbookProtection workbookAlgorithmName=\"SHA-512\" workbookHashValue=\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.element);
        const QString path = copyInto(source, dir.path(), QStringLiteral("book%1%2.xlsx").arg(c.structure).arg(c.windows));
        const RawPackage before = readRaw(path);
        const QString password = QString::fromUtf8(c.password);
        auto book = openPackage(path);
        book->protect(ProtectionPassword(password), c.structure, c.windows);
        book->close(true);

        expectUntouchedExcept(before, path, {QStringLiteral("xl/workbook.xml")});
        const QString xml = workbookXml(path);
        EXPECT_EQ(xml.count(QStringLiteral("<workbookProtection")), 1);
        EXPECT_LT(xml.indexOf(QStringLiteral("<workbookPr")), xml.indexOf(QStringLiteral("<workbookProtection")));
        EXPECT_LT(xml.indexOf(QStringLiteral("<workbookProtection")), xml.indexOf(QStringLiteral("<bookViews")));
        EXPECT_TRUE(xml.contains(QString::fromUtf8(c.element))) << xml.toStdString();

        GM_REQUIRE_OPENPYXL(read, path, password);
        const QJsonObject protection = read[QStringLiteral("book")].toObject();
        EXPECT_EQ(protection[QStringLiteral("structure")].toBool(), c.structure);
        EXPECT_EQ(protection[QStringLiteral("windows")].toBool(), c.windows);
        EXPECT_EQ(protection[QStringLiteral("password")], password.isEmpty() ? QJsonValue() : QJsonValue(true));
    }
}

TEST(PackageProtection, EveryWorksheetWithTheAllowedActions)
{
    GM_REQUIRE_CORPUS(hidden, "xlsx/hide01.xlsx");
    GM_REQUIRE_CORPUS(chart, "xlsx/chartsheet01.xlsx");
    QTemporaryDir dir;
    SheetPermissions sortAndFilter;
    sortAndFilter.allow(SheetPermission::Sort);
    sortAndFilter.allow(SheetPermission::AutoFilter);
    struct Case
    {
        QString source;
        SheetPermissions allowed;
        QString password;
        QStringList unlocked; // of the thirteen flags
    };
    const Case cases[] = {
        {hidden, {}, QString(), {}},
        {hidden, sortAndFilter, QStringLiteral("secret"), {QStringLiteral("sort"), QStringLiteral("autoFilter")}},
        {chart, SheetPermissions{0x7FF}, QString(), kAllLocked.mid(2)},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(n);
        const QString path = copyInto(c.source, dir.path(), QStringLiteral("sheets%1.xlsx").arg(n++));
        const RawPackage before = readRaw(path);
        auto book = openPackage(path);
        const ProtectionPassword password(c.password);
        const int worksheets = book->worksheetCount();
        QStringList changed;
        for (int i = 1; i <= worksheets; ++i) {
            book->worksheet(i)->protect(password, c.allowed);
            changed << QStringLiteral("xl/worksheets/sheet%1.xml").arg(i);
        }
        // A chart sheet has no such protection.
        for (int i = 1; i <= book->sheetCount(); ++i) {
            if (book->sheet(i)->isChart()) {
                EXPECT_THROW(book->sheet(i)->protect(ProtectionPassword(), {}), EngineError);
            }
        }
        book->close(true);
        // The workbook part and the chart sheet are as they were.
        expectUntouchedExcept(before, path, changed);
        const QString sheet = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")));
        EXPECT_LT(sheet.indexOf(QStringLiteral("</sheetData>")), sheet.indexOf(QStringLiteral("<sheetProtection")));
        EXPECT_LT(sheet.indexOf(QStringLiteral("<sheetProtection")), sheet.indexOf(QStringLiteral("<pageMargins")));

        GM_REQUIRE_OPENPYXL(read, path, c.password);
        const QJsonArray sheets = read[QStringLiteral("sheets")].toArray();
        EXPECT_EQ(sheets.size(), worksheets);
        QStringList locked = kAllLocked;
        for (const QString &flag : c.unlocked)
            locked.removeAll(flag);
        for (const QJsonValue &value : sheets) {
            const QJsonObject sheetRead = value.toObject();
            SCOPED_TRACE(sheetRead[QStringLiteral("name")].toString().toStdString());
            EXPECT_TRUE(sheetRead[QStringLiteral("protected")].toBool());
            EXPECT_EQ(strings(sheetRead[QStringLiteral("locked")]), locked);
            EXPECT_EQ(sheetRead[QStringLiteral("password")], c.password.isEmpty() ? QJsonValue() : QJsonValue(true));
        }
    }
}

TEST(PackageProtection, ExistingProtectionIsReplacedOnlyWithItsPassword)
{
    QTemporaryDir dir;
    struct Case
    {
        const char *file;
        bool sheet; // sheet protection, else workbook protection
        const char *known; // the password the file was protected with; "" none
    };
    const Case cases[] = {
        {"xlsx/poi-workbookProtection-workbook_password-2013.xlsx", false, "test"},
        {"xlsx/poi-workbookProtection-sheet_password-2013.xlsx", true, "pwd"},
        {"xlsx/protect02.xlsx", true, ""},
        {"xlsx/poi-workbookProtection_workbook_windows_protected.xlsx", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = corpusFile(QString::fromLatin1(c.file));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found";
        const QString path = copyInto(source, dir.path());
        const QByteArray original = readAll(path);
        auto protect = [&](const QString &password) {
            auto book = openPackage(path);
            if (c.sheet)
                book->worksheet(1)->protect(ProtectionPassword(password), {});
            else
                book->protect(ProtectionPassword(password), true, false);
            book->close(true);
        };
        if (*c.known) {
            try {
                protect(QStringLiteral("other"));
                ADD_FAILURE() << "protection with another password was replaced";
            } catch (const EngineError &e) {
                EXPECT_EQ(e.code(), ErrorCode::ProtectedWithOtherPassword);
            }
            EXPECT_EQ(readAll(path), original);
        }
        // With the password it was set with (or none needed), the new protection replaces it.
        protect(QString::fromLatin1(c.known));
        const QString part
            = c.sheet ? QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml"))) : workbookXml(path);
        const QString element = c.sheet ? QStringLiteral("<sheetProtection") : QStringLiteral("<workbookProtection");
        EXPECT_EQ(part.count(element), 1);
        if (*c.known) {
            GM_REQUIRE_OPENPYXL(read, path, QString::fromLatin1(c.known));
            const QJsonObject protection
                = c.sheet ? read[QStringLiteral("sheets")].toArray().first().toObject() : read[QStringLiteral("book")].toObject();
            EXPECT_EQ(protection[QStringLiteral("password")], QJsonValue(true));
        } else {
            EXPECT_FALSE(part.contains(QStringLiteral("Hash"), Qt::CaseInsensitive)) << part.toStdString();
        }
    }
}

TEST(PackageProtection, SharedWorkbooksAreRefused)
{
    GM_REQUIRE_CORPUS(source, "xlsx/poi-workbookProtection_workbook_revision_protected.xlsx");
    QTemporaryDir dir;
    const QString path = copyInto(source, dir.path());
    const QByteArray original = readAll(path);
    auto book = openPackage(path);
    for (const bool sheet : {false, true}) {
        try {
            if (sheet)
                book->worksheet(1)->protect(ProtectionPassword(), {});
            else
                book->protect(ProtectionPassword(), true, true);
            ADD_FAILURE() << "a shared workbook was protected";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::SharedWorkbook);
        }
    }
    book->close(true);
    EXPECT_EQ(readAll(path), original);
}

} // namespace
} // namespace gm::xlsx
