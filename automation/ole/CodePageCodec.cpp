#include "automation/ole/CodePageCodec.h"

#include <cerrno>
#include <functional>
#include <iconv.h>

namespace gm::ole {

namespace {

class Iconv
{
public:
    Iconv(const char *to, const char *from) : m_handle(iconv_open(to, from)) { }
    ~Iconv()
    {
        if (isValid())
            iconv_close(m_handle);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    bool isValid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `input`. With `lenient`, an invalid input byte is skipped and reported
    // through `onInvalid`; otherwise the conversion stops and returns nullopt.
    std::optional<QByteArray> convert(const QByteArray &input, bool lenient, const std::function<void(QByteArray &)> &onInvalid = {})
    {
        QByteArray output;
        char *in = const_cast<char *>(input.constData());
        size_t inLeft = static_cast<size_t>(input.size());
        char buffer[1024];
        while (inLeft > 0) {
            char *out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(m_handle, &in, &inLeft, &out, &outLeft);
            output.append(buffer, static_cast<qsizetype>(out - buffer));
            if (result != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            if (!lenient)
                return std::nullopt;
            // EILSEQ or EINVAL (a truncated sequence at the end): drop one byte and go on.
            if (onInvalid)
                onInvalid(output);
            ++in;
            --inLeft;
            iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        }
        char *out = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(m_handle, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1) && !lenient)
            return std::nullopt;
        output.append(buffer, static_cast<qsizetype>(out - buffer));
        return output;
    }

private:
    iconv_t m_handle;
};

bool isAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

} // namespace

CodePageCodec::CodePageCodec(quint16 codePage) : m_codePage(codePage) { }

QByteArray CodePageCodec::iconvName(quint16 codePage)
{
    switch (codePage) {
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    case 65001:
        return "UTF-8";
    case 65000:
        return "UTF-7";
    case 20127:
        return "ASCII";
    case 10000:
        return "MACINTOSH";
    case 10001:
        return "SHIFT_JIS";
    case 10002:
        return "BIG5";
    case 10003:
        return "EUC-KR";
    case 10007:
        return "MAC-CYRILLIC";
    case 10008:
        return "GB2312";
    case 10017:
        return "MAC-UK";
    case 10029:
        return "MAC-CENTRALEUROPE";
    case 10079:
        return "MAC-IS";
    case 20932:
    case 51932:
        return "EUC-JP";
    case 20936:
    case 51936:
        return "GB2312";
    case 51949:
        return "EUC-KR";
    case 54936:
        return "GB18030";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 1361:
        return "JOHAB";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28599)
        return "ISO-8859-" + QByteArray::number(codePage - 28590);
    if (codePage == 28603 || codePage == 28605)
        return "ISO-8859-" + QByteArray::number(codePage - 28590);
    if (codePage == 0)
        return {};
    return "CP" + QByteArray::number(codePage);
}

std::optional<QByteArray> CodePageCodec::encode(const QString &text) const
{
    if (m_codePage == Utf16) {
        QByteArray bytes;
        bytes.reserve(text.size() * 2);
        for (const QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() & 0xFF));
            bytes.append(static_cast<char>(c.unicode() >> 8));
        }
        return bytes;
    }
    if (m_codePage == Utf8)
        return text.toUtf8();
    const QByteArray name = iconvName(m_codePage);
    Iconv converter(name.constData(), "UTF-8");
    if (!converter.isValid()) {
        // Every Windows and Mac code page keeps ASCII as it is.
        if (isAscii(text))
            return text.toLatin1();
        return std::nullopt;
    }
    // Lone surrogates have no UTF-8 form; they cannot be written in any 8-bit code page.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return std::nullopt;
    }
    return converter.convert(text.toUtf8(), false);
}

QString CodePageCodec::decode(const QByteArray &bytes) const
{
    if (m_codePage == Utf16) {
        QString text;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t unit = static_cast<char16_t>(static_cast<quint8>(bytes[i]) | static_cast<quint8>(bytes[i + 1]) << 8);
            if (unit == 0)
                break;
            text.append(QChar(unit));
        }
        return text;
    }
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArray text = nul < 0 ? bytes : bytes.left(nul);
    if (m_codePage == Utf8)
        return QString::fromUtf8(text);
    const QByteArray name = iconvName(m_codePage);
    Iconv converter("UTF-8", name.constData());
    if (!converter.isValid())
        return QString::fromLatin1(text);
    const std::optional<QByteArray> utf8
        = converter.convert(text, true, [](QByteArray &output) { output.append("\xEF\xBF\xBD"); });
    return QString::fromUtf8(utf8.value_or(QByteArray()));
}

} // namespace gm::ole
