#include "operations/cells/CellListFile.h"

#include <QFile>
#include <QSaveFile>

#include <pugixml.hpp>

#include <sstream>
#include <string_view>

namespace gm {

namespace {

constexpr qint64 kMaxRow = 1048576;
constexpr qint64 kMaxColumn = 16384;

// A whole number of decimal digits from 0 to limit.
bool isCellNumber(const QString &text, qint64 limit)
{
    if (text.isEmpty() || text.size() > 8)
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return text.toLongLong() <= limit;
}

QString elementText(pugi::xml_node node)
{
    return QString::fromUtf8(node.text().get());
}

} // namespace

CellListRead readCellListFile(const QString &path)
{
    CellListRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.message = kCellListUnreadable + path;
        return result;
    }
    if (file.size() > kCellListMaxBytes) {
        result.message = kCellListTooLarge + path;
        return result;
    }
    const QByteArray bytes = file.readAll();
    pugi::xml_document document;
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size()), pugi::parse_default)) {
        result.message = kCellListNotXml + path;
        return result;
    }
    const pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) != "Cells") {
        result.message = kCellListWrongRoot + path;
        return result;
    }
    QList<CellListEntry> entries;
    for (pugi::xml_node cell = root.first_child(); cell; cell = cell.next_sibling()) {
        if (cell.type() != pugi::node_element)
            continue;
        pugi::xml_node fields[3];
        int found = 0;
        for (pugi::xml_node field = cell.first_child(); field && found < 3; field = field.next_sibling()) {
            if (field.type() == pugi::node_element)
                fields[found++] = field;
        }
        if (found < 3)
            continue;
        CellListEntry entry{elementText(fields[0]), elementText(fields[1]), elementText(fields[2])};
        if (!isCellNumber(entry.row, kMaxRow) || !isCellNumber(entry.column, kMaxColumn)) {
            result.message = kCellListBadNumber + path;
            return result;
        }
        if (entries.size() >= kCellListMaxEntries) {
            result.message = kCellListTooLarge + path;
            return result;
        }
        entries.append(std::move(entry));
    }
    result.entries = std::move(entries);
    return result;
}

QByteArray cellListXml(const QList<CellListEntry> &entries)
{
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("Cells");
    for (const CellListEntry &entry : entries) {
        pugi::xml_node cell = root.append_child("Cell");
        cell.append_child("Row").text().set(entry.row.toUtf8().constData());
        cell.append_child("Col").text().set(entry.column.toUtf8().constData());
        // An empty content still gets its element, so every Cell keeps its three children.
        pugi::xml_node text = cell.append_child("Text");
        if (!entry.content.isEmpty())
            text.text().set(entry.content.toUtf8().constData());
    }
    std::ostringstream out;
    document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    const std::string xml = out.str();
    return QByteArray(xml.data(), qsizetype(xml.size()));
}

QString writeCellListFile(const QString &path, const QList<CellListEntry> &entries)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(cellListXml(entries)) < 0 || !file.commit())
        return kCellListUnwritable + path;
    return {};
}

} // namespace gm
