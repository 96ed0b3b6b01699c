#include "doclist/RecentDocuments.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace gm {

namespace {

const QString kBookmarkNs = QStringLiteral("http://www.freedesktop.org/standards/desktop-bookmarks");
const QString kMimeNs = QStringLiteral("http://www.freedesktop.org/standards/shared-mime-info");
const QString kAppName = QStringLiteral("Gridmule");

QString timestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString mimeTypeOf(const QString &path)
{
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        return QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
    if (path.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive))
        return QStringLiteral("application/vnd.ms-excel");
    return QStringLiteral("application/octet-stream");
}

QString hrefOf(const QString &path)
{
    return QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
}

QString execLine()
{
    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                          : QStringLiteral("gridmule");
    return u'\'' + program + QStringLiteral(" %u'");
}

void writeApplication(QXmlStreamWriter &out, const QString &now, int count)
{
    out.writeEmptyElement(kBookmarkNs, QStringLiteral("application"));
    out.writeAttribute(QStringLiteral("name"), kAppName);
    out.writeAttribute(QStringLiteral("exec"), execLine());
    out.writeAttribute(QStringLiteral("modified"), now);
    out.writeAttribute(QStringLiteral("count"), QString::number(count));
}

void writeBookmark(QXmlStreamWriter &out, const QString &href, const QString &path, const QString &now)
{
    out.writeStartElement(QStringLiteral("bookmark"));
    out.writeAttribute(QStringLiteral("href"), href);
    out.writeAttribute(QStringLiteral("added"), now);
    out.writeAttribute(QStringLiteral("modified"), now);
    out.writeAttribute(QStringLiteral("visited"), now);
    out.writeStartElement(QStringLiteral("info"));
    out.writeStartElement(QStringLiteral("metadata"));
    out.writeAttribute(QStringLiteral("owner"), QStringLiteral("http://freedesktop.org"));
    out.writeEmptyElement(kMimeNs, QStringLiteral("mime-type"));
    out.writeAttribute(QStringLiteral("type"), mimeTypeOf(path));
    out.writeStartElement(kBookmarkNs, QStringLiteral("applications"));
    writeApplication(out, now, 1);
    out.writeEndElement(); // applications
    out.writeEndElement(); // metadata
    out.writeEndElement(); // info
    out.writeEndElement(); // bookmark
}

void startDocument(QXmlStreamWriter &out)
{
    out.setAutoFormatting(true);
    out.writeStartDocument();
    out.writeStartElement(QStringLiteral("xbel"));
    out.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    out.writeNamespace(kBookmarkNs, QStringLiteral("bookmark"));
    out.writeNamespace(kMimeNs, QStringLiteral("mime"));
}

bool save(const QString &file, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(content);
    return out.commit();
}

// Copies the existing list, refreshing the bookmarks of files that are added again, and
// appends new bookmarks for the others. Returns false when the existing file is unreadable
// as a bookmark list; it is then replaced by a new one.
bool merge(const QByteArray &existing, const QStringList &hrefs, const QHash<QString, QString> &pathOf,
           const QString &now, QXmlStreamWriter &out)
{
    QXmlStreamReader in(existing);
    QSet<QString> pending(hrefs.cbegin(), hrefs.cend());
    bool inRefreshed = false;   // inside a bookmark that is added again
    bool sawOurApp = false;
    bool sawRoot = false;
    int depth = 0;

    while (!in.atEnd()) {
        in.readNext();
        switch (in.tokenType()) {
        case QXmlStreamReader::Invalid:
            return false;
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::EndDocument:
        case QXmlStreamReader::DTD:
            break;
        case QXmlStreamReader::StartElement: {
            ++depth;
            if (depth == 1) {
                if (in.name() != QStringLiteral("xbel"))
                    return false;
                sawRoot = true;
                out.writeStartElement(QStringLiteral("xbel"));
                for (const auto &declaration : in.namespaceDeclarations())
                    out.writeNamespace(declaration.namespaceUri().toString(), declaration.prefix().toString());
                out.writeAttributes(in.attributes());
                break;
            }
            if (depth == 2 && in.name() == QStringLiteral("bookmark")) {
                const QString href = in.attributes().value(QStringLiteral("href")).toString();
                inRefreshed = pending.remove(href);
                sawOurApp = false;
                if (inRefreshed) {
                    out.writeStartElement(QStringLiteral("bookmark"));
                    for (const auto &attribute : in.attributes()) {
                        const QString name = attribute.qualifiedName().toString();
                        const bool refreshed = name == QStringLiteral("modified") || name == QStringLiteral("visited");
                        out.writeAttribute(name, refreshed ? now : attribute.value().toString());
                    }
                    break;
                }
            }
            if (inRefreshed && in.namespaceUri() == kBookmarkNs && in.name() == QStringLiteral("application")
                && in.attributes().value(QStringLiteral("name")) == kAppName) {
                sawOurApp = true;
                const int count = in.attributes().value(QStringLiteral("count")).toInt() + 1;
                writeApplication(out, now, count);
                in.skipCurrentElement();
                --depth;
                break;
            }
            out.writeCurrentToken(in);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (inRefreshed && in.namespaceUri() == kBookmarkNs && in.name() == QStringLiteral("applications")
                && !sawOurApp) {
                writeApplication(out, now, 1);
            }
            if (depth == 2 && in.name() == QStringLiteral("bookmark"))
                inRefreshed = false;
            if (depth == 1) {
                for (const QString &href : hrefs) {
                    if (pending.contains(href)) {
                        writeBookmark(out, href, pathOf.value(href), now);
                        pending.remove(href);
                    }
                }
            }
            --depth;
            out.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            if (!in.isWhitespace())
                out.writeCurrentToken(in);
            break;
        default:
            out.writeCurrentToken(in);
            break;
        }
    }
    return sawRoot && !in.hasError();
}

} // namespace

RecentDocuments::RecentDocuments(QString xbelFile)
    : m_file(std::move(xbelFile))
{
}

QString RecentDocuments::defaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/recently-used.xbel");
}

bool RecentDocuments::add(const QStringList &paths) const
{
    QStringList hrefs;
    QHash<QString, QString> pathOf;
    for (const QString &path : paths) {
        if (path.trimmed().isEmpty())
            continue;
        const QString href = hrefOf(path);
        if (!pathOf.contains(href))
            hrefs.append(href);
        pathOf.insert(href, path);
    }
    const QString now = timestamp();

    QByteArray existing;
    QFile in(m_file);
    if (in.open(QIODevice::ReadOnly))
        existing = in.readAll();

    QByteArray content;
    bool merged = false;
    if (!existing.trimmed().isEmpty()) {
        QXmlStreamWriter out(&content);
        out.setAutoFormatting(true);
        out.writeStartDocument();
        merged = merge(existing, hrefs, pathOf, now, out);
        out.writeEndDocument();
    }
    if (!merged) {
        content.clear();
        QXmlStreamWriter out(&content);
        startDocument(out);
        for (const QString &href : std::as_const(hrefs))
            writeBookmark(out, href, pathOf.value(href), now);
        out.writeEndDocument();
    }
    return save(m_file, content);
}

bool RecentDocuments::clear() const
{
    QByteArray content;
    QXmlStreamWriter out(&content);
    startDocument(out);
    out.writeEndDocument();
    return save(m_file, content);
}

QStringList RecentDocuments::files() const
{
    QStringList result;
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QXmlStreamReader in(&file);
    while (in.readNextStartElement()) {
        if (in.name() != QStringLiteral("xbel"))
            return result;
        while (in.readNextStartElement()) {
            if (in.name() == QStringLiteral("bookmark"))
                result.append(QUrl(in.attributes().value(QStringLiteral("href")).toString()).toLocalFile());
            in.skipCurrentElement();
        }
    }
    return result;
}

} // namespace gm
