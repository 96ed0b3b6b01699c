#pragma once

// A window of the program's own that shows a file where the desktop has no application to
// open it with: an HTML page (the help) in a browser view, any other file (the run log) as
// read-only text scrolled to its end, where the newest lines are.

#include <QDialog>

class QPlainTextEdit;
class QTextBrowser;

namespace gm {

class FileViewer : public QDialog
{
    Q_OBJECT

public:
    // Shows path in the viewer of owner's window that shows it already (read again), or in a
    // new one. Returns null when the file cannot be read.
    static FileViewer *open(const QString &path, QWidget *owner);

    QString path() const { return m_path; }

private:
    FileViewer(const QString &path, QWidget *owner);
    bool load();

    QString m_path;
    QTextBrowser *m_browser = nullptr;
    QPlainTextEdit *m_text = nullptr;
};

} // namespace gm
