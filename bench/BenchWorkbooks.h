#pragma once

// Workbooks generated for the benchmarks: one worksheet of `rows` x `cols` cells, every third
// cell Chinese text, the others numbers, written as a plain .xlsx package. `afterData` is
// XML placed after sheetData (page margins, a header and footer).

#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/RunMemory.h"
#include "automation/UserInterface.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QTextStream>

#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace bench {

// A run's user interface that shows nothing and gives one answer to every yes/no question.
class SilentUi : public gm::UserInterface
{
public:
    explicit SilentUi(bool answerYes = false) : m_yes(answerYes) { }
    void inform(const QString &) override { }
    bool askYesNo(const QString &) override { return m_yes; }
    bool askOkCancel(const QString &) override { return false; }
    void setStatus(const QString &) override { }
    void setBusy(bool) override { }
    void openInViewer(const QString &) override { }

private:
    bool m_yes;
};

// Mean milliseconds per file of opening, changing, saving and closing each file, the final
// flush to disk included. Memory is handled as in a run of the program.
inline double timePerFile(const QStringList &files,
    const std::function<std::unique_ptr<gm::Workbook>(const QString &)> &open,
    const std::function<void(gm::Workbook &)> &change)
{
    gm::keepFreedMemoryForReuse();
    QElapsedTimer timer;
    timer.start();
    {
        gm::DeferredDurability run;
        for (const QString &file : files) {
            auto book = open(file);
            change(*book);
            book->save();
            book->close(false);
        }
    }
    return double(timer.nsecsElapsed()) / 1e6 / double(files.size());
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

inline QByteArray sheetXml(int rows, int cols, const QByteArray &afterData = {})
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                     "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (int r = 1; r <= rows; ++r) {
        xml += "<row r=\"" + QByteArray::number(r) + "\">";
        for (int c = 0; c < cols; ++c) {
            const QByteArray ref = QByteArray(1, static_cast<char>('A' + c)) + QByteArray::number(r);
            if (c % 3 == 0)
                xml += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>文本" + QByteArray::number(r * cols + c) + "</t></is></c>";
            else
                xml += "<c r=\"" + ref + "\"><v>" + QByteArray::number(r * 1.25 + c) + "</v></c>";
        }
        xml += "</row>";
    }
    return xml + "</sheetData>" + afterData + "</worksheet>";
}

inline void writeXlsx(const QString &path, int rows, int cols, const QByteArray &afterData = {})
{
    const QList<QPair<const char *, QByteArray>> parts = {
        {"[Content_Types].xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Types "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Override PartName=\"/xl/workbook.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
            "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
            "</Types>"},
        {"_rels/.rels",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" "
            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
            "Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<workbook "
            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet name=\"Data\" "
            "sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
            "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", sheetXml(rows, cols, afterData)},
    };
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    std::vector<QByteArray> keep;
    for (const auto &[name, data] : parts) {
        keep.push_back(data);
        zip_source_t *source
            = zip_source_buffer(archive, keep.back().constData(), static_cast<zip_uint64_t>(keep.back().size()), 0);
        zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
    }
    if (!archive || zip_close(archive) != 0) {
        QTextStream(stderr) << "cannot write " << path << ": " << (archive ? zip_strerror(archive) : "open failed") << "\n";
        exit(1);
    }
}

// A <hyperlinks> element with an internal link in each of rows A1..An.
inline QByteArray hyperlinks(int rows)
{
    QByteArray xml = "<hyperlinks>";
    for (int r = 1; r <= rows; ++r) {
        const QByteArray n = QByteArray::number(r);
        xml += "<hyperlink ref=\"A" + n + "\" location=\"'Sheet1'!B" + n + "\" display=\"B" + n + "\"/>";
    }
    return xml + "</hyperlinks>";
}

// A 24-bit BMP of width x height in a colour gradient.
inline QByteArray bmp(int width, int height)
{
    const int row = (width * 3 + 3) & ~3;
    QByteArray file("BM");
    auto u16 = [&](quint16 v) {
        file += char(v & 0xFF);
        file += char(v >> 8);
    };
    auto u32 = [&](quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    };
    for (quint32 v : {quint32(54 + row * height), 0u, 54u, 40u, quint32(width), quint32(height)})
        u32(v);
    u16(1);
    u16(24);
    for (quint32 v : {0u, quint32(row * height), 2835u, 2835u, 0u, 0u})
        u32(v);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            file += char(x);
            file += char(y);
            file += char(x + y);
        }
        file += QByteArray(row - width * 3, '\0');
    }
    return file;
}

} // namespace bench
