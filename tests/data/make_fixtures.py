#!/usr/bin/env python3
"""Makes the small fixture workbooks of the test suite (standard library only).

sheets_second_active.xlsx  two worksheets, the second one ("第二") active; its cells show
                           displayed values that differ from the stored ones (1,234.57 for
                           1234.5678, a date, text with a comma and Chinese), and it holds
                           a PNG picture, so that exports must carry a picture. Its fonts are
                           宋体 and 微软雅黑 (GB2312 charset), as Chinese Excel writes them.
sheet_references.xlsx      six sheets (Data, Other, It's, Calc, a hidden one and a very hidden one;
                           Calc active) whose formulas, shared and array formulas, defined names
                           (workbook and sheet scope), validation list, conditional format and
                           calculation chain refer to other sheets in every spelling: plain,
                           quoted with a doubled apostrophe, 3-D spans, INDIRECT texts, names.
                           Formula cells carry no cached values, so a reader must calculate.
sheets_second_active.xls   the same workbook written by LibreOffice as Excel 97-2003
                           (soffice --convert-to xls), which keeps the active sheet.
displayed_values.xlsx      one sheet of numbers and dates whose displayed text depends on the
                           locale: 1234.5678 as #,##0.00, 2.5 in the General format, 2024-03-05
                           as the short-date format 14 and as m/d/yyyy.
xls_edge.xlsx              data up to the last .xls cell IV65536 and no further.
xls_too_many_rows.xlsx     a second sheet with data in row 65537.
xls_too_many_columns.xlsx  a second sheet with data in column 257 (IW).
links_and_pictures.xlsx    "Links": an external, a mail and an in-workbook hyperlink (A1:A3, A1 in the
                           Hyperlink cell style), a HYPERLINK() formula (A4), printer settings and
                           a drawing whose picture itself links somewhere; "Other": one external
                           hyperlink and nothing else in its relationships.
print_pages.xlsx           five sheets whose printouts have known page counts, set by manual
                           page breaks; column A reads "<sheet name> line <row>": One (1 page), Breaks (3 pages), Area (a print area of
                           rows 1-15 over 40 rows broken every 10: 2 pages), Hidden (hidden, 1
                           page of its own) and Empty (nothing to print).
print_pages.xls            the same workbook written by LibreOffice as Excel 97-2003.

Run from anywhere: python3 tests/data/make_fixtures.py
"""
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width=8, height=8, rgb=(200, 30, 30)):
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


DECL = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" ' \
     'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def make_xlsx(path):
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Default Extension="png" ContentType="image/png"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
        '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
        '<Override PartName="/xl/drawings/drawing1.xml" ContentType="application/vnd.openxmlformats-officedocument.drawing+xml"/>'
        '</Types>',
        "_rels/.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><bookViews><workbookView activeTab="1"/></bookViews>'
        '<sheets><sheet name="First" sheetId="1" r:id="rId1"/><sheet name="第二" sheetId="2" r:id="rId2"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
        f'<Relationship Id="rId2" Type="{REL}/worksheet" Target="worksheets/sheet2.xml"/>'
        f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/>'
        f'<Relationship Id="rId4" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/></Relationships>',
        "xl/styles.xml": DECL + '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        '<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
        '<fonts count="2"><font><sz val="11"/><name val="宋体"/><family val="3"/><charset val="134"/></font>'
        '<font><sz val="11"/><name val="微软雅黑"/><family val="2"/><charset val="134"/></font></fonts>'
        '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
        '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
        '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
        '<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
        '<xf numFmtId="4" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
        '<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
        '<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/></cellXfs>'
        '<cellStyles count="1"><cellStyle name="常规" xfId="0" builtinId="0"/></cellStyles>'
        '</styleSheet>',
        "xl/sharedStrings.xml": DECL + '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="3" uniqueCount="3">'
        '<si><t>first-sheet</t></si><si><t>中文,逗号</t></si><si><t>second-sheet</t></si></sst>',
        "xl/worksheets/sheet1.xml": DECL + f'<worksheet {NS}><sheetData>'
        '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>1</v></c></row></sheetData></worksheet>',
        "xl/worksheets/sheet2.xml": DECL + f'<worksheet {NS}><sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews>'
        '<sheetData><row r="1"><c r="A1" t="s"><v>2</v></c><c r="B1" s="1"><v>1234.5678</v></c></row>'
        '<row r="2"><c r="A2" s="3" t="s"><v>1</v></c><c r="B2" s="2"><v>45000</v></c></row></sheetData>'
        '<drawing r:id="rId1"/></worksheet>',
        "xl/worksheets/_rels/sheet2.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/drawing" Target="../drawings/drawing1.xml"/></Relationships>',
        "xl/drawings/drawing1.xml": DECL + '<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" '
        'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main">'
        '<xdr:oneCellAnchor><xdr:from><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from>'
        '<xdr:ext cx="609600" cy="609600"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id="2" name="Picture 1"/><xdr:cNvPicPr/></xdr:nvPicPr>'
        f'<xdr:blipFill><a:blip xmlns:r="{REL}" r:embed="rId1"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>'
        '<xdr:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="609600" cy="609600"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></xdr:spPr>'
        '</xdr:pic><xdr:clientData/></xdr:oneCellAnchor></xdr:wsDr>',
        "xl/drawings/_rels/drawing1.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/image" Target="../media/image1.png"/></Relationships>',
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))
        z.writestr("xl/media/image1.png", png())


def make_sheet_references(path):
    wt = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"
    sheets = [("Data", ""), ("Other", ""), ("It's", ""), ("Calc", ""), ("Hidden", ' state="hidden"'),
              ("Secret", ' state="veryHidden"')]

    def values(*cells):
        return "".join(f'<row r="{n}"><c r="A{n}"><v>{v}</v></c></row>' for n, v in cells)

    def sheet(data, extra_before="", extra_after="", selected=False):
        view = '<sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews>' if selected else \
            '<sheetViews><sheetView workbookViewId="0"/></sheetViews>'
        return DECL + f'<worksheet {NS}>{view}<sheetData>{data}</sheetData>{extra_before}{extra_after}</worksheet>'

    def f(cell, text, attributes=""):
        return f'<c r="{cell}"><f{attributes}>{text}</f></c>'

    calc_rows = (
        '<row r="1">' + f("A1", "Data!A1*2") + f("B1", "Data!A1+1", ' t="shared" ref="B1:B3" si="0"')
        + f("C1", "SUM(Data!A1:A3*2)", ' t="array" ref="C1"') + f("D1", "Other!Local") + '</row>'
        '<row r="2">' + f("A2", "SUM(Data!A1:A5)") + '<c r="B2"><f t="shared" si="0"/></c></row>'
        '<row r="3">' + f("A3", "SUM(Data:Other!A1)") + '<c r="B3"><f t="shared" si="0"/></c></row>'
        '<row r="4">' + f("A4", 'INDIRECT("Data!A2")') + '</row>'
        '<row r="5">' + f("A5", "'It''s'!A1+Other!A1") + '</row>'
        '<row r="6">' + f("A6", "SUM(Total)") + '</row>')
    calc_extra = (
        '<conditionalFormatting sqref="A1:A2"><cfRule type="expression" priority="1"><formula>Data!$A$1&gt;0</formula>'
        '</cfRule></conditionalFormatting>'
        '<dataValidations count="1"><dataValidation type="list" allowBlank="1" sqref="E1">'
        '<formula1>Data!$A$1:$A$5</formula1></dataValidation></dataValidations>'
        '<hyperlinks><hyperlink ref="F1" location="Data!A1" display="Data!A1"/></hyperlinks>')
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        + "".join(f'<Override PartName="/xl/worksheets/sheet{i + 1}.xml" ContentType="{wt}"/>' for i in range(len(sheets)))
        + '<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>'
        '<Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/>'
        '</Types>',
        "_rels/.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/>'
        f'<Relationship Id="rId2" Type="{REL}/extended-properties" Target="docProps/app.xml"/></Relationships>',
        "docProps/app.xml": DECL + '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties" '
        'xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"><Application>Microsoft Excel</Application>'
        '<HeadingPairs><vt:vector size="4" baseType="variant"><vt:variant><vt:lpstr>工作表</vt:lpstr></vt:variant>'
        '<vt:variant><vt:i4>5</vt:i4></vt:variant><vt:variant><vt:lpstr>命名范围</vt:lpstr></vt:variant>'
        '<vt:variant><vt:i4>4</vt:i4></vt:variant></vt:vector></HeadingPairs>'
        '<TitlesOfParts><vt:vector size="9" baseType="lpstr"><vt:lpstr>Data</vt:lpstr><vt:lpstr>Other</vt:lpstr>'
        '<vt:lpstr>It&apos;s</vt:lpstr><vt:lpstr>Calc</vt:lpstr><vt:lpstr>Hidden</vt:lpstr><vt:lpstr>Calc!Print_Area</vt:lpstr>'
        '<vt:lpstr>Data!Print_Area</vt:lpstr><vt:lpstr>Other!Local</vt:lpstr><vt:lpstr>Total</vt:lpstr></vt:vector></TitlesOfParts>'
        '</Properties>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><bookViews><workbookView activeTab="3"/></bookViews><sheets>'
        + "".join(f'<sheet name="{n.replace(chr(39), "&apos;")}" sheetId="{i + 1}"{state} r:id="rId{i + 1}"/>'
                  for i, (n, state) in enumerate(sheets))
        + '</sheets><definedNames><definedName name="_xlnm.Print_Area" localSheetId="3">Calc!$A$1:$C$6</definedName>'
        '<definedName name="_xlnm.Print_Area" localSheetId="0">Data!$A$1:$A$5</definedName>'
        '<definedName name="Local" localSheetId="1">Other!$A$1</definedName>'
        '<definedName name="Total">Data!$A$1:$A$5</definedName></definedNames><calcPr calcId="191029"/></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + "".join(f'<Relationship Id="rId{i + 1}" Type="{REL}/worksheet" Target="worksheets/sheet{i + 1}.xml"/>'
                  for i in range(len(sheets)))
        + f'<Relationship Id="rId9" Type="{REL}/calcChain" Target="calcChain.xml"/></Relationships>',
        "xl/calcChain.xml": DECL + '<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        '<c r="A1" i="4"/><c r="B1"/><c r="C1"/><c r="D1"/><c r="A2"/><c r="B2"/><c r="A3"/><c r="B3"/><c r="A4"/>'
        '<c r="A5"/><c r="A6"/></calcChain>',
        "xl/worksheets/sheet1.xml": sheet(values((1, 1), (2, 2), (3, 3), (4, 4), (5, 5))),
        "xl/worksheets/sheet2.xml": sheet(values((1, 100))),
        "xl/worksheets/sheet3.xml": sheet(values((1, 10))),
        "xl/worksheets/sheet4.xml": sheet(calc_rows, calc_extra, selected=True),
        "xl/worksheets/sheet5.xml": sheet(values((1, 5))),
        "xl/worksheets/sheet6.xml": sheet(values((1, 6))),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))


def make_linked_sheets(path):
    """Sheets whose formulas read other sheets: "Calc" reads "Data" and "Other Sheet" (numbers,
    shared strings, a logical value, an error, whole columns) and itself; its own name "Rate"
    reads "Data". Every formula carries the value the spreadsheet program stored for it."""
    wt = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"
    names = ["Data", "Other Sheet", "Calc"]
    strings = ["north", "south", "label"]

    def sheet(rows):
        return DECL + f'<worksheet {NS}><sheetViews><sheetView workbookViewId="0"/></sheetViews>' \
            f'<sheetData>{rows}</sheetData></worksheet>'

    data = "".join(f'<row r="{n}"><c r="A{n}"><v>{n * 10}</v></c>'
                   + (f'<c r="B{n}" t="s"><v>{n - 1}</v></c>' if n <= 2 else "") + '</row>' for n in range(1, 5))
    data += '<row r="5"><c r="A5" t="b"><v>1</v></c><c r="B5" t="e"><v>#DIV/0!</v></c></row>'
    other = '<row r="1"><c r="A1"><v>7.5</v></c><c r="B1" t="s"><v>2</v></c></row>'

    def f(cell, text, value, kind=""):
        t = f' t="{kind}"' if kind else ""
        return f'<c r="{cell}"{t}><f>{text}</f><v>{value}</v></c>'

    calc = ('<row r="1">' + f("A1", "Data!A1*2", 20) + f("B1", "SUM(Data!$A$1:$A$4)", 100) + '</row>'
            '<row r="2">' + f("A2", "'Other Sheet'!A1+Calc!A1", 27.5) + f("B2", 'Data!B2&amp;"-"&amp;\'Other Sheet\'!B1', "south-label", "str") + '</row>'
            '<row r="3">' + f("A3", "SUM(Data!A:A)", 100) + f("B3", "Rate*2", 40) + '</row>'
            '<row r="4">' + f("A4", "IF(Data!A5,1,0)", 1) + f("B4", 'ISERROR(Data!B5)', 1, "b") + '</row>')
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        + "".join(f'<Override PartName="/xl/worksheets/sheet{i + 1}.xml" ContentType="{wt}"/>' for i in range(len(names)))
        + '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
        '</Types>',
        "_rels/.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><bookViews><workbookView/></bookViews><sheets>'
        + "".join(f'<sheet name="{n}" sheetId="{i + 1}" r:id="rId{i + 1}"/>' for i, n in enumerate(names))
        + '</sheets><definedNames><definedName name="Rate" localSheetId="2">Data!$A$2</definedName></definedNames>'
        '<calcPr calcId="191029"/></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + "".join(f'<Relationship Id="rId{i + 1}" Type="{REL}/worksheet" Target="worksheets/sheet{i + 1}.xml"/>'
                  for i in range(len(names)))
        + f'<Relationship Id="rId9" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/></Relationships>',
        "xl/sharedStrings.xml": DECL + '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        f'count="{len(strings)}" uniqueCount="{len(strings)}">' + "".join(f"<si><t>{t}</t></si>" for t in strings) + "</sst>",
        "xl/worksheets/sheet1.xml": sheet(data),
        "xl/worksheets/sheet2.xml": sheet(other),
        "xl/worksheets/sheet3.xml": sheet(calc),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))


def make_plain_xlsx(path, sheets, formats=()):
    """A workbook of plain sheets: sheets = [(name, [(ref, value, style), ...]), ...]; numbers
    only; style indexes the cell formats built from `formats` (numFmtId, formatCode or None)."""
    custom = [(i, code) for i, code in formats if code]
    overrides = "".join(
        f'<Override PartName="/xl/worksheets/sheet{n}.xml" '
        'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        for n in range(1, len(sheets) + 1))
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
        + overrides + '</Types>',
        "_rels/.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><sheets>'
        + "".join(f'<sheet name="{name}" sheetId="{n}" r:id="rId{n}"/>' for n, (name, _) in enumerate(sheets, 1))
        + '</sheets></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + "".join(f'<Relationship Id="rId{n}" Type="{REL}/worksheet" Target="worksheets/sheet{n}.xml"/>'
                  for n in range(1, len(sheets) + 1))
        + f'<Relationship Id="rId{len(sheets) + 1}" Type="{REL}/styles" Target="styles.xml"/></Relationships>',
        "xl/styles.xml": DECL + '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        + (f'<numFmts count="{len(custom)}">' + "".join(f'<numFmt numFmtId="{i}" formatCode="{c}"/>' for i, c in custom)
           + '</numFmts>' if custom else '')
        + '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
        '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
        '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
        '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
        f'<cellXfs count="{len(formats) + 1}"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
        + "".join(f'<xf numFmtId="{i}" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>' for i, _ in formats)
        + '</cellXfs></styleSheet>',
    }
    for n, (_, cells) in enumerate(sheets, 1):
        rows = {}
        for ref, value, style in cells:
            row = int("".join(ch for ch in ref if ch.isdigit()))
            rows.setdefault(row, []).append(f'<c r="{ref}" s="{style}"><v>{value}</v></c>')
        parts[f"xl/worksheets/sheet{n}.xml"] = DECL + f'<worksheet {NS}><sheetData>' + "".join(
            f'<row r="{r}">' + "".join(c) + '</row>' for r, c in sorted(rows.items())) + '</sheetData></worksheet>'
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))


def make_links_and_pictures(path):
    ctype = "application/vnd.openxmlformats-officedocument."
    rels_ns = "http://schemas.openxmlformats.org/package/2006/relationships"
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Default Extension="png" ContentType="image/png"/>'
        f'<Default Extension="bin" ContentType="{ctype}spreadsheetml.printerSettings"/>'
        f'<Override PartName="/xl/workbook.xml" ContentType="{ctype}spreadsheetml.sheet.main+xml"/>'
        f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{ctype}spreadsheetml.worksheet+xml"/>'
        f'<Override PartName="/xl/worksheets/sheet2.xml" ContentType="{ctype}spreadsheetml.worksheet+xml"/>'
        f'<Override PartName="/xl/styles.xml" ContentType="{ctype}spreadsheetml.styles+xml"/>'
        f'<Override PartName="/xl/sharedStrings.xml" ContentType="{ctype}spreadsheetml.sharedStrings+xml"/>'
        f'<Override PartName="/xl/drawings/drawing1.xml" ContentType="{ctype}drawing+xml"/>'
        '</Types>',
        "_rels/.rels": DECL + f'<Relationships xmlns="{rels_ns}">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><bookViews><workbookView/></bookViews>'
        '<sheets><sheet name="Links" sheetId="1" r:id="rId1"/><sheet name="Other" sheetId="3" r:id="rId2"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + f'<Relationships xmlns="{rels_ns}">'
        f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
        f'<Relationship Id="rId2" Type="{REL}/worksheet" Target="worksheets/sheet2.xml"/>'
        f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/>'
        f'<Relationship Id="rId4" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/></Relationships>',
        "xl/styles.xml": DECL + '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        '<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font>'
        '<font><u/><sz val="11"/><color theme="10"/><name val="Calibri"/></font></fonts>'
        '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
        '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
        '<cellStyleXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/>'
        '<xf numFmtId="0" fontId="1" fillId="0" borderId="0"/></cellStyleXfs>'
        '<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
        '<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="1"/></cellXfs>'
        '<cellStyles count="2"><cellStyle name="Hyperlink" xfId="1" builtinId="8"/>'
        '<cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>',
        "xl/sharedStrings.xml": DECL + '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="4" uniqueCount="4">'
        '<si><t>site</t></si><si><t>mail</t></si><si><t>jump</t></si><si><t>other site</t></si></sst>',
        "xl/worksheets/sheet1.xml": DECL + f'<worksheet {NS}><sheetData>'
        '<row r="1"><c r="A1" s="1" t="s"><v>0</v></c></row><row r="2"><c r="A2" t="s"><v>1</v></c></row>'
        '<row r="3"><c r="A3" t="s"><v>2</v></c></row>'
        '<row r="4"><c r="A4" t="str"><f>HYPERLINK("http://example.com/formula","formula")</f><v>formula</v></c></row>'
        '</sheetData><hyperlinks><hyperlink ref="A1" r:id="rId1"/><hyperlink ref="A2" r:id="rId3" tooltip="write"/>'
        '<hyperlink ref="A3" location="Other!B2" display="jump"/></hyperlinks>'
        '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
        '<pageSetup paperSize="9" orientation="portrait" r:id="rId2"/><drawing r:id="rId4"/></worksheet>',
        "xl/worksheets/_rels/sheet1.xml.rels": DECL + f'<Relationships xmlns="{rels_ns}">'
        f'<Relationship Id="rId1" Type="{REL}/hyperlink" Target="http://example.com/site" TargetMode="External"/>'
        f'<Relationship Id="rId2" Type="{REL}/printerSettings" Target="../printerSettings/printerSettings1.bin"/>'
        f'<Relationship Id="rId3" Type="{REL}/hyperlink" Target="mailto:someone@example.com" TargetMode="External"/>'
        f'<Relationship Id="rId4" Type="{REL}/drawing" Target="../drawings/drawing1.xml"/></Relationships>',
        "xl/worksheets/sheet2.xml": DECL + f'<worksheet {NS}><sheetData>'
        '<row r="2"><c r="B2" t="s"><v>3</v></c></row></sheetData>'
        '<hyperlinks><hyperlink ref="B2" r:id="rId1"/></hyperlinks></worksheet>',
        "xl/worksheets/_rels/sheet2.xml.rels": DECL + f'<Relationships xmlns="{rels_ns}">'
        f'<Relationship Id="rId1" Type="{REL}/hyperlink" Target="http://example.com/other" TargetMode="External"/>'
        '</Relationships>',
        "xl/drawings/drawing1.xml": DECL + '<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" '
        f'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="{REL}">'
        '<xdr:oneCellAnchor><xdr:from><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from>'
        '<xdr:ext cx="609600" cy="609600"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id="2" name="Picture 1">'
        '<a:hlinkClick r:id="rId2"/></xdr:cNvPr><xdr:cNvPicPr/></xdr:nvPicPr>'
        '<xdr:blipFill><a:blip r:embed="rId1"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>'
        '<xdr:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="609600" cy="609600"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></xdr:spPr>'
        '</xdr:pic><xdr:clientData/></xdr:oneCellAnchor></xdr:wsDr>',
        "xl/drawings/_rels/drawing1.xml.rels": DECL + f'<Relationships xmlns="{rels_ns}">'
        f'<Relationship Id="rId1" Type="{REL}/image" Target="../media/image1.png"/>'
        f'<Relationship Id="rId2" Type="{REL}/hyperlink" Target="http://example.com/picture" TargetMode="External"/>'
        '</Relationships>',
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))
        z.writestr("xl/media/image1.png", png())
        z.writestr("xl/printerSettings/printerSettings1.bin", bytes(range(256)) * 4)


def make_print_pages(path):
    """Sheets whose printouts have known page counts: manual row breaks split them into pages."""
    def breaks(rows):
        if not rows:
            return ""
        return (f'<rowBreaks count="{len(rows)}" manualBreakCount="{len(rows)}">'
                + "".join(f'<brk id="{r}" max="16383" man="1"/>' for r in rows) + '</rowBreaks>')

    def sheet(name, rows, after_rows=()):
        data = "".join(f'<row r="{r}"><c r="A{r}" t="inlineStr"><is><t>{name} line {r}</t></is></c></row>' for r in rows)
        return (DECL + f'<worksheet {NS}><sheetData>{data}</sheetData>'
                '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
                + breaks(after_rows) + '</worksheet>')

    sheets = [
        ("One", "visible", sheet("One", [1])),
        ("Breaks", "visible", sheet("Breaks", [1, 2, 3], [1, 2])),
        ("Area", "visible", sheet("Area", range(1, 41), [10, 20, 30])),
        ("Hidden", "hidden", sheet("Hidden", [1])),
        ("Empty", "visible", sheet("Empty", [])),
    ]
    overrides = "".join(
        f'<Override PartName="/xl/worksheets/sheet{n}.xml" '
        'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        for n in range(1, len(sheets) + 1))
    parts = {
        "[Content_Types].xml": DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        + overrides + '</Types>',
        "_rels/.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": DECL + f'<workbook {NS}><sheets>'
        + "".join(f'<sheet name="{name}" sheetId="{n}" state="{state}" r:id="rId{n}"/>'
                  for n, (name, state, _) in enumerate(sheets, 1))
        + '</sheets><definedNames>'
        '<definedName name="_xlnm.Print_Area" localSheetId="2">Area!$A$1:$A$15</definedName>'
        '</definedNames></workbook>',
        "xl/_rels/workbook.xml.rels": DECL + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        + "".join(f'<Relationship Id="rId{n}" Type="{REL}/worksheet" Target="worksheets/sheet{n}.xml"/>'
                  for n in range(1, len(sheets) + 1)) + '</Relationships>',
    }
    for n, (_, _, xml) in enumerate(sheets, 1):
        parts[f"xl/worksheets/sheet{n}.xml"] = xml
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text.encode("utf-8"))



def convert_with_libreoffice(source, extension):
    out = tempfile.mkdtemp()
    profile = tempfile.mkdtemp()
    try:
        subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless", "--convert-to", extension,
                        "--outdir", out, source], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        name = os.path.splitext(os.path.basename(source))[0] + "." + extension
        shutil.move(os.path.join(out, name), os.path.join(HERE, name))
    finally:
        shutil.rmtree(out, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    xlsx = os.path.join(HERE, "sheets_second_active.xlsx")
    make_xlsx(xlsx)
    convert_with_libreoffice(xlsx, "xls")
    make_sheet_references(os.path.join(HERE, "sheet_references.xlsx"))
    make_linked_sheets(os.path.join(HERE, "linked_sheets.xlsx"))
    make_plain_xlsx(os.path.join(HERE, "displayed_values.xlsx"),
                    [("Values", [("A1", 1234.5678, 1), ("B1", 2.5, 0), ("C1", 45356, 2), ("D1", 45356, 3)])],
                    [(4, None), (14, None), (164, "m/d/yyyy")])
    make_plain_xlsx(os.path.join(HERE, "xls_edge.xlsx"),
                    [("First", [("A1", 1, 0)]), ("Edge", [("A1", 1, 0), ("IV65536", 2, 0)])])
    make_plain_xlsx(os.path.join(HERE, "xls_too_many_rows.xlsx"),
                    [("First", [("A1", 1, 0)]), ("Rows", [("A1", 1, 0), ("A65537", 2, 0)])])
    make_plain_xlsx(os.path.join(HERE, "xls_too_many_columns.xlsx"),
                    [("First", [("A1", 1, 0)]), ("Columns", [("A1", 1, 0), ("IW1", 2, 0)])])
    make_links_and_pictures(os.path.join(HERE, "links_and_pictures.xlsx"))
    print_pages = os.path.join(HERE, "print_pages.xlsx")
    make_print_pages(print_pages)
    convert_with_libreoffice(print_pages, "xls")
