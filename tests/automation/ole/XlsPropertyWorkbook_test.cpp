// Document properties written into the property-set streams of real .xls files, checked with a
// reader of the stream bytes written here, apart from the code that writes them.

#include "support/TestSupport.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/ole/XlsPropertyWorkbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <set>

namespace gm::ole {
namespace {

const QByteArray siName = QByteArrayLiteral("\005SummaryInformation");
const QByteArray dsiName = QByteArrayLiteral("\005DocumentSummaryInformation");
// Format ids as stored (little-endian GUIDs).
const QByteArray siFormat = QByteArray::fromHex("E0859FF2F94F6810AB9108002B27B3D9");
const QByteArray dsiFormat = QByteArray::fromHex("02D5CDD59C2E1B10939708002B2CF9AE");
const QByteArray userFormat = QByteArray::fromHex("05D5CDD59C2E1B10939708002B2CF9AE");

quint32 le32(const QByteArray &b, qsizetype at)
{
    return at + 4 <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0;
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return at + 2 <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0;
}

QString fromUtf16(const QByteArray &b)
{
    QString s;
    for (qsizetype i = 0; i + 1 < b.size() && (b[i] || b[i + 1]); i += 2)
        s.append(QChar(le16(b, i)));
    return s;
}

QString fromCodePage(QByteArray b, quint16 codePage)
{
    if (codePage == 1200)
        return fromUtf16(b);
    if (b.indexOf('\0') >= 0)
        b.truncate(b.indexOf('\0'));
    iconv_t cd = iconv_open("UTF-8", ("CP" + QByteArray::number(codePage)).constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QStringLiteral("<no converter>");
    QByteArray out(b.size() * 4 + 4, '\0');
    char *in = b.data(), *o = out.data();
    size_t inLeft = size_t(b.size()), outLeft = size_t(out.size());
    const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != size_t(-1);
    iconv_close(cd);
    return ok ? QString::fromUtf8(out.constData(), out.size() - qsizetype(outLeft)) : QStringLiteral("<bad bytes>");
}

QByteArray withoutTrailingZeros(QByteArray b)
{
    while (!b.isEmpty() && b.back() == '\0')
        b.chop(1);
    return b;
}

// One section as the bytes say: each value from its offset to the next one.
struct Section
{
    QByteArray format;
    quint32 offset = 0;
    quint32 size = 0;
    quint16 codePage = 0;
    std::map<quint32, quint32> offsets;
    std::map<quint32, QByteArray> values;
    std::map<QString, quint32> names;

    quint16 type(quint32 id) const { return values.count(id) ? le16(values.at(id), 0) : 0; }
    QString text(quint32 id) const
    {
        if (!values.count(id))
            return QStringLiteral("<absent>");
        const QByteArray &v = values.at(id);
        const QByteArray chars = v.mid(8, le32(v, 4));
        return type(id) == 0x41 ? fromUtf16(chars) : fromCodePage(chars, codePage);
    }
    // The strings of a VT_VECTOR|VT_LPSTR or VT_VECTOR|VT_VARIANT value (8-bit strings
    // unpadded, UTF-16 ones padded to 4 bytes).
    std::string vectorStrings(quint32 id) const
    {
        const QByteArray &v = values.at(id);
        const bool variants = type(id) == 0x100C;
        QStringList strings;
        qsizetype pos = 8;
        for (quint32 i = 0; i < le32(v, 4) && pos < v.size(); ++i) {
            const quint16 t = variants ? le16(v, pos) : 0x1E;
            pos += variants ? 4 : 0;
            if (t == 0x03) {
                strings << QString::number(le32(v, pos));
                pos += 4;
                continue;
            }
            const quint32 n = le32(v, pos);
            strings << fromCodePage(v.mid(pos + 4, n), codePage);
            pos += 4 + n;
            if (codePage == 1200)
                pos = (pos + 3) & ~3;
        }
        return strings.join(QLatin1Char('|')).toStdString();
    }
};

std::vector<Section> readSections(const QByteArray &stream)
{
    std::vector<Section> sections;
    for (quint32 k = 0; k < le32(stream, 24); ++k) {
        Section s;
        s.format = stream.mid(28 + 20 * k, 16);
        s.offset = le32(stream, 28 + 20 * k + 16);
        const QByteArray bytes = stream.mid(s.offset, le32(stream, s.offset));
        s.size = quint32(bytes.size());
        const quint32 count = le32(bytes, 4);
        for (quint32 i = 0; i < count && 8 + 8 * i < s.size; ++i) {
            if (le32(bytes, 8 + 8 * i + 4) < s.size)
                s.offsets[le32(bytes, 8 + 8 * i)] = le32(bytes, 8 + 8 * i + 4);
        }
        for (const auto &[id, offset] : s.offsets) {
            quint32 end = s.size;
            for (const auto &[other, otherOffset] : s.offsets) {
                if (otherOffset > offset)
                    end = std::min(end, otherOffset);
            }
            s.values[id] = bytes.mid(offset, end - offset);
        }
        s.codePage = le16(s.values[1], 4);
        if (s.values.count(0)) {
            const QByteArray &d = s.values[0];
            qsizetype pos = 4;
            for (quint32 i = 0; i < le32(d, 0); ++i) {
                const quint32 length = le32(d, pos + 4) * (s.codePage == 1200 ? 2 : 1);
                s.names[fromCodePage(d.mid(pos + 8, length), s.codePage)] = le32(d, pos);
                pos += 8 + length;
                if (s.codePage == 1200)
                    pos = (pos + 3) & ~3;
            }
        }
        sections.push_back(s);
    }
    return sections;
}

void expectAligned(const std::vector<Section> &sections)
{
    for (const Section &s : sections) {
        EXPECT_EQ(s.offset % 4, 0u);
        EXPECT_EQ(s.size % 4, 0u);
        for (const auto &[id, offset] : s.offsets)
            EXPECT_EQ(offset % 4, 0u) << "property " << id;
    }
}

// Every property of `before` except `changed` has the same bytes in `after` (up to the
// padding after it); with `sameText` only, string properties need only decode the same.
void expectOthersKept(const Section &before, const Section &after, const std::set<quint32> &changed, bool sameText = false)
{
    for (const auto &[id, value] : before.values) {
        if (changed.count(id) || (id <= 1 && sameText))
            continue;
        SCOPED_TRACE(testing::Message() << "property " << id);
        ASSERT_TRUE(after.values.count(id));
        const quint16 t = before.type(id);
        if (sameText && (t == 0x1E))
            EXPECT_EQ(after.text(id), before.text(id));
        else if (sameText && (t == 0x101E || t == 0x100C))
            EXPECT_EQ(after.vectorStrings(id), before.vectorStrings(id));
        else
            EXPECT_EQ(withoutTrailingZeros(after.values.at(id)).toHex(), withoutTrailingZeros(value).toHex());
    }
}

// Path -> class id (storages) or bytes (streams), as libgsf reads them.
using Tree = std::map<QString, QByteArray>;
void flatten(const CompoundEntry &entry, const QString &path, Tree &tree)
{
    tree[path] = entry.isStorage ? QByteArrayLiteral("storage ") + entry.classId.toHex() : entry.data;
    for (const CompoundEntry &child : entry.children)
        flatten(child, path + QLatin1Char('/') + QString::fromUtf8(child.name), tree);
}
Tree treeOf(const QString &path, bool withPropertyStreams)
{
    Tree tree;
    flatten(CompoundFile::readFile(path), QString(), tree);
    if (!withPropertyStreams) {
        tree.erase(QLatin1Char('/') + QString::fromUtf8(siName));
        tree.erase(QLatin1Char('/') + QString::fromUtf8(dsiName));
    }
    return tree;
}
QByteArray streamOf(const QString &path, const QByteArray &name)
{
    const CompoundEntry root = CompoundFile::readFile(path);
    const CompoundEntry *entry = root.child(name);
    return entry ? entry->data : QByteArray();
}

const std::vector<std::pair<DocumentProperty, QString>> nineValues = {
    {DocumentProperty::Title, QStringLiteral("  Quarterly report ")},
    {DocumentProperty::Subject, QStringLiteral("Sales")},
    {DocumentProperty::Author, QStringLiteral("Zhang San")},
    {DocumentProperty::Category, QStringLiteral("Finance")},
    {DocumentProperty::Keywords, QStringLiteral("a; b")},
    {DocumentProperty::Comments, QStringLiteral("line 1\r\nline 2")},
    {DocumentProperty::Manager, QStringLiteral("Li Si")},
    {DocumentProperty::Company, QStringLiteral("Acme Ltd.")},
    {DocumentProperty::HyperlinkBase, QStringLiteral("http://example.com/base/")},
};

void setAndSave(const QString &path, const std::vector<std::pair<DocumentProperty, QString>> &values)
{
    auto workbook = openXlsProperties(path);
    for (const auto &[property, value] : values)
        workbook->setBuiltinProperty(property, value);
    workbook->close(true);
}

class XlsPropertyWorkbookTest : public ::testing::Test
{
protected:
    QString copyOf(const QString &relative)
    {
        const QString source = gm::test::corpusFile(relative);
        return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path());
    }
    QTemporaryDir m_dir;
};

#define COPY_OR_SKIP(var, relative)                                                                                    \
    const QString var = copyOf(QStringLiteral(relative));                                                              \
    if (var.isEmpty())                                                                                                 \
    GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"

TEST_F(XlsPropertyWorkbookTest, NineValuesLandInTheirPropertiesAndNothingElseMoves)
{
    COPY_OR_SKIP(path, "xls/poi-HyperlinksOnManySheets.xls");
    const Tree treeBefore = treeOf(path, false);
    const auto siBefore = readSections(streamOf(path, siName));
    const auto dsiBefore = readSections(streamOf(path, dsiName));

    setAndSave(path, nineValues);

    EXPECT_EQ(treeOf(path, false), treeBefore);
    const auto si = readSections(streamOf(path, siName));
    const auto dsi = readSections(streamOf(path, dsiName));
    expectAligned(si);
    expectAligned(dsi);
    ASSERT_EQ(si.size(), 1u);
    ASSERT_EQ(dsi.size(), 2u);
    ASSERT_EQ(si[0].format, siFormat);
    ASSERT_EQ(dsi[0].format, dsiFormat);
    ASSERT_EQ(dsi[1].format, userFormat);

    EXPECT_EQ(si[0].codePage, 1252);
    const std::map<quint32, QString> summary = {{2, nineValues[0].second}, {3, QStringLiteral("Sales")}, {4, QStringLiteral("Zhang San")},
        {5, QStringLiteral("a; b")}, {6, QStringLiteral("line 1\r\nline 2")}};
    for (const auto &[id, text] : summary) {
        EXPECT_EQ(si[0].type(id), 0x1E) << id;
        EXPECT_EQ(si[0].text(id), text) << id;
    }
    EXPECT_EQ(dsi[0].text(2), QStringLiteral("Finance"));
    EXPECT_EQ(dsi[0].text(14), QStringLiteral("Li Si"));
    EXPECT_EQ(dsi[0].text(15), QStringLiteral("Acme Ltd."));
    ASSERT_TRUE(dsi[1].names.count(QStringLiteral("_PID_LINKBASE")));
    const quint32 linkBase = dsi[1].names.at(QStringLiteral("_PID_LINKBASE"));
    EXPECT_EQ(dsi[1].type(linkBase), 0x41);
    EXPECT_EQ(dsi[1].text(linkBase), QStringLiteral("http://example.com/base/"));
    EXPECT_EQ(dsi[1].names.at(QStringLiteral("_PID_HLINKS")), dsiBefore[1].names.at(QStringLiteral("_PID_HLINKS")));

    expectOthersKept(siBefore[0], si[0], {2, 3, 4, 5, 6});
    expectOthersKept(dsiBefore[0], dsi[0], {2, 14, 15});
    expectOthersKept(dsiBefore[1], dsi[1], {0}); // _PID_HLINKS among them

    auto reopened = openXlsProperties(path);
    for (const auto &[property, value] : nineValues)
        EXPECT_EQ(reopened->builtinProperty(property), value) << int(property);
}

struct CodePageCase
{
    const char *file;
    QString value;
    quint16 codePageAfter;
};

TEST_F(XlsPropertyWorkbookTest, TextTheCodePageCannotHoldMovesTheSectionToUtf16)
{
    const std::vector<CodePageCase> cases = {
        {"xls/poi-HyperlinksOnManySheets.xls", QStringLiteral("年度报表"), 1200},
        {"xls/calamine-issue_271.xls", QStringLiteral("工作表标题"), 936}, // GBK holds it
        {"xls/calamine-issue_271.xls", QStringLiteral("한국어 제목"), 1200},
    };
    for (const CodePageCase &c : cases) {
        SCOPED_TRACE(c.file + std::string(" ") + c.value.toStdString());
        const QString path = copyOf(QString::fromUtf8(c.file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found";
        const auto siBefore = readSections(streamOf(path, siName));
        const auto dsiBefore = readSections(streamOf(path, dsiName));

        setAndSave(path, {{DocumentProperty::Title, c.value}, {DocumentProperty::Company, c.value}});

        const auto si = readSections(streamOf(path, siName));
        const auto dsi = readSections(streamOf(path, dsiName));
        EXPECT_EQ(si[0].codePage, c.codePageAfter);
        EXPECT_EQ(dsi[0].codePage, c.codePageAfter);
        EXPECT_EQ(si[0].text(2), c.value);
        EXPECT_EQ(dsi[0].text(15), c.value);
        // Author, application name, heading pairs and sheet names read as before.
        expectOthersKept(siBefore[0], si[0], {2}, true);
        expectOthersKept(dsiBefore[0], dsi[0], {15}, true);
        EXPECT_EQ(dsi[1].values, dsiBefore[1].values) << "the User Defined section keeps its own code page";
        EXPECT_EQ(openXlsProperties(path)->builtinProperty(DocumentProperty::Author), siBefore[0].text(4));
    }
}

TEST_F(XlsPropertyWorkbookTest, MissingStreamsAreCreated)
{
    COPY_OR_SKIP(path, "xls/poi-chinese-provinces.xls");
    const Tree treeBefore = treeOf(path, true);
    ASSERT_FALSE(treeBefore.count(QLatin1Char('/') + QString::fromUtf8(siName)));

    setAndSave(path, {{DocumentProperty::Title, QStringLiteral("省份")}, {DocumentProperty::Manager, QStringLiteral("Wang")},
                         {DocumentProperty::HyperlinkBase, QStringLiteral("\\\\server\\共享\\")}});

    EXPECT_EQ(treeOf(path, false), treeBefore);
    const auto si = readSections(streamOf(path, siName));
    const auto dsi = readSections(streamOf(path, dsiName));
    expectAligned(si);
    expectAligned(dsi);
    ASSERT_EQ(si.size(), 1u);
    EXPECT_EQ(si[0].format, siFormat);
    EXPECT_EQ(si[0].text(2), QStringLiteral("省份"));
    ASSERT_EQ(dsi.size(), 2u);
    EXPECT_EQ(dsi[0].format, dsiFormat);
    EXPECT_EQ(dsi[0].text(14), QStringLiteral("Wang"));
    EXPECT_EQ(dsi[1].format, userFormat);
    ASSERT_EQ(dsi[1].names.size(), 1u);
    EXPECT_EQ(dsi[1].text(dsi[1].names.at(QStringLiteral("_PID_LINKBASE"))), QStringLiteral("\\\\server\\共享\\"));
}

TEST_F(XlsPropertyWorkbookTest, LinkBaseJoinsAUtf16Dictionary)
{
    COPY_OR_SKIP(path, "xls/poi-DBCSHeader.xls");
    const auto before = readSections(streamOf(path, dsiName));
    ASSERT_EQ(before[1].codePage, 1200);

    setAndSave(path, {{DocumentProperty::HyperlinkBase, QStringLiteral("docs/")}});

    const auto after = readSections(streamOf(path, dsiName));
    std::map<QString, quint32> names = after[1].names;
    ASSERT_EQ(names.size(), before[1].names.size() + 1);
    const quint32 id = names.at(QStringLiteral("_PID_LINKBASE"));
    names.erase(QStringLiteral("_PID_LINKBASE"));
    EXPECT_EQ(names, before[1].names);
    EXPECT_FALSE(before[1].values.count(id));
    EXPECT_EQ(after[1].text(id), QStringLiteral("docs/"));
    expectOthersKept(before[1], after[1], {0});
    EXPECT_EQ(after[0].values, before[0].values);
}

TEST_F(XlsPropertyWorkbookTest, EmptyAuthorChangesNothingElse)
{
    for (const char *file : {"xls/poi-SimpleMacro.xls", "encrypted/poi-password.xls"}) {
        SCOPED_TRACE(file);
        const QString path = copyOf(QString::fromUtf8(file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found";
        const Tree treeBefore = treeOf(path, true);
        const auto siBefore = readSections(streamOf(path, siName));
        ASSERT_NE(siBefore[0].text(4), QString());

        setAndSave(path, {{DocumentProperty::Author, QString()}});

        Tree tree = treeOf(path, true);
        const auto si = readSections(streamOf(path, siName));
        EXPECT_EQ(si[0].type(4), 0x1E);
        EXPECT_EQ(si[0].text(4), QString());
        expectOthersKept(siBefore[0], si[0], {4});
        tree.erase(QLatin1Char('/') + QString::fromUtf8(siName));
        Tree expected = treeBefore;
        expected.erase(QLatin1Char('/') + QString::fromUtf8(siName));
        EXPECT_EQ(tree, expected); // the Workbook, VBA storage and DocumentSummaryInformation included
        EXPECT_EQ(openXlsProperties(path)->builtinProperty(DocumentProperty::Author), QString());
    }
}

TEST_F(XlsPropertyWorkbookTest, EveryCorpusWorkbookTakesAllNineValues)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xls"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found";
    std::vector<std::pair<DocumentProperty, QString>> values = nineValues;
    values[0].second = QStringLiteral("标题 ✓");
    values[6].second = QStringLiteral("经理");
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.xls")}, QDir::Files)) {
        SCOPED_TRACE(name.toStdString());
        const QString path = gm::test::copyInto(folder + QLatin1Char('/') + name, m_dir.path());
        const Tree before = treeOf(path, false);
        try {
            setAndSave(path, values);
        } catch (const EngineError &error) {
            ADD_FAILURE() << error.what();
            continue;
        }
        EXPECT_EQ(treeOf(path, false), before);
        expectAligned(readSections(streamOf(path, siName)));
        auto reopened = openXlsProperties(path);
        for (const auto &[property, value] : values)
            EXPECT_EQ(reopened->builtinProperty(property), value) << int(property);
    }
}

TEST_F(XlsPropertyWorkbookTest, RefusalsLeaveTheFileAsItWas)
{
    COPY_OR_SKIP(path, "xls/poi-SimpleWithPrintArea.xls");
    const QByteArray original = gm::test::readAll(path);
    auto expectCode = [](ErrorCode code, const std::function<void()> &action) {
        try {
            action();
            ADD_FAILURE() << "no error, expected " << int(code);
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), code) << error.what();
        }
    };

    expectCode(ErrorCode::FileNotFound, [&] { openXlsProperties(m_dir.path() + QStringLiteral("/missing.xls")); });
    const QString text = m_dir.path() + QStringLiteral("/text.xls");
    gm::test::writeAll(text, "not a workbook");
    expectCode(ErrorCode::NotAWorkbook, [&] { openXlsProperties(text); });
    const QString cut = m_dir.path() + QStringLiteral("/cut.xls");
    gm::test::writeAll(cut, original.left(1536));
    testing::internal::CaptureStderr();
    expectCode(ErrorCode::Damaged, [&] { openXlsProperties(cut); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "libgsf diagnostics must not reach the console";

    {
        SCOPED_TRACE("read-only");
        auto workbook = openXlsProperties(path);
        workbook->setBuiltinProperty(DocumentProperty::Title, QStringLiteral("x"));
        QFile::setPermissions(path, QFile::ReadOwner);
        expectCode(ErrorCode::ReadOnlyFile, [&] { workbook->save(); });
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    {
        SCOPED_TRACE("changed by another program");
        auto workbook = openXlsProperties(path);
        workbook->setBuiltinProperty(DocumentProperty::Title, QStringLiteral("x"));
        gm::test::writeAll(path, original + QByteArray(512, '\0'));
        expectCode(ErrorCode::InUse, [&] { workbook->save(); });
        EXPECT_EQ(gm::test::readAll(path).size(), original.size() + 512);
        gm::test::writeAll(path, original);
    }
    {
        SCOPED_TRACE("nothing set, or the same value again");
        struct stat before
        {
        };
        ::stat(QFile::encodeName(path).constData(), &before);
        auto workbook = openXlsProperties(path);
        workbook->save();
        workbook->setBuiltinProperty(DocumentProperty::Author, workbook->builtinProperty(DocumentProperty::Author));
        workbook->close(true);
        struct stat after
        {
        };
        ::stat(QFile::encodeName(path).constData(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    }
    EXPECT_EQ(gm::test::readAll(path), original);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".~gridmule")), QStringList());
}

} // namespace
} // namespace gm::ole
