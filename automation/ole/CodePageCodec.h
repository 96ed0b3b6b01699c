#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace gm::ole {

// Converts text to and from the code page of a property set (the Windows code page number of
// its PID 1 property). 1200 is UTF-16LE and 65001 UTF-8; every other code page goes through
// iconv. The Mac code pages iconv does not know are read through their nearest relative
// (Mac Big5 as Big5 and so on).
class CodePageCodec
{
public:
    static constexpr quint16 Utf16 = 1200;
    static constexpr quint16 Utf8 = 65001;

    explicit CodePageCodec(quint16 codePage);

    quint16 codePage() const { return m_codePage; }
    bool isUtf16() const { return m_codePage == Utf16; }
    // The bytes of `text`, without a terminator; nullopt when a character has no
    // representation in the code page (never a silent substitute).
    std::optional<QByteArray> encode(const QString &text) const;
    // The text of `bytes`, which end at the first NUL; bytes that are not valid in the code
    // page become U+FFFD. A code page no converter knows is read as Latin-1.
    QString decode(const QByteArray &bytes) const;

    // The iconv name used for a code page, or "" when none is known.
    static QByteArray iconvName(quint16 codePage);

private:
    quint16 m_codePage;
};

} // namespace gm::ole
