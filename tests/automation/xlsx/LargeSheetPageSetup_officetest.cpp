// A worksheet of many rows given a page setup by the package editor, which splices it into
// the sheet's text and reuses the sheet's compressed cell data: LibreOffice reads the new
// page setup and every cell.

#include "PackageInspection.h"

#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

TEST(LargeSheetPageSetup, LibreOfficeReadsTheNewPageSetupAndEveryCell)
{
    constexpr int rowCount = 20000;
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    QByteArray cells;
    for (int r = 1; r <= rowCount; ++r) {
        const QByteArray n = QByteArray::number(r);
        cells += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\" t=\"inlineStr\"><is><t>行" + n
            + "</t></is></c></row>";
    }
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<worksheet "
                            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                            "<dimension ref=\"A1:B20000\"/><sheetData>";
    const QByteArray margins = "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
                               "header=\"0.3\" footer=\"0.3\"/>";
    QByteArray workbookXml = gm::test::zipEntry(path, QStringLiteral("xl/workbook.xml"));
    workbookXml.replace("activeTab=\"1\"", "activeTab=\"0\""); // the CSV export writes the active sheet
    test::rewriteEntries(path,
        {{QStringLiteral("xl/worksheets/sheet1.xml"), head + cells + margins + "</worksheet>"},
            {QStringLiteral("xl/workbook.xml"), workbookXml}});
    {
        PackageWorkbook workbook(path);
        const auto sheet = workbook.worksheet(1);
        sheet->setOrientation(Orientation::Landscape);
        sheet->setHeaderFooter(HeaderFooterSection::CenterHeader, QStringLiteral("总计 &P"));
        sheet->setHeaderFooter(HeaderFooterSection::RightFooter, QStringLiteral("&D"));
        workbook.close(true);
    }
    EXPECT_EQ(gm::test::zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")).toStdString(),
        (head + cells + margins
            + "<pageSetup orientation=\"landscape\"/><headerFooter><oddHeader>&amp;C总计 &amp;P</oddHeader>"
              "<oddFooter>&amp;R&amp;D</oddFooter></headerFooter></worksheet>")
            .toStdString());

    lo::LoApplication engine(libreOfficeProgramDir());
    auto workbook = engine.open(path, true);
    const auto sheet = workbook->worksheet(1);
    EXPECT_EQ(sheet->orientation(), Orientation::Landscape);
    // What LibreOffice read of the header and footer shows in the copy it writes.
    const QString copy = dir.filePath(QStringLiteral("copy.xlsx"));
    workbook->saveAs(copy, FileFormat::OpenXmlWorkbook);
    const QString csv = dir.filePath(QStringLiteral("cells.csv"));
    workbook->saveAs(csv, FileFormat::Csv);
    workbook->close(false);
    engine.quit();
    {
        PackageWorkbook written(copy);
        const auto writtenSheet = written.worksheet(1);
        EXPECT_TRUE(writtenSheet->headerFooter(HeaderFooterSection::CenterHeader).endsWith(QStringLiteral("总计 &P")));
        EXPECT_TRUE(writtenSheet->headerFooter(HeaderFooterSection::RightFooter).endsWith(QStringLiteral("&D")));
        EXPECT_EQ(writtenSheet->orientation(), Orientation::Landscape);
    }
    const QList<QByteArray> lines = gm::test::readAll(csv).trimmed().split('\n');
    ASSERT_EQ(lines.size(), rowCount);
    EXPECT_EQ(lines.front().trimmed(), QByteArray("1,行1"));
    EXPECT_EQ(lines.back().trimmed(), "20000,行20000");
}

} // namespace
} // namespace gm::xlsx
