#include "automation/lo/HeaderFooterPackage.h"

#include "automation/EngineError.h"
#include "automation/xlsx/HeaderFooterText.h"

#include <QFile>

#include <zip.h>

#include <vector>

namespace gm::lo {

namespace {

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

} // namespace

void writeHeaderFooterPackage(
    const QString &path, const QList<HeaderFooterCodes> &sheets, const QString &fontName, double fontSize)
{
    const QByteArray decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QByteArray types = decl
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    QByteArray workbook
        = decl + "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + rel + "\"><sheets>";
    QByteArray workbookRels = decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::vector<std::pair<QByteArray, QByteArray>> parts;
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        types += "<Override PartName=\"/xl/worksheets/sheet" + n
            + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        workbook += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        workbookRels
            += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        const HeaderFooterCodes &codes = sheets[i];
        const QString header = xlsx::HeaderFooterText{codes[0], codes[1], codes[2]}.compose();
        const QString footer = xlsx::HeaderFooterText{codes[3], codes[4], codes[5]}.compose();
        QByteArray sheet = decl + "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/>";
        if (!header.isEmpty() || !footer.isEmpty()) {
            sheet += "<headerFooter>";
            if (!header.isEmpty())
                sheet += "<oddHeader>" + escaped(header) + "</oddHeader>";
            if (!footer.isEmpty())
                sheet += "<oddFooter>" + escaped(footer) + "</oddFooter>";
            sheet += "</headerFooter>";
        }
        parts.emplace_back("xl/worksheets/sheet" + n + ".xml", sheet + "</worksheet>");
    }
    parts.emplace_back("[Content_Types].xml", types + "</Types>");
    workbookRels += "<Relationship Id=\"rIdStyles\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>";
    parts.emplace_back("xl/styles.xml",
        decl
            + "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<fonts count=\"1\"><font><sz val=\""
            + QByteArray::number(fontSize) + "\"/><name val=\"" + escaped(fontName)
            + "\"/></font></fonts>"
              "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
              "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
              "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
              "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
              "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
              "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
              "</styleSheet>");
    parts.emplace_back("_rels/.rels",
        decl
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\""
            + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    parts.emplace_back("xl/workbook.xml", workbook + "</sheets></workbook>");
    parts.emplace_back("xl/_rels/workbook.xml.rels", workbookRels + "</Relationships>");

    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        throw EngineError(ErrorCode::WriteFailed, path);
    for (const auto &[name, data] : parts) {
        zip_source_t *source = zip_source_buffer(archive, data.constData(), static_cast<zip_uint64_t>(data.size()), 0);
        if (!source || zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            throw EngineError(ErrorCode::WriteFailed, path);
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        throw EngineError(ErrorCode::WriteFailed, path);
    }
}

} // namespace gm::lo
