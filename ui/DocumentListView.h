#pragma once

// LstFile: the document list box. Several entries may be selected; workbook files dropped
// from the desktop are offered to the window; Delete removes the selected entries; a click
// shows the clicked entry's full path as the tooltip.

#include <QListView>

namespace gm {

class DocumentListView : public QListView
{
    Q_OBJECT

public:
    explicit DocumentListView(QWidget *parent = nullptr);

signals:
    void filesDropped(const QStringList &paths);
    void deletePressed();
    void mouseMoved();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};

} // namespace gm
