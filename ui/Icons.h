#pragma once

// The program's icons: SVG drawings in the program's resources, drawn by Qt's SVG module at
// whatever size and state (a disabled icon in greys) a control asks for.

#include <QIcon>
#include <QString>

namespace gm {

enum class Icon {
    AddFile, AddFolder, Remove, RemoveAll, MoveUp, MoveDown,
    Convert, Header, BatchRename, Unite, StrReplace, CLock, Protect, HyperLink, BatchSheet, Print,
    Share, Cols, Cells, Abstract, Sum, Recent, ClearRecent,
    Application, Folder, PagePortrait, PageLandscape,
};
inline constexpr int kIconCount = int(Icon::PageLandscape) + 1;

// The resource path of an icon's drawing, such as ":/icons/add-file.svg".
QString iconPath(Icon which);
QIcon programIcon(Icon which);

} // namespace gm
