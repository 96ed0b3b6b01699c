// Page-setup benchmark on a large .xlsx: one worksheet of ROWS x 10 cells (default 200,000,
// about 15 MB), changed in place by the print-setup run (print area and landscape) and by the
// header/footer run (all six sections from a small template). Each run happens in a child
// process of its own, so that its peak resident memory (getrusage ru_maxrss) is its own;
// copying the file is timed for comparison.
// Usage: pagesetup_bench [ROWS]

#include "BenchWorkbooks.h"
#include "automation/BatchFrame.h"
#include "automation/UserInterface.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/PrintSetupOperation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>

using namespace gm;

namespace {

class SilentUi : public UserInterface
{
public:
    void inform(const QString &) override { }
    bool askYesNo(const QString &) override { return false; }
    bool askOkCancel(const QString &) override { return false; }
    void setStatus(const QString &) override { }
    void setBusy(bool) override { }
    void openInViewer(const QString &) override { }
};

const QByteArray excelMargins
    = "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>";

// Child: runs one operation on one file and prints "milliseconds peak-KiB outcome".
int measure(const QString &what, const QString &file, const QString &templatePath)
{
    SilentUi ui;
    RunSettings settings;
    QElapsedTimer timer;
    timer.start();
    RunSummary summary;
    if (what == QLatin1String("print-setup")) {
        PrintSetupInputs inputs;
        inputs.entries = {file};
        inputs.setArea = true;
        inputs.topLeft = QStringLiteral("A1");
        inputs.bottomRight = QStringLiteral("J200000");
        inputs.setOrientation = true;
        inputs.landscape = true;
        summary = runPrintSetup(inputs, ui, settings);
    } else {
        HeaderFooterInputs inputs;
        inputs.entries = {file};
        inputs.templatePath = templatePath;
        summary = runHeaderFooter(inputs, ui, settings);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const bool ok = summary.files.size() == 1 && summary.files.front().outcome == FileOutcome::Processed;
    QTextStream(stdout) << ms << ' ' << usage.ru_maxrss << ' ' << (ok ? "ok" : "FAILED") << '\n';
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--child"))
        return measure(args[2], args[3], args[4]);

    const int rows = args.size() > 1 ? std::max(1, args[1].toInt()) : 200000;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("large.xlsx"));
    const QString templatePath = dir.filePath(QStringLiteral("template.xlsx"));
    bench::writeXlsx(source, rows, 10, excelMargins);
    bench::writeXlsx(templatePath, 2, 2,
        excelMargins + "<headerFooter><oddHeader>&amp;L&amp;F&amp;C标题&amp;R&amp;D</oddHeader>"
                       "<oddFooter>&amp;L左&amp;CPage &amp;P of &amp;N&amp;R右</oddFooter></headerFooter>");
    out << rows << " x 10 cells, " << QFileInfo(source).size() / 1024 << " KiB\n";

    QElapsedTimer timer;
    timer.start();
    const QString copy = dir.filePath(QStringLiteral("copy.xlsx"));
    QFile::copy(source, copy);
    out << QStringLiteral("%1%2\n").arg(QStringLiteral("copy the file"), -16).arg(timer.nsecsElapsed() / 1e6, 10, 'f', 1);

    out << QStringLiteral("%1%2%3\n").arg(QStringLiteral("run"), -16).arg(QStringLiteral("ms"), 10).arg(QStringLiteral("peak MiB"), 10);
    for (const QString &what : {QStringLiteral("print-setup"), QStringLiteral("header-footer")}) {
        const QString target = dir.filePath(what + QStringLiteral(".xlsx"));
        QFile::remove(target);
        QFile::copy(source, target);
        QProcess child;
        child.start(app.applicationFilePath(), {QStringLiteral("--child"), what, target, templatePath});
        child.waitForFinished(-1);
        const QStringList figures = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (figures.size() != 3) {
            out << what << ": child failed\n";
            continue;
        }
        out << QStringLiteral("%1%2%3  %4").arg(what, -16)
                   .arg(figures[0].toDouble(), 10, 'f', 1)
                   .arg(figures[1].toDouble() / 1024, 10, 'f', 1)
                   .arg(figures[2]);
        out.flush();
    }
    return 0;
}
