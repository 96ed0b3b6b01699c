// Bad-input benchmark: converts a list of files that are not sound workbooks (empty, cut
// short, BIFF4, HTML, text and zip packages under an .xls name, damaged packages) to CSV
// and to .xls, and prints the time per file and how many engines the run started.
// Usage: badfiles_bench

#include "automation/EngineSession.h"
#include "automation/UserInterface.h"
#include "operations/workbook/ConvertOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include "BenchWorkbooks.h"

using namespace gm;

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    QDir().mkpath(src);

    // One sound package to cut and damage.
    bench::writeXlsx(src + QStringLiteral("/sound.xlsx"), 200, 10);
    const QByteArray package = read(src + QStringLiteral("/sound.xlsx"));
    QFile::remove(src + QStringLiteral("/sound.xlsx"));
    QByteArray flipped = package;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x5A);
    const QByteArray oleHeader = QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(60, '\0');

    const QList<QPair<QString, QByteArray>> bad = {
        {QStringLiteral("zero.xls"), QByteArray()},
        {QStringLiteral("stub68.xls"), oleHeader},
        {QStringLiteral("biff4.xls"), QByteArray::fromHex("0904060000001000") + QByteArray(200, '\0')},
        {QStringLiteral("truncated.xls"), oleHeader + QByteArray(2000, '\x01')},
        {QStringLiteral("page.xls"), "<html><body><table><tr><td>1</td></tr></table></body></html>"},
        {QStringLiteral("text.xls"), "a\tb\n1\t2\n"},
        {QStringLiteral("package.xls"), package},
        {QStringLiteral("zero.xlsx"), QByteArray()},
        {QStringLiteral("cut.xlsx"), package.left(package.size() / 2)},
        {QStringLiteral("damaged.xlsx"), flipped},
    };
    QStringList entries;
    for (const auto &[name, bytes] : bad) {
        write(src + QLatin1Char('/') + name, bytes);
        entries << src + QLatin1Char('/') + name;
    }

    for (const auto &[label, index] : {std::pair{"csv", 1}, std::pair{"xls", 5}}) {
        int engines = 0;
        ApplicationFactory counting = [&] {
            ++engines;
            return EngineSession::defaultFactory()();
        };
        ConvertInputs inputs;
        inputs.entries = entries;
        inputs.targetIndex = index;
        inputs.outputFolder = dir.filePath(QStringLiteral("out-") + QLatin1String(label));
        bench::SilentUi ui(/*answerYes=*/true);
        QElapsedTimer timer;
        timer.start();
        const RunSummary summary = runConvert(inputs, ui, {}, counting);
        const double ms = timer.nsecsElapsed() / 1e6;
        out << "to " << label << ": " << summary.files.size() << " files, " << summary.failedCount() << " failed, " << engines
            << " engine(s) started, " << QString::number(ms, 'f', 1) << " ms in all, "
            << QString::number(ms / std::max<size_t>(1, summary.files.size()), 'f', 1) << " ms per file\n";
    }
    out.flush();
    return 0;
}
