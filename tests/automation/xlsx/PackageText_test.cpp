// Text forms inside packages: header/footer code strings, print-area references, escaped
// characters, and XML parts that must come back byte for byte.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PrintAreaText.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"

#include <QDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

TEST(HeaderFooterText, SplitsIntoSectionsKeepingCodes)
{
    const struct
    {
        const char16_t *code, *left, *center, *right;
    } cases[] = {
        {u"&L&P", u"&P", u"", u""},
        {u"Plain text", u"", u"Plain text", u""},
        {u"&Ctestdoc&Rtest phrase", u"", u"testdoc", u"test phrase"},
        {u"&Cone && two &&&&", u"", u"one && two &&&&", u""},
        {u"&Lfoo&Cbar&Lbaz", u"foobaz", u"bar", u""},
        {u"&lx&cy&rz", u"x", u"y", u"z"},
        {u"&L&\"Arial,&Right\"A&12B&K01+000C&", u"&\"Arial,&Right\"A&12B&K01+000C&", u"", u""},
        {u"&L&8© AQM&C&8view &U&K0070C0www&R&8&P/&N", u"&8© AQM", u"&8view &U&K0070C0www", u"&8&P/&N"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.code).toStdString());
        const HeaderFooterText text = HeaderFooterText::parse(QString::fromUtf16(c.code));
        EXPECT_EQ(text.left, QString::fromUtf16(c.left));
        EXPECT_EQ(text.center, QString::fromUtf16(c.center));
        EXPECT_EQ(text.right, QString::fromUtf16(c.right));
        // Composing and splitting again is stable.
        const HeaderFooterText again = HeaderFooterText::parse(text.compose());
        EXPECT_EQ(again.left, text.left);
        EXPECT_EQ(again.center, text.center);
        EXPECT_EQ(again.right, text.right);
    }
    EXPECT_EQ((HeaderFooterText{QStringLiteral("a"), QString(), QStringLiteral("c")}).compose(), QStringLiteral("&La&Rc"));
    EXPECT_EQ(HeaderFooterText{}.compose(), QString());
}

TEST(PrintAreaText, NormalisesCornersToAbsoluteReferences)
{
    const struct
    {
        const char16_t *input, *expected;
    } cases[] = {
        {u"A1:E100", u"$A$1:$E$100"},     {u"E100:A1", u"$A$1:$E$100"}, {u"e1:a100", u"$A$1:$E$100"},
        {u"$B$2:$a1", u"$A$1:$B$2"},      {u"B2", u"$B$2"},            {u"C3:C3", u"$C$3"},
        {u"XFD1048576:A1", u"$A$1:$XFD$1048576"}, {u"A1:B2,D4:E5", u"$A$1:$B$2,$D$4:$E$5"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.input).toStdString());
        EXPECT_EQ(normalisePrintArea(QString::fromUtf16(c.input)), QString::fromUtf16(c.expected));
    }
    for (const char16_t *bad : {u"", u"A", u"1", u"A0", u"XFE1", u"A1048577", u"A1:B", u"A1::B2", u"R1C1"}) {
        SCOPED_TRACE(QString::fromUtf16(bad).toStdString());
        EXPECT_THROW(normalisePrintArea(QString::fromUtf16(bad)), EngineError);
    }
    EXPECT_EQ(areaWithoutSheet(QStringLiteral("'It''s, 1'!$A$1:$B$2,'It''s, 1'!$D$4")), QStringLiteral("$A$1:$B$2,$D$4"));
    EXPECT_EQ(areaWithoutSheet(QStringLiteral("Sheet1!$A$1")), QStringLiteral("$A$1"));
}

TEST(PrintAreaText, QuotesSheetNamesOnlyWhenNeeded)
{
    const struct
    {
        const char16_t *name, *expected;
    } cases[] = {
        {u"Sheet1", u"Sheet1"},         {u"Sh.eet_1", u"Sh.eet_1"},     {u"XFE1", u"XFE1"},
        {u"Sheet 1", u"'Sheet 1'"},     {u"S'heet'2", u"'S''heet''2'"}, {u"1Sheet", u"'1Sheet'"},
        {u"A1", u"'A1'"},               {u"xfd1048576", u"'xfd1048576'"}, {u"R1C1", u"'R1C1'"},
        {u"RC", u"'RC'"},               {u"C3", u"'C3'"},               {u"工作表", u"'工作表'"},
        {u"Sheet-7", u"'Sheet-7'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.name).toStdString());
        EXPECT_EQ(quoteSheetName(QString::fromUtf16(c.name)), QString::fromUtf16(c.expected));
    }
}

TEST(OpcPackage, ResolvesRelationshipTargets)
{
    const struct
    {
        const char16_t *source, *target, *expected;
    } cases[] = {
        {u"", u"xl/workbook.xml", u"xl/workbook.xml"},
        {u"xl/workbook.xml", u"worksheets/sheet1.xml", u"xl/worksheets/sheet1.xml"},
        {u"xl/workbook.xml", u"/xl/worksheets/sheet1.xml", u"xl/worksheets/sheet1.xml"},
        {u"xl/worksheets/sheet1.xml", u"../printerSettings/printerSettings1.bin", u"xl/printerSettings/printerSettings1.bin"},
        {u"xl/worksheets/sheet1.xml", u"../../../x.xml", u"x.xml"},
        {u"xl/workbook.xml", u"worksheets/sheet%201.xml", u"xl/worksheets/sheet 1.xml"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.target).toStdString());
        EXPECT_EQ(OpcPackage::resolveTarget(QString::fromUtf16(c.source), QString::fromUtf16(c.target)),
                  QString::fromUtf16(c.expected));
    }
    EXPECT_EQ(OpcPackage::relationshipsPartName(QString()), QStringLiteral("_rels/.rels"));
    EXPECT_EQ(OpcPackage::relationshipsPartName(QStringLiteral("xl/worksheets/Sheet1.xml")),
              QStringLiteral("xl/worksheets/_rels/Sheet1.xml.rels"));
}

TEST(XmlText, EscapesWhatXmlCannotCarryAndReadsItBack)
{
    const struct
    {
        const char16_t *text, *encoded;
    } cases[] = {
        {u"plain & <b>", u"plain & <b>"},
        {u"tab\tline\n", u"tab\tline\n"},
        {u"crlf\r\n", u"crlf_x000D_\n"},
        {u"bell\u0007", u"bell_x0007_"},
        {u"_x0041_ literal", u"_x005F_x0041_ literal"},
        {u"_x12_ _xZZZZ_", u"_x12_ _xZZZZ_"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(encodeXmlText(QString::fromUtf16(c.text)), QString::fromUtf16(c.encoded));
        EXPECT_EQ(decodeXmlText(QString::fromUtf16(c.encoded)), QString::fromUtf16(c.text));
    }
    EXPECT_EQ(decodeXmlText(QStringLiteral("a\r\nb\rc")), QStringLiteral("a\nb\nc"));
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x");
    EXPECT_EQ(encodeXmlText(lone), QStringLiteral("_xD800_x"));
    EXPECT_EQ(decodeXmlText(encodeXmlText(lone)), lone);
}

TEST(XmlText, EntityReferencesNameOnlyCharacters)
{
    EXPECT_EQ(xmlEntityCharacter("amp"), U'&');
    EXPECT_EQ(xmlEntityCharacter("apos"), U'\'');
    EXPECT_EQ(xmlEntityCharacter("#60"), U'<');
    EXPECT_EQ(xmlEntityCharacter("#x4E2D"), U'中');
    EXPECT_EQ(xmlEntityCharacter("#x1F600"), U'\U0001F600');
    for (const char *bad : {"nbsp", "AMP", "#", "#x", "#0", "#xD800", "#x110000", "#12a", "#-1", "#x 41", ""})
        EXPECT_EQ(xmlEntityCharacter(bad), 0u) << bad;
}

TEST(XmlPart, UnchangedPartsOfExcelFilesComeBackByteForByte)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xlsx"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    int checked = 0;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xls?")}, QDir::Files)) {
        // Written by another program, with lexical forms (<x a="1" />) that a parser cannot
        // tell from their plain spelling. Every other file comes from Excel.
        if (file == QLatin1String("poi-123233_charts.xlsx"))
            continue;
        const QString path = folder + QLatin1Char('/') + file;
        for (const QString &name : gm::test::zipEntryNames(path)) {
            if (!name.endsWith(QLatin1String(".xml")) && !name.endsWith(QLatin1String(".rels")))
                continue;
            SCOPED_TRACE((file + QLatin1Char(' ') + name).toStdString());
            const QByteArray bytes = gm::test::zipEntry(path, name);
            EXPECT_EQ(XmlPart(name, bytes).serialize(), bytes);
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000);
}

TEST(XmlPart, RefusesMalformedXmlAndDocumentTypes)
{
    for (const char *bad : {"<a><b></a>", "", "<?xml version=\"1.0\"?>\r\n<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"}) {
        SCOPED_TRACE(bad);
        try {
            XmlPart(QStringLiteral("x.xml"), QByteArray(bad));
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::Damaged);
        }
    }
}

} // namespace
} // namespace gm::xlsx
