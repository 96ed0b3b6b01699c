#pragma once

// The program's icons, drawn as vector shapes at whatever size and in whatever state
// (a disabled icon is drawn in greys), so they stay crisp on every screen.

#include <QIcon>
#include <QString>

namespace gm {

enum class IconShape {
    AddFile, AddFolder, Remove, RemoveAll, MoveUp, MoveDown,
    Convert, Header, BatchRename, Unite, StrReplace, CLock, Protect, HyperLink, BatchSheet, Print,
    Share, Cols, Cells, Abstract, Sum, Recent, ClearRecent,
    Application, Folder, PagePortrait, PageLandscape,
};

QIcon drawnIcon(IconShape shape);

} // namespace gm
