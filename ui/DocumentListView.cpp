#include "ui/DocumentListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

namespace gm {

DocumentListView::DocumentListView(QWidget *parent)
    : QListView(parent)
{
    setObjectName(QStringLiteral("LstFile"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    // Drops arrive at the viewport; the list box itself takes them from there.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setMouseTracking(true);
    connect(this, &QListView::clicked, this, [this](const QModelIndex &index) {
        setToolTip(index.data(Qt::DisplayRole).toString());
    });
}

void DocumentListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DocumentListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DocumentListView::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    if (!paths.isEmpty())
        emit filesDropped(paths);
}

void DocumentListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete) {
        emit deletePressed();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void DocumentListView::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved();
    QListView::mouseMoveEvent(event);
}

} // namespace gm
