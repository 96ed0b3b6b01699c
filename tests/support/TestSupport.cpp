#include "support/TestSupport.h"

#include "operations/workbook/ConvertOperation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QFileInfo>

#include <zip.h>

#include <unistd.h>

namespace gm::test {

bool ScriptedUi::askYesNo(const QString &text)
{
    questions << text;
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.takeFirst();
}

bool ScriptedUi::askOkCancel(const QString &text)
{
    questions << text;
    return okCancelAnswers.isEmpty() ? false : okCancelAnswers.takeFirst();
}

void ScriptedUi::setStatus(const QString &text)
{
    statuses << text;
    if (onStatus)
        onStatus(text);
}

QString fixture(const QString &name)
{
    return QStringLiteral(GRIDMULE_TEST_DATA "/") + name;
}

QString corpusFile(const QString &relative)
{
    const QString path = QStringLiteral(GRIDMULE_CORPUS "/") + relative;
    return QFileInfo::exists(path) ? QFileInfo(path).absoluteFilePath() : QString();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(data);
}

QString copyInto(const QString &source, const QString &folder, const QString &name)
{
    QDir().mkpath(folder);
    const QString target = folder + QLatin1Char('/') + (name.isEmpty() ? QFileInfo(source).fileName() : name);
    QFile::remove(target);
    QFile::copy(source, target);
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return target;
}

QByteArray zipEntry(const QString &path, const QString &name)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    QByteArray data;
    zip_stat_t st;
    if (zip_stat(archive, name.toUtf8().constData(), 0, &st) == 0) {
        zip_file_t *file = zip_fopen(archive, name.toUtf8().constData(), 0);
        if (file) {
            data.resize(static_cast<qsizetype>(st.size));
            if (zip_fread(file, data.data(), st.size) != static_cast<zip_int64_t>(st.size))
                data.clear();
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return data;
}

void writeZip(const QString &path, const QList<std::pair<QString, QByteArray>> &entries)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return;
    for (const auto &[name, data] : entries) {
        // The archive reads the buffers when it is closed; they live until then.
        zip_source_t *source = zip_source_buffer(archive, data.constData(), static_cast<zip_uint64_t>(data.size()), 0);
        if (source && zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0)
            zip_source_free(source);
    }
    zip_close(archive);
}

QStringList zipEntryNames(const QString &path)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    QStringList names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i)
        names << QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    zip_discard(archive);
    return names;
}

int engineProcessesOfThisProcess()
{
    return static_cast<int>(engineProcessIdsOfThisProcess().size());
}

QList<int> engineProcessIdsOfThisProcess()
{
    QList<int> found;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (comm) state ppid ..."
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || !stat.contains("(soffice.bin)"))
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1 && QString::fromLatin1(fields[1]) == self)
            found << pid.toInt();
    }
    return found;
}

QStringList engineLeftoversOfThisProcess()
{
    return engineLeftoversOf(::getpid());
}

QStringList engineLeftoversOf(qint64 owner)
{
    const QString tag = QStringLiteral("gridmule-%1-").arg(owner);
    const QString folderTag = QStringLiteral("gridmule-engine-%1-").arg(owner);
    QStringList found;
    for (const QString &folder : {QStringLiteral("/tmp"), QDir::tempPath()}) {
        const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString &name : entries)
            if (name.startsWith(folderTag) || (name.startsWith(QStringLiteral("OSL_PIPE_")) && name.contains(tag)))
                found << folder + QLatin1Char('/') + name;
    }
    found.removeDuplicates();
    return found;
}

int convertTargetIndex(int code)
{
    const auto targets = convertTargets(true);
    for (int i = 0; i < targets.size(); ++i)
        if (targets[i].code == code)
            return i;
    return -1;
}

CliRun runCli(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(GRIDMULE_CLI), args);
    process.waitForFinished(120000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError())};
}

} // namespace gm::test
