#pragma once

// The options every command takes for its list of files and its report: --files-from (a file
// or standard input, one path a line or NUL-separated with -0), --shard K/N (this process's
// share of the list) and --output text|jsonl (one line or one JSON object per file).

#include <QCommandLineOption>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace gm::cli {

// Share K of N, K counted from 1.
struct Shard
{
    int index = 1;
    int count = 1;
};

// "K/N" with 1 <= K <= N; nothing for any other text.
std::optional<Shard> parseShard(const QString &text);

// The share an entry belongs to, from 1 to count. It depends on the entry's text alone (a
// fixed 64-bit FNV-1a hash of its UTF-8 form), so every machine and every run puts a path in
// the same share whatever order the list comes in.
int shardOf(const QString &entry, int count);

// The entries of `entries` that fall into `shard`, in their order.
QStringList shardEntries(const QStringList &entries, const Shard &shard);

// Reads a list of paths: one a line (a CR before the LF is dropped) or, with nulSeparated,
// separated by NUL bytes; empty entries are left out. "-" reads standard input. On failure
// returns nothing and sets `message`.
std::optional<QStringList> readFileList(const QString &source, bool nulSeparated, QString *message);

enum class OutputFormat { Text, JsonLines };

// One file's line of the report, as the command line prints it.
struct ReportLine
{
    QString path;
    QString result; // converted, changed, copied, skipped, failed, cancelled, ...
    int errorNumber = 0;
    QString description;
    qint64 milliseconds = 0;
    QStringList textExtra; // further tab-separated fields of the text form
    QJsonObject jsonExtra; // further members of the JSON form
};

QString formatReportLine(const ReportLine &line, OutputFormat format);

// The options themselves and what they give, shared by every command.
struct ListOptions
{
    QCommandLineOption filesFrom{QStringLiteral("files-from"), QString(), QStringLiteral("file")};
    QCommandLineOption nulSeparated{{QStringLiteral("0"), QStringLiteral("null")}};
    QCommandLineOption shard{QStringLiteral("shard"), QString(), QStringLiteral("k/n")};
    QCommandLineOption output{QStringLiteral("output"), QString(), QStringLiteral("format")};

    void addTo(QCommandLineParser &parser) const;

    // Reads the list (arguments first, then --files-from), keeps this shard's share and
    // makes the paths absolute. On bad options or an unreadable list returns nothing and
    // sets `message`. `shardEmpty` tells that the list had entries but none for this shard.
    std::optional<QStringList> entries(const QCommandLineParser &parser, QString *message, bool *shardEmpty) const;
    std::optional<OutputFormat> format(const QCommandLineParser &parser) const;
};

} // namespace gm::cli
