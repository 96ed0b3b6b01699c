#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace gm {

// One entry of the cell list: row and column numbers as decimal text (1 = first row, 1 =
// column A) and the text to write into that cell (may be empty).
struct CellListEntry
{
    QString row;
    QString column;
    QString content;

    bool operator==(const CellListEntry &) const = default;
};

// The cell list file: root Cells, one Cell per entry in list order, each with the children Row,
// Col and Text carrying the entry's three texts. Written in UTF-8 without a declaration and
// without whitespace between elements.
inline const QString kCellListFilter = QStringLiteral("替换定义文件(*.xml)|*.xml");

inline const QString kCellListUnreadable = QStringLiteral("无法读取单元格列表文件：");
inline const QString kCellListTooLarge = QStringLiteral("单元格列表文件过大，未导入：");
inline const QString kCellListNotXml = QStringLiteral("不是有效的XML文件，未导入：");
inline const QString kCellListWrongRoot = QStringLiteral("不是单元格列表文件（根元素应为Cells），未导入：");
inline const QString kCellListBadNumber = QStringLiteral("单元格列表文件中的行号或列号不正确，未导入：");
inline const QString kCellListUnwritable = QStringLiteral("无法写入单元格列表文件：");

// Files larger than this are refused before they are parsed.
inline constexpr qint64 kCellListMaxBytes = 16 * 1024 * 1024;
inline constexpr int kCellListMaxEntries = 100000;

struct CellListRead
{
    std::optional<QList<CellListEntry>> entries; // empty when the file was refused
    QString message; // why it was refused
};

// Reads a cell list file. A child of the root is read by position: the texts of its first,
// second and third child elements are the row, column and content (element names below the
// root are not checked, so any file of that shape loads); a child with fewer than three child
// elements, and any non-element node, is skipped. The file is refused as a whole when it is
// not well-formed XML, its root is not Cells, it is too large, or a row or column is not a
// whole number within the sheet's size (0 is kept: the cell dialog can produce it, and the
// write of such an entry fails on its own).
CellListRead readCellListFile(const QString &path);

// The file's bytes for a list.
QByteArray cellListXml(const QList<CellListEntry> &entries);
// Writes the list, replacing an existing file; an empty string on success, else the message.
QString writeCellListFile(const QString &path, const QList<CellListEntry> &entries);

} // namespace gm
