#include "automation/PrintQueue.h"

#include "automation/EngineError.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace gm {

namespace {

constexpr int kQueryTimeoutMs = 30000;
constexpr int kSubmitTimeoutMs = 300000; // a large PDF is copied to the spooler while lp runs

struct ClientRun
{
    bool started = false;
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs one client of the print service with untranslated messages, so that its output can
// be read; the service's address (CUPS_SERVER) and the user's choices come from the
// environment as for any of its clients.
ClientRun runClient(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANGUAGE"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments, QIODevice::ReadOnly);
    ClientRun run;
    run.started = process.waitForStarted(kQueryTimeoutMs);
    if (!run.started)
        return run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return run;
}

} // namespace

QStringList systemPrinters()
{
    const ClientRun run = runClient(QStringLiteral("lpstat"), {QStringLiteral("-e")}, kQueryTimeoutMs);
    if (!run.finished || run.exitCode != 0)
        return {};
    QStringList printers;
    for (const QString &line : run.out.split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty())
            printers << name;
    }
    return printers;
}

QString defaultPrinter()
{
    const ClientRun run = runClient(QStringLiteral("lpstat"), {QStringLiteral("-d")}, kQueryTimeoutMs);
    if (!run.finished || run.exitCode != 0)
        return {};
    static const QRegularExpression line(
        QStringLiteral("^system default destination: (\\S+)\\s*$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(run.out);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString resolvePrinter(const QString &named)
{
    if (named.isEmpty())
        return defaultPrinter();
    // A user's instance ("Office/duplex") is a destination of the printer before the slash.
    const QStringList printers = systemPrinters();
    const QString printer = named.section(QLatin1Char('/'), 0, 0);
    for (const QString &known : printers)
        if (known.compare(printer, Qt::CaseInsensitive) == 0)
            return named;
    return {};
}

QString submitPrintJob(const QString &pdf, int copies, const QString &printer, const QString &title)
{
    QStringList arguments;
    if (!printer.isEmpty())
        arguments << QStringLiteral("-d") << printer;
    arguments << QStringLiteral("-n") << QString::number(copies) << QStringLiteral("-o") << QStringLiteral("collate=true")
              << QStringLiteral("-t") << title << pdf;
    const ClientRun run = runClient(QStringLiteral("lp"), arguments, kSubmitTimeoutMs);
    if (!run.started)
        throw EngineError(ErrorCode::PrintJobFailed, QStringLiteral("the print service's lp command is not installed"));
    if (!run.finished)
        throw EngineError(ErrorCode::PrintJobFailed, QStringLiteral("lp did not finish"));
    static const QRegularExpression requestId(QStringLiteral("request id is (\\S+)"));
    const QRegularExpressionMatch match = requestId.match(run.out);
    if (run.exitCode == 0 && match.hasMatch())
        return match.captured(1);
    const QString detail = run.err.isEmpty() ? run.out.trimmed() : run.err;
    static const QRegularExpression unavailable(QStringLiteral("does not exist|not accepting|no default destination|not found"),
        QRegularExpression::CaseInsensitiveOption);
    throw EngineError(unavailable.match(detail).hasMatch() ? ErrorCode::PrinterUnavailable : ErrorCode::PrintJobFailed, detail);
}

} // namespace gm
