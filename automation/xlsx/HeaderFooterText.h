#pragma once

#include <QString>

namespace gm::xlsx {

// A header or footer code string ("&LLeft&CCentre&RRight") taken apart into its three
// sections. Each section keeps its own codes (fields, fonts, colours) as written.
struct HeaderFooterText
{
    QString left;
    QString center;
    QString right;

    // Reads left to right: "&L", "&C", "&R" (either case) switch sections, text before the
    // first of them belongs to the centre, a repeated section code appends to that section,
    // "&&" is a literal ampersand and &"font,style" runs to its closing quote.
    static HeaderFooterText parse(const QString &code);
    // "&L" + left + "&C" + centre + "&R" + right, leaving out empty sections.
    QString compose() const;
};

} // namespace gm::xlsx
