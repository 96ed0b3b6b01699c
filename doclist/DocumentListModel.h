#pragma once

// The document list: the ordered workbook paths every operation processes. Entries are the
// paths as they were added; their position is their processing order. Selection lives in the
// view's QItemSelectionModel; the routines that act on selected entries take it as argument.

#include <QAbstractListModel>
#include <QStringList>

class QItemSelectionModel;

namespace gm {

// Positions and counts are 16-bit everywhere, so the list holds at most this many entries.
inline constexpr int kMaxDocuments = 32767;

// True when some entry equals text exactly (letter case counts).
bool ListHasItem(const QStringList &list, const QString &text);

// A file that sits beside workbooks but is none of the user's: our own temporary files
// (.~gridmule-*), the engine's lock files (.~lock.*#) and the owner files a spreadsheet
// program keeps beside an open workbook (~$*). The list never holds one.
bool isTemporaryOrLockFile(const QString &path);

// A workbook file name: ends in .xls, or in .xlsx when .xlsx is available (any letter case),
// and is not a temporary, lock or owner file.
bool isWorkbookFileName(const QString &name, bool xlsxAvailable);

// The document count text of the status bar, such as 共12个文档.
QString documentCountText(int count);

enum class ArrangeDirection { Up = 1, Down = 2 };

class DocumentListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit DocumentListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const QStringList &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    QString entry(int row) const { return m_entries.value(row); }
    bool ListHasItem(const QString &text) const { return gm::ListHasItem(m_entries, text); }

    // Appends without a duplicate test. False when the list is full or the path is a
    // temporary, lock or owner file.
    bool append(const QString &path);
    // Appends unless an identical entry exists (dialog, drops and folder import).
    bool appendUnique(const QString &path);
    // Rewrites one entry in place (renamed documents).
    void setEntry(int row, const QString &path);
    void clear();

    // Dropped files: each one whose name is a workbook file name and that is not listed yet
    // is appended; folders are not opened. Returns the number appended.
    int appendDropped(const QStringList &paths, bool xlsxAvailable);

    // RemoveDocument: every selected entry, from the last to the first.
    void removeSelected(QItemSelectionModel &selection);
    // ArrangeItem: moves runs of selected entries one place up or down as blocks; a run that
    // already touches the end it moves towards stays. Other direction values do nothing.
    void ArrangeItem(QItemSelectionModel &selection, int direction);

private:
    QStringList m_entries;
};

} // namespace gm
