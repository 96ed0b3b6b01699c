#pragma once

// A workbook whose first sheet carries objects on its grid, written as the spreadsheet
// program writes them: shapes and a picture anchored in each of the three ways, comments
// and the VML notes that show them. Formula cells carry no stored result.
//
// Sheet "Data" (rows and columns 0-based in the drawing, as drawings count them):
//   Box 1    move and size   col 3..5 (to offset 0), row 1..3 (to offset 0), offered twice by
//            an mc:AlternateContent (its choice and its fallback)
//   Box 2    move and size   col 3..5, row 4 (+50000) .. 8 (+100000)
//   Box 3    move only       col 6..7, row 9 .. 10 (+190500)
//   Label    one-cell anchor col 1, row 10
//   Frame    absolute anchor
//   Picture  move and size   col 8..9 (+100), row 3 .. 4 (+100), the only user of rId1
//   Box 4    stays           col 10..11, row 8 .. 9 (+95250)
//   row 10 is twice the default height (30 pt), column 7 is 145 pixels wide
//   comments on A2, B5 and D9, each with its note
// Sheet "Other": formulas naming Data.

#include "support/TestSupport.h"

#include <QByteArray>
#include <QString>

namespace gm::test {

inline QByteArray drawnSheetAnchor(const char *kind, const char *editAs, int fromCol, int fromRow, int fromRowOff, int toCol,
    int toColOff, int toRow, int toRowOff, int id, const char *name)
{
    auto marker = [](const char *tag, int col, int colOff, int row, int rowOff) {
        return QByteArray("<xdr:") + tag + "><xdr:col>" + QByteArray::number(col) + "</xdr:col><xdr:colOff>"
            + QByteArray::number(colOff) + "</xdr:colOff><xdr:row>" + QByteArray::number(row) + "</xdr:row><xdr:rowOff>"
            + QByteArray::number(rowOff) + "</xdr:rowOff></xdr:" + tag + ">";
    };
    const QByteArray shape = "<xdr:sp macro=\"\" textlink=\"\"><xdr:nvSpPr><xdr:cNvPr id=\"" + QByteArray::number(id)
        + "\" name=\"" + name
        + "\"/><xdr:cNvSpPr/></xdr:nvSpPr><xdr:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"609600\" cy=\"381000\"/>"
          "</a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:sp><xdr:clientData/>";
    QByteArray anchor = QByteArray("<xdr:") + kind + (*editAs ? QByteArray(" editAs=\"") + editAs + "\"" : QByteArray()) + ">";
    if (QByteArray(kind) == "absoluteAnchor")
        anchor += "<xdr:pos x=\"6096000\" y=\"3048000\"/><xdr:ext cx=\"609600\" cy=\"381000\"/>";
    else
        anchor += marker("from", fromCol, 0, fromRow, fromRowOff);
    if (QByteArray(kind) == "twoCellAnchor")
        anchor += marker("to", toCol, toColOff, toRow, toRowOff);
    if (QByteArray(kind) == "oneCellAnchor")
        anchor += "<xdr:ext cx=\"609600\" cy=\"381000\"/>";
    return anchor + shape + "</xdr:" + kind + ">";
}

inline QByteArray drawnSheetNote(int row, int column, int id)
{
    return "<v:shape id=\"_x0000_s" + QByteArray::number(1024 + id)
        + "\" type=\"#_x0000_t202\" style='position:absolute;\n  margin-left:107.25pt;margin-top:7.5pt;width:96pt;"
          "height:55.5pt;z-index:"
        + QByteArray::number(id)
        + ";\n  visibility:hidden' fillcolor=\"#ffffe1\" o:insetmode=\"auto\">\n  <v:fill color2=\"#ffffe1\"/>\n"
          "  <x:ClientData ObjectType=\"Note\">\n   <x:MoveWithCells/>\n   <x:SizeWithCells/>\n   <x:Anchor>\n    "
        + QByteArray::number(column + 1) + ", 15, " + QByteArray::number(row) + ", 10, " + QByteArray::number(column + 3)
        + ", 15, " + QByteArray::number(row + 4) + ", 4</x:Anchor>\n   <x:AutoFill>False</x:AutoFill>\n   <x:Row>"
        + QByteArray::number(row) + "</x:Row>\n   <x:Column>" + QByteArray::number(column)
        + "</x:Column>\n  </x:ClientData>\n </v:shape>";
}

inline void writeDrawnSheetWorkbook(const QString &path)
{
    const QByteArray contentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/><Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/drawings/drawing1.xml" ContentType="application/vnd.openxmlformats-officedocument.drawing+xml"/><Override PartName="/xl/comments1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml"/></Types>)";
    const QByteArray rootRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
    const QByteArray workbookRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/></Relationships>)";
    const QByteArray workbook = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/><sheet name="Other" sheetId="2" r:id="rId2"/></sheets><calcPr calcId="191029"/></workbook>)";
    const QByteArray head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)";
    QByteArray rows;
    for (int r = 1; r <= 12; ++r) {
        const QByteArray n = QByteArray::number(r);
        rows += "<row r=\"" + n + (r == 11 ? "\" ht=\"30\" customHeight=\"1" : "") + "\"><c r=\"A" + n + "\"><v>" + QByteArray::number(r * 10) + "</v></c><c r=\"B" + n + "\"><f>A"
            + n + "*2</f></c>";
        if (r == 1)
            rows += "<c r=\"C1\"><f>SUM(A1:A12)</f></c>";
        rows += "</row>";
    }
    const QByteArray data = head + "<dimension ref=\"A1:C12\"/><cols><col min=\"8\" max=\"8\" width=\"20.7109375\" customWidth=\"1\"/></cols><sheetData>" + rows
        + "</sheetData><drawing r:id=\"rId1\"/><legacyDrawing r:id=\"rId2\"/></worksheet>";
    const QByteArray other = head
        + "<sheetData><row r=\"1\"><c r=\"A1\"><f>Data!A5+Data!A9</f></c><c r=\"B1\"><f>SUM(Data!B1:B12)</f></c></row>"
          "</sheetData></worksheet>";
    const QByteArray dataRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing" Target="../drawings/drawing1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/vmlDrawing" Target="../drawings/vmlDrawing1.vml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/comments" Target="../comments1.xml"/></Relationships>)";
    const QByteArray picture = "<xdr:twoCellAnchor><xdr:from><xdr:col>8</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>3</xdr:row>"
                               "<xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>9</xdr:col><xdr:colOff>100</xdr:colOff>"
                               "<xdr:row>4</xdr:row><xdr:rowOff>100</xdr:rowOff></xdr:to><xdr:pic><xdr:nvPicPr>"
                               "<xdr:cNvPr id=\"7\" name=\"Picture\"/><xdr:cNvPicPr/></xdr:nvPicPr><xdr:blipFill>"
                               "<a:blip r:embed=\"rId1\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr>"
                               "<a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"609600\" cy=\"190500\"/></a:xfrm><a:prstGeom "
                               "prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic><xdr:clientData/>"
                               "</xdr:twoCellAnchor>";
    const QByteArray drawing = QByteArray(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)")
        + "<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"><mc:Choice "
          "xmlns:a14=\"http://schemas.microsoft.com/office/drawing/2010/main\" Requires=\"a14\">"
        + drawnSheetAnchor("twoCellAnchor", "", 3, 1, 0, 5, 0, 3, 0, 2, "Box 1") + "</mc:Choice><mc:Fallback>"
        + drawnSheetAnchor("twoCellAnchor", "", 3, 1, 0, 5, 0, 3, 0, 2, "Box 1") + "</mc:Fallback></mc:AlternateContent>"
        + drawnSheetAnchor("twoCellAnchor", "", 3, 4, 50000, 5, 0, 8, 100000, 3, "Box 2")
        + drawnSheetAnchor("twoCellAnchor", "oneCell", 6, 9, 0, 7, 0, 10, 190500, 4, "Box 3")
        + drawnSheetAnchor("oneCellAnchor", "", 1, 10, 0, 0, 0, 0, 0, 5, "Label")
        + drawnSheetAnchor("absoluteAnchor", "", 0, 0, 0, 0, 0, 0, 0, 6, "Frame") + picture
        + drawnSheetAnchor("twoCellAnchor", "absolute", 10, 8, 0, 11, 0, 9, 95250, 8, "Box 4") + "</xdr:wsDr>";
    const QByteArray drawingRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="../media/image1.png"/></Relationships>)";
    const QByteArray comments = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<comments xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><authors><author>Ann</author></authors><commentList><comment ref="A2" authorId="0"><text><t>on A2</t></text></comment><comment ref="B5" authorId="0"><text><t>on B5</t></text></comment><comment ref="D9" authorId="0"><text><t>on D9</t></text></comment></commentList></comments>)";
    const QByteArray vml
        = "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\"\n xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
          " xmlns:x=\"urn:schemas-microsoft-com:office:excel\">\n <o:shapelayout v:ext=\"edit\">\n"
          "  <o:idmap v:ext=\"edit\" data=\"1\"/>\n </o:shapelayout><v:shapetype id=\"_x0000_t202\" "
          "coordsize=\"21600,21600\" o:spt=\"202\"\n  path=\"m,l,21600r21600,l21600,xe\">\n  <v:stroke "
          "joinstyle=\"miter\"/>\n  <v:path gradientshapeok=\"t\" o:connecttype=\"rect\"/>\n </v:shapetype>"
        + drawnSheetNote(1, 0, 1) + drawnSheetNote(4, 1, 2) + drawnSheetNote(8, 3, 3) + "</xml>";
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==");
    writeZip(path,
        {{QStringLiteral("[Content_Types].xml"), contentTypes}, {QStringLiteral("_rels/.rels"), rootRels},
            {QStringLiteral("xl/workbook.xml"), workbook}, {QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRels},
            {QStringLiteral("xl/worksheets/sheet1.xml"), data}, {QStringLiteral("xl/worksheets/sheet2.xml"), other},
            {QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"), dataRels},
            {QStringLiteral("xl/drawings/drawing1.xml"), drawing},
            {QStringLiteral("xl/drawings/_rels/drawing1.xml.rels"), drawingRels},
            {QStringLiteral("xl/drawings/vmlDrawing1.vml"), vml}, {QStringLiteral("xl/comments1.xml"), comments},
            {QStringLiteral("xl/media/image1.png"), png}});
}

} // namespace gm::test
