#include "cli/FileList.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

namespace gm::cli {

std::optional<Shard> parseShard(const QString &text)
{
    const QStringList parts = text.split(u'/');
    if (parts.size() != 2)
        return std::nullopt;
    bool indexOk = false;
    bool countOk = false;
    const int index = parts.at(0).toInt(&indexOk);
    const int count = parts.at(1).toInt(&countOk);
    if (!indexOk || !countOk || count < 1 || index < 1 || index > count)
        return std::nullopt;
    return Shard{index, count};
}

int shardOf(const QString &entry, int count)
{
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : entry.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return static_cast<int>(hash % static_cast<quint64>(count)) + 1;
}

QStringList shardEntries(const QStringList &entries, const Shard &shard)
{
    if (shard.count == 1)
        return entries;
    QStringList result;
    for (const QString &entry : entries) {
        if (shardOf(entry, shard.count) == shard.index)
            result << entry;
    }
    return result;
}

std::optional<QStringList> readFileList(const QString &source, bool nulSeparated, QString *message)
{
    QFile file;
    bool opened = false;
    if (source == QStringLiteral("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(source);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *message = QStringLiteral("Cannot read the file list %1: %2").arg(source, file.errorString());
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *message = QStringLiteral("Cannot read the file list %1: %2").arg(source, file.errorString());
        return std::nullopt;
    }
    QStringList result;
    const char separator = nulSeparated ? '\0' : '\n';
    for (QByteArray item : data.split(separator)) {
        if (!nulSeparated && item.endsWith('\r'))
            item.chop(1);
        if (!item.isEmpty())
            result << QFile::decodeName(item);
    }
    return result;
}

QString formatReportLine(const ReportLine &line, OutputFormat format)
{
    if (format == OutputFormat::Text) {
        QStringList fields{line.path, line.result};
        if (line.textExtra.isEmpty() || !line.description.isEmpty())
            fields << line.description;
        fields << line.textExtra;
        return fields.join(u'\t');
    }
    QJsonObject object{{QStringLiteral("path"), line.path}, {QStringLiteral("result"), line.result},
        {QStringLiteral("error"), line.errorNumber}, {QStringLiteral("description"), line.description},
        {QStringLiteral("milliseconds"), line.milliseconds}};
    for (auto it = line.jsonExtra.begin(); it != line.jsonExtra.end(); ++it)
        object.insert(it.key(), it.value());
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void ListOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({filesFrom, nulSeparated, shard, output});
}

std::optional<OutputFormat> ListOptions::format(const QCommandLineParser &parser) const
{
    const QString value = parser.value(output);
    if (!parser.isSet(output) || value == QStringLiteral("text"))
        return OutputFormat::Text;
    if (value == QStringLiteral("jsonl"))
        return OutputFormat::JsonLines;
    return std::nullopt;
}

std::optional<QStringList> ListOptions::entries(const QCommandLineParser &parser, QString *message, bool *shardEmpty) const
{
    *shardEmpty = false;
    if (!format(parser)) {
        *message = QStringLiteral("--output takes text or jsonl.");
        return std::nullopt;
    }
    if (parser.isSet(nulSeparated) && !parser.isSet(filesFrom)) {
        *message = QStringLiteral("-0 belongs to --files-from.");
        return std::nullopt;
    }
    if (parser.values(filesFrom).size() > 1) {
        *message = QStringLiteral("Give --files-from once.");
        return std::nullopt;
    }
    std::optional<Shard> share = Shard{};
    if (parser.isSet(shard)) {
        share = parseShard(parser.value(shard));
        if (!share) {
            *message = QStringLiteral("--shard takes K/N with 1 <= K <= N, e.g. 2/8.");
            return std::nullopt;
        }
    }
    QStringList all = parser.positionalArguments();
    if (parser.isSet(filesFrom)) {
        const std::optional<QStringList> listed = readFileList(parser.value(filesFrom), parser.isSet(nulSeparated), message);
        if (!listed)
            return std::nullopt;
        all << *listed;
    }
    const QStringList mine = shardEntries(all, *share);
    *shardEmpty = mine.isEmpty() && !all.isEmpty();
    QStringList result;
    for (const QString &entry : mine)
        result << (entry.trimmed().isEmpty() ? entry : QFileInfo(entry).absoluteFilePath());
    return result;
}

} // namespace gm::cli
