#pragma once

namespace gm::xlsx {

class PackageDocument;

// Gives `target` the theme of `source` (the colours and fonts that theme="n" colours and
// scheme fonts stand for), so that cells formatted with them look as in the source: the
// target's theme part takes the source's content, or a theme part is added with its
// relationship and content type. Pictures the theme fills with are copied along under names
// free in the target; those of the theme it replaces go when nothing else uses them. A
// source without a theme leaves the target as it is.
void copyTheme(PackageDocument &source, PackageDocument &target);

} // namespace gm::xlsx
