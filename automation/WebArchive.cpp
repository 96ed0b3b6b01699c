#include "automation/WebArchive.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

namespace gm {

namespace {

struct Resource
{
    QString filePath; // absolute, canonical
    QByteArray location; // Content-Location of its part
};

// Resolves the character references an attribute value may hold (&amp; &#47; &#x2F; ...).
// Unknown named references stay as written.
QString decodeEntities(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    static const QRegularExpression reference(QStringLiteral("&(#[0-9]+|#[xX][0-9A-Fa-f]+|[A-Za-z]+);"));
    QString result;
    qsizetype last = 0;
    auto it = reference.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        result += QStringView(text).mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const QString name = m.captured(1);
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name.at(1) == u'x' || name.at(1) == u'X');
            const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF) {
                const char32_t ch = code;
                result += QString::fromUcs4(&ch, 1);
                continue;
            }
        } else if (name == QLatin1String("amp")) {
            result += u'&';
            continue;
        } else if (name == QLatin1String("quot")) {
            result += u'"';
            continue;
        } else if (name == QLatin1String("apos")) {
            result += u'\'';
            continue;
        } else if (name == QLatin1String("lt")) {
            result += u'<';
            continue;
        } else if (name == QLatin1String("gt")) {
            result += u'>';
            continue;
        }
        result += m.captured(0);
    }
    result += QStringView(text).mid(last);
    return result;
}

QByteArray contentTypeFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("gif"))
        return "image/gif";
    if (suffix == QLatin1String("bmp"))
        return "image/bmp";
    if (suffix == QLatin1String("svg"))
        return "image/svg+xml";
    if (suffix == QLatin1String("webp"))
        return "image/webp";
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return "image/tiff";
    if (suffix == QLatin1String("ico"))
        return "image/x-icon";
    if (suffix == QLatin1String("css"))
        return "text/css";
    if (suffix == QLatin1String("js"))
        return "text/javascript";
    // wmf, emf and anything else: browsers sniff or ignore it.
    return "application/octet-stream";
}

// Finds the local files an HTML text references and the Content-Location each part gets.
class ResourceScanner
{
public:
    explicit ResourceScanner(const QString &htmlPath)
    {
        const QFileInfo html(htmlPath);
        m_htmlFile = html.canonicalFilePath();
        m_folder = html.absoluteDir().canonicalPath();
        m_mainLocation = QUrl::fromLocalFile(QLatin1Char('/') + html.fileName());
    }

    QByteArray mainLocation() const { return m_mainLocation.toEncoded(); }
    const QList<Resource> &resources() const { return m_resources; }

    void scan(const QString &html)
    {
        // Quoted attribute values may hold '>', so a tag ends at the first '>' outside quotes.
        static const QRegularExpression tag(
            QStringLiteral(R"re(<([A-Za-z][A-Za-z0-9:-]*)((?:[^>"']++|"[^"]*+"|'[^']*+')*+)>)re"));
        static const QRegularExpression attribute(
            QStringLiteral(R"re(([^\s=/>"']+)\s*(?:=\s*(?:"([^"]*)"|'([^']*)'|([^\s>"']+)))?)re"));
        static const QRegularExpression styleBlock(QStringLiteral(R"re(<style\b[^>]*>(.*?)</style\s*>)re"),
            QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);

        auto tags = tag.globalMatch(html);
        while (tags.hasNext()) {
            const QRegularExpressionMatch t = tags.next();
            const QString tagName = t.captured(1).toLower();
            auto attributes = attribute.globalMatch(t.capturedView(2));
            while (attributes.hasNext()) {
                const QRegularExpressionMatch a = attributes.next();
                if (a.capturedLength(2) + a.capturedLength(3) + a.capturedLength(4) == 0)
                    continue;
                const QString name = a.captured(1).toLower();
                const QString value = decodeEntities(a.captured(2) + a.captured(3) + a.captured(4));
                if (name == QLatin1String("src") || name == QLatin1String("background")
                    || (name == QLatin1String("href") && tagName == QLatin1String("link")))
                    consider(value);
                else if (name == QLatin1String("style"))
                    scanCss(value);
            }
        }
        auto blocks = styleBlock.globalMatch(html);
        while (blocks.hasNext())
            scanCss(blocks.next().captured(1));
    }

private:
    void scanCss(const QString &css)
    {
        static const QRegularExpression url(
            QStringLiteral(R"re(url\(\s*(?:"([^"]*)"|'([^']*)'|([^)\s]*))\s*\))re"), QRegularExpression::CaseInsensitiveOption);
        auto it = url.globalMatch(css);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            consider(m.captured(1) + m.captured(2) + m.captured(3));
        }
    }

    void consider(const QString &reference)
    {
        const QString text = reference.trimmed();
        if (text.isEmpty() || text.startsWith(u'#') || text.startsWith(QLatin1String("//")))
            return;
        QUrl url(text, QUrl::TolerantMode);
        if (!url.isValid())
            return;
        url.setFragment(QString());

        QStringList candidates;
        if (url.scheme().isEmpty()) {
            const QString path = url.path(QUrl::FullyDecoded);
            if (path.isEmpty())
                return;
            candidates << QDir(m_folder).filePath(path);
            // A name written without percent-encoding that happens to contain '%'.
            const QString literal = text.section(u'#', 0, 0);
            if (literal != path)
                candidates << QDir(m_folder).filePath(literal);
        } else if (url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0) {
            if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
                return;
            candidates << url.path(QUrl::FullyDecoded);
        } else {
            return; // http:, https:, data:, mailto:, javascript: ...
        }

        for (const QString &candidate : std::as_const(candidates)) {
            const QFileInfo info(candidate);
            if (!info.isFile())
                continue;
            const QString canonical = info.canonicalFilePath();
            // Only files inside the HTML file's folder: they are deleted once embedded.
            if (canonical == m_htmlFile || !canonical.startsWith(m_folder + QLatin1Char('/')))
                return;
            const QByteArray location = m_mainLocation.resolved(url).toEncoded();
            if (m_locations.contains(location))
                return;
            m_locations.insert(location);
            m_resources.append({canonical, location});
            return;
        }
    }

    QString m_htmlFile;
    QString m_folder;
    QUrl m_mainLocation;
    QList<Resource> m_resources;
    QSet<QByteArray> m_locations;
};

ResourceScanner scanHtml(const QString &htmlPath, QByteArray *htmlBytes)
{
    const QFileInfo info(htmlPath);
    if (!info.isFile())
        throw EngineError(ErrorCode::FileNotFound, htmlPath);
    *htmlBytes = readWholeFile(htmlPath);
    ResourceScanner scanner(htmlPath);
    scanner.scan(QString::fromUtf8(*htmlBytes));
    return scanner;
}

// Quoted-printable (RFC 2045 6.7). CR LF pairs become hard line breaks; a lone LF or CR is
// encoded, followed by a soft break, so the part decodes to the file's exact bytes while
// the encoded text keeps one line per source line. Encoded lines stay within 76 characters.
QByteArray encodeQuotedPrintable(const QByteArray &data)
{
    static const char hexDigits[] = "0123456789ABCDEF";
    constexpr int maxContent = 75; // leaves room for the '=' of a soft break
    QByteArray out;
    out.reserve(data.size() + data.size() / 4 + 16);
    int lineLength = 0;
    auto put = [&](const char *piece, int length) {
        if (lineLength + length > maxContent) {
            out += "=\r\n";
            lineLength = 0;
        }
        out.append(piece, length);
        lineLength += length;
    };
    auto putEncoded = [&](unsigned char c) {
        const char piece[3] = {'=', hexDigits[c >> 4], hexDigits[c & 0x0F]};
        put(piece, 3);
    };

    const qsizetype size = data.size();
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data.at(i));
        const bool crlfNext = i + 2 < size && data.at(i + 1) == '\r' && data.at(i + 2) == '\n';
        if (c == '\r' && i + 1 < size && data.at(i + 1) == '\n') {
            out += "\r\n";
            lineLength = 0;
            ++i;
        } else if (c == '\n' || c == '\r') {
            putEncoded(c);
            if (i + 1 < size) {
                out += "=\r\n";
                lineLength = 0;
            }
        } else if (c == ' ' || c == '\t') {
            // Whitespace at the end of a line would be stripped in transport.
            if (i + 1 == size || crlfNext)
                putEncoded(c);
            else
                put(reinterpret_cast<const char *>(&c), 1);
        } else if (c >= 33 && c <= 126 && c != '=') {
            put(reinterpret_cast<const char *>(&c), 1);
        } else {
            putEncoded(c);
        }
    }
    return out;
}

QByteArray encodeBase64Lines(const QByteArray &data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype pos = 0; pos < encoded.size(); pos += 76) {
        if (pos > 0)
            out += "\r\n";
        out.append(encoded.constData() + pos, qMin<qsizetype>(76, encoded.size() - pos));
    }
    return out;
}

struct Part
{
    QByteArray headers;
    QByteArray body;
};

// "=_" cannot occur in quoted-printable or base64 text; the random tail and the check
// below guard against everything else.
QByteArray chooseBoundary(const QList<Part> &parts)
{
    for (;;) {
        QByteArray random(16, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), 4);
        const QByteArray boundary = "----=_GridmuleWebArchive_" + random.toHex();
        bool clash = false;
        for (const Part &part : parts)
            clash = clash || part.body.contains(boundary) || part.headers.contains(boundary);
        if (!clash)
            return boundary;
    }
}

} // namespace

QStringList webArchiveResources(const QString &htmlPath)
{
    QByteArray html;
    const ResourceScanner scanner = scanHtml(htmlPath, &html);
    QStringList files;
    for (const Resource &resource : scanner.resources()) {
        if (!files.contains(resource.filePath))
            files << resource.filePath;
    }
    return files;
}

void buildWebArchive(const QString &htmlPath, const QString &mhtPath)
{
    QByteArray html;
    const ResourceScanner scanner = scanHtml(htmlPath, &html);

    QList<Part> parts;
    parts.append({"Content-Type: text/html; charset=\"utf-8\"\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n"
                  "Content-Location: "
            + scanner.mainLocation() + "\r\n",
        encodeQuotedPrintable(html)});
    html.clear();
    for (const Resource &resource : scanner.resources()) {
        parts.append({"Content-Type: " + contentTypeFor(resource.filePath)
                + "\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Location: "
                + resource.location + "\r\n",
            encodeBase64Lines(readWholeFile(resource.filePath))});
    }
    const QByteArray boundary = chooseBoundary(parts);

    QSaveFile file(mhtPath);
    if (!file.open(QIODevice::WriteOnly))
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("cannot write %1: %2").arg(mhtPath, file.errorString()));
    file.write("MIME-Version: 1.0\r\n"
               "Content-Type: multipart/related; boundary=\""
        + boundary
        + "\"; type=\"text/html\"\r\n"
          "\r\n"
          "This is a multi-part message in MIME format.\r\n");
    for (const Part &part : std::as_const(parts)) {
        file.write("\r\n--" + boundary + "\r\n");
        file.write(part.headers);
        file.write("\r\n");
        file.write(part.body);
    }
    file.write("\r\n--" + boundary + "--\r\n");
    if (!file.commit())
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("cannot write %1: %2").arg(mhtPath, file.errorString()));
}

} // namespace gm
