#pragma once

// The desktop's list of recently used documents: the freedesktop recently-used.xbel file in
// the user's data folder. Other programs' entries are kept as they are.

#include <QString>
#include <QStringList>

namespace gm {

class RecentDocuments
{
public:
    explicit RecentDocuments(QString xbelFile = defaultFile());

    static QString defaultFile();
    const QString &file() const { return m_file; }

    // Adds each path (blank entries are left out) as a bookmark of this program, or marks an
    // existing bookmark of that file as used again. Returns false when the file could not be
    // written.
    bool add(const QStringList &paths) const;
    // Empties the list.
    bool clear() const;

    // The files listed, in file order (for checks and tests).
    QStringList files() const;

private:
    QString m_file;
};

} // namespace gm
