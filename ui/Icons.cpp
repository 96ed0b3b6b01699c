#include "ui/Icons.h"

#include <array>

// The drawings are compiled into the UI library; a static library's resources are registered
// by name, from outside any namespace.
static void registerIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace gm {

namespace {

constexpr std::array<const char16_t *, kIconCount> kFileNames = {
        u"add-file",  u"add-folder", u"remove",      u"remove-all",   u"move-up",     u"move-down",
        u"convert",   u"header",     u"batch-rename", u"unite",       u"str-replace", u"clock",
        u"protect",   u"hyperlink",  u"batch-sheet", u"print",        u"share",       u"cols",
        u"cells",     u"abstract",   u"sum",         u"recent",       u"clear-recent", u"application",
        u"folder",    u"page-portrait", u"page-landscape",
};

} // namespace

QString iconPath(Icon which)
{
    return QStringLiteral(":/icons/") + QString::fromUtf16(kFileNames.at(size_t(which))) + QStringLiteral(".svg");
}

QIcon programIcon(Icon which)
{
    static const bool registered = [] {
        registerIconResources();
        return true;
    }();
    Q_UNUSED(registered);
    return QIcon(iconPath(which));
}

} // namespace gm
