#pragma once

#include <QString>

#include <string_view>

namespace gm::xlsx {

// Text values as package XML holds them. Characters that XML 1.0 cannot carry (control
// characters other than tab and line feed, unpaired surrogates, U+FFFE and U+FFFF) are
// written as _xHHHH_, carriage returns too, since XML readers turn them into line feeds; an
// underscore that would otherwise start such a sequence is itself written as _x005F_, so
// that decoding gives back exactly the text that was set. Decoding reads raw line ends as an
// XML reader does.
QString encodeXmlText(const QString &text);
QString decodeXmlText(const QString &text);

// The character an entity or character reference stands for, given what stands between its
// "&" and ";" ("amp", "#60", "#x3C"): 0 for a name other than XML's five predefined ones, or a
// reference that names no character (zero, a surrogate, past U+10FFFF, not a number).
char32_t xmlEntityCharacter(std::string_view entity);

// Where a start tag ends, reading from `from` (a place inside the tag, past its name): the index
// just after its ">", the first one outside a quoted attribute value; -1 when the text ends first.
qsizetype startTagEnd(std::string_view text, qsizetype from);

} // namespace gm::xlsx
