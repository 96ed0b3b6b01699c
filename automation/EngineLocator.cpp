#include "automation/EngineLocator.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace gm {

QString libreOfficeProgramDir()
{
    const QByteArray overridden = qgetenv("GRIDMULE_LIBREOFFICE_DIR");
    if (!overridden.isEmpty())
        return QFile::decodeName(overridden);
    return QStringLiteral(GRIDMULE_LO_PROGRAM_DIR);
}

std::optional<EngineInfo> probeEngine()
{
    const QString dir = libreOfficeProgramDir();
    const QString binary = dir + QStringLiteral("/soffice.bin");
    if (!QFileInfo(binary).isExecutable())
        return std::nullopt;
    // soffice.bin answers --version without starting a server or touching a profile.
    QProcess process;
    process.setProgram(binary);
    process.setArguments({QStringLiteral("--version")});
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    const QString output = QString::fromUtf8(process.readAll());
    static const QRegularExpression pattern(QStringLiteral("^(\\S+)\\s+(\\d+(?:\\.\\d+)+)"), QRegularExpression::MultilineOption);
    const auto match = pattern.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    EngineInfo info;
    info.productName = match.captured(1);
    info.version = match.captured(2);
    // Every engine version that runs here reads and writes .xlsx and holds 1,048,576 rows.
    info.xlsxReadWrite = true;
    info.maxRows = 1048576;
    return info;
}

int excelMajorVersionFor(const EngineInfo &info)
{
    if (info.xlsxReadWrite && info.maxRows >= 1048576)
        return 12;
    return info.maxRows > 0 ? 11 : 0;
}

bool xlsxAvailableFor(const EngineInfo &info)
{
    return info.xlsxReadWrite && excelMajorVersionFor(info) >= 12;
}

} // namespace gm
