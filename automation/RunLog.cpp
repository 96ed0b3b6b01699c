#include "automation/RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace gm {

bool WriteError(const QString &logFile, const QString &action, const QString &file, const QString &error, bool createFolder)
{
    // Local date and time in the user's general format: short date, a blank, long time.
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    const QString stamp
        = locale.toString(now.date(), QLocale::ShortFormat) + u' ' + locale.toString(now.time(), QLocale::LongFormat);

    const QString line = stamp + u'\t' + action + u'\t' + QStringLiteral("处理") + file + QStringLiteral("处错：") + u'\t' + error
        + QStringLiteral("\r\n");
    const QByteArray bytes = line.toUtf8();

    if (logFile.isEmpty())
        return false;
    if (createFolder) {
        // The log names the user's files: a folder made for it is the user's alone.
        const QString folder = QFileInfo(logFile).absolutePath();
        if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Opened for this one line and closed again, so that the file is never held between
    // failures and other programs may read it during a run.
    QFile log(logFile);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const bool written = log.write(bytes) == bytes.size();
    const bool flushed = log.flush();
    log.close();
    return written && flushed;
}

QString logUnwritableNotice(const QString &logFile)
{
    return QStringLiteral("无法写入日志文件“") + logFile + QStringLiteral("”，本次处理中的异常未能记录。");
}

} // namespace gm
