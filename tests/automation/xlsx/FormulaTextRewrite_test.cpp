// The streamed rewrite of a worksheet's cell data: formula elements found whatever the chunks
// the data arrives in, their text read with its references, and every other byte kept.

#include "automation/FormulaReferences.h"
#include "automation/xlsx/FormulaTextRewrite.h"

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

// The cell data through a rename of "Data" to "New 1", fed in chunks of `chunk` bytes.
QByteArray renamed(const QByteArray &cellData, qsizetype chunk)
{
    const formula::SheetRenamer renamer(QStringLiteral("Data"), QStringLiteral("New 1"));
    FormulaTextRewrite rewrite([&](QByteArrayView text, QByteArray &out) { return renamer.rename(text, out); });
    QByteArray out;
    for (qsizetype at = 0; at < cellData.size(); at += chunk)
        rewrite.feed(cellData.constData() + at, std::min(chunk, cellData.size() - at), out);
    rewrite.finish(out);
    return out;
}

TEST(FormulaTextRewrite, FormulasAreRewrittenInAnyChunkingAndOtherBytesStay)
{
    const QByteArray cellData = "<sheetData><row r=\"1\" spans=\"1:4\">"
                                "<c r=\"A1\"><f>Data!A1&amp;\"&lt;x&gt;\"</f><v>1</v></c>"
                                "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">SUM(data!B1:C1)</f><v>2</v></c>"
                                "<c r=\"C1\"><f t=\"shared\" si=\"0\"/><v>3</v></c>"
                                "<c r=\"D1\" t=\"str\"><f>&quot;Data!A1&quot;&amp;Other!A1</f><v>Data!A1</v></c>"
                                "<!-- <f>Data!A1</f> -->"
                                "<c r=\"E1\"><x:f a=\"1>0\">Data!E1&#43;1</x:f></c>"
                                "<c r=\"F1\"><f><![CDATA[Data!F1]]></f></c>"
                                "<c r=\"G1\"><fx>Data!G1</fx><formula1 >'DATA'!G2</formula1 ></c>"
                                "<c r=\"H1\"><is><t>Data!H1 &amp; more</t></is></c>"
                                "</row></sheetData>";
    const QByteArray expected = "<sheetData><row r=\"1\" spans=\"1:4\">"
                                "<c r=\"A1\"><f>'New 1'!A1&amp;\"&lt;x&gt;\"</f><v>1</v></c>"
                                "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">SUM('New 1'!B1:C1)</f><v>2</v></c>"
                                "<c r=\"C1\"><f t=\"shared\" si=\"0\"/><v>3</v></c>"
                                "<c r=\"D1\" t=\"str\"><f>&quot;Data!A1&quot;&amp;Other!A1</f><v>Data!A1</v></c>"
                                "<!-- <f>Data!A1</f> -->"
                                "<c r=\"E1\"><x:f a=\"1>0\">'New 1'!E1+1</x:f></c>"
                                "<c r=\"F1\"><f><![CDATA['New 1'!F1]]></f></c>"
                                "<c r=\"G1\"><fx>Data!G1</fx><formula1 >'New 1'!G2</formula1 ></c>"
                                "<c r=\"H1\"><is><t>Data!H1 &amp; more</t></is></c>"
                                "</row></sheetData>";
    for (const qsizetype chunk : {qsizetype(1), qsizetype(2), qsizetype(7), qsizetype(64), cellData.size()}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(renamed(cellData, chunk).toStdString(), expected.toStdString());
    }
}

TEST(FormulaTextRewrite, TextIsReadAndWrittenAsXmlSpellsIt)
{
    QByteArray plain;
    ASSERT_TRUE(FormulaTextRewrite::unescape("a&amp;b&lt;&gt;&quot;&apos;&#233;&#x4E8C;\r\nx\ry", plain));
    EXPECT_EQ(QString::fromUtf8(plain), QStringLiteral("a&b<>\"'é二\nx\ny"));
    EXPECT_FALSE(FormulaTextRewrite::unescape("a&nbsp;b", plain)) << "a reference XML does not define";
    EXPECT_FALSE(FormulaTextRewrite::unescape("a&amp b", plain)) << "an unterminated reference";
    EXPECT_FALSE(FormulaTextRewrite::unescape("<![CDATA[x]]>", plain));
    QByteArray escaped;
    FormulaTextRewrite::appendEscaped("a&b<c>\"d\"\te\x01", escaped);
    EXPECT_EQ(escaped.toStdString(), "a&amp;b&lt;c&gt;\"d\"\te&#1;");
}

} // namespace
} // namespace gm::xlsx
