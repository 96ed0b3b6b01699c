#include "ui/dialogs/FileViewer.h"

#include "app/AppState.h"
#include "ui/Controls.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace gm {

namespace {

bool isHtml(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare(QStringLiteral("html"), Qt::CaseInsensitive) == 0
        || suffix.compare(QStringLiteral("htm"), Qt::CaseInsensitive) == 0;
}

// The outermost window above widget, so that a viewer opened from a dialog outlives it.
QWidget *topWindow(QWidget *widget)
{
    QWidget *result = widget ? widget->window() : nullptr;
    while (result && result->parentWidget())
        result = result->parentWidget()->window();
    return result;
}

} // namespace

FileViewer::FileViewer(const QString &path, QWidget *owner)
    : QDialog(owner, Qt::Window)
    , m_path(path)
{
    setObjectName(QStringLiteral("FileViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setModal(false);
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - ") + kAppTitle);

    auto *layout = new QVBoxLayout(this);
    if (isHtml(path)) {
        m_browser = new QTextBrowser(this);
        m_browser->setObjectName(QStringLiteral("HelpBrowser"));
        m_browser->setOpenLinks(true);
        m_browser->setOpenExternalLinks(true);
        layout->addWidget(m_browser, 1);
    } else {
        m_text = new QPlainTextEdit(this);
        m_text->setObjectName(QStringLiteral("LogText"));
        m_text->setReadOnly(true);
        m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
        layout->addWidget(m_text, 1);
    }
    auto *close = controls::button(QStringLiteral("CmdClose"), QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto *buttons = controls::row();
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(760, 520);
}

bool FileViewer::load()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (m_browser) {
        file.close();
        // Through its address, so that the page's own links and pictures are found.
        m_browser->setSource(QUrl());
        m_browser->setSource(QUrl::fromLocalFile(QFileInfo(m_path).absoluteFilePath()));
        return true;
    }
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(text);
    m_text->moveCursor(QTextCursor::End);
    m_text->ensureCursorVisible();
    return true;
}

FileViewer *FileViewer::open(const QString &path, QWidget *owner)
{
    QWidget *parent = topWindow(owner);
    FileViewer *viewer = nullptr;
    if (parent) {
        const QString wanted = QFileInfo(path).absoluteFilePath();
        for (FileViewer *shown : parent->findChildren<FileViewer *>(Qt::FindDirectChildrenOnly)) {
            if (QFileInfo(shown->path()).absoluteFilePath() == wanted)
                viewer = shown;
        }
    }
    const bool created = !viewer;
    if (created)
        viewer = new FileViewer(path, parent);
    if (!viewer->load()) {
        if (created)
            delete viewer;
        return nullptr;
    }
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

} // namespace gm
