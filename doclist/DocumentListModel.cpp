#include "doclist/DocumentListModel.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QSet>

namespace gm {

bool ListHasItem(const QStringList &list, const QString &text)
{
    for (const QString &item : list) {
        if (item == text)
            return true;
    }
    return false;
}

bool isTemporaryOrLockFile(const QString &path)
{
    const qsizetype slash = qMax(path.lastIndexOf(u'/'), path.lastIndexOf(QDir::separator()));
    const QStringView name = QStringView(path).mid(slash + 1);
    return name.startsWith(u".~gridmule-") || name.startsWith(u"~$")
            || (name.startsWith(u".~lock.") && name.endsWith(u'#'));
}

bool isWorkbookFileName(const QString &name, bool xlsxAvailable)
{
    if (isTemporaryOrLockFile(name))
        return false;
    if (name.endsWith(QStringLiteral(".XLS"), Qt::CaseInsensitive))
        return true;
    return xlsxAvailable && name.endsWith(QStringLiteral(".XLSX"), Qt::CaseInsensitive);
}

QString documentCountText(int count)
{
    return QStringLiteral("共") + QString::number(count) + QStringLiteral("个文档");
}

DocumentListModel::DocumentListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int DocumentListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant DocumentListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_entries.at(index.row());
    return {};
}

bool DocumentListModel::append(const QString &path)
{
    if (m_entries.size() >= kMaxDocuments || isTemporaryOrLockFile(path))
        return false;
    const int row = int(m_entries.size());
    beginInsertRows({}, row, row);
    m_entries.append(path);
    endInsertRows();
    return true;
}

bool DocumentListModel::appendUnique(const QString &path)
{
    if (ListHasItem(path))
        return false;
    return append(path);
}

void DocumentListModel::setEntry(int row, const QString &path)
{
    if (row < 0 || row >= m_entries.size())
        return;
    m_entries[row] = path;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed);
}

void DocumentListModel::clear()
{
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

int DocumentListModel::appendDropped(const QStringList &paths, bool xlsxAvailable)
{
    // The same exact-text test as ListHasItem, by hash, as a drop may bring thousands.
    QSet<QString> listed(m_entries.cbegin(), m_entries.cend());
    int added = 0;
    for (const QString &path : paths) {
        if (!isWorkbookFileName(path, xlsxAvailable) || listed.contains(path))
            continue;
        if (!append(path))
            break;
        listed.insert(path);
        ++added;
    }
    return added;
}

void DocumentListModel::removeSelected(QItemSelectionModel &selection)
{
    for (int row = int(m_entries.size()) - 1; row >= 0; --row) {
        if (!selection.isSelected(index(row)))
            continue;
        beginRemoveRows({}, row, row);
        m_entries.removeAt(row);
        endRemoveRows();
    }
}

void DocumentListModel::ArrangeItem(QItemSelectionModel &selection, int direction)
{
    const int n = int(m_entries.size());
    QList<bool> selected(n);
    for (int row = 0; row < n; ++row)
        selected[row] = selection.isSelected(index(row));

    auto moveOne = [&](int from, int to) {
        m_entries.swapItemsAt(from, to);
        selected[to] = true;
        selected[from] = false;
    };
    if (direction == int(ArrangeDirection::Up)) {
        for (int i = 1; i < n; ++i) {
            if (selected[i] && !selected[i - 1])
                moveOne(i, i - 1);
        }
    } else if (direction == int(ArrangeDirection::Down)) {
        for (int i = n - 2; i >= 0; --i) {
            if (selected[i] && !selected[i + 1])
                moveOne(i, i + 1);
        }
    } else {
        return;
    }
    if (n == 0)
        return;
    emit dataChanged(index(0), index(n - 1));

    QItemSelection newSelection;
    for (int row = 0; row < n; ++row) {
        if (selected[row])
            newSelection.select(index(row), index(row));
    }
    selection.select(newSelection, QItemSelectionModel::ClearAndSelect);
}

} // namespace gm
