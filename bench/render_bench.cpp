// Displayed-text benchmark: renders generated cell values through parsed number formats (each
// looked up in the format cache per cell, as an export does) and prints cells per second of
// process CPU time (the machine may be shared) for each format and for a mixed sheet.
// Usage: render_bench [N]   (cells per format, default 1,000,000)

#include "automation/cells/NumberFormat.h"

#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

using namespace gm;

namespace {

std::vector<CellValue> makeValues(int n, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> amount(-1e6, 1e6);
    std::uniform_int_distribution<int> kind(0, 9);
    std::vector<CellValue> values;
    values.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        switch (kind(random)) {
        case 0:
            values.push_back(CellValue::ofText(QStringLiteral("item %1").arg(i % 1000)));
            break;
        case 1:
            values.push_back(CellValue::ofNumber(static_cast<double>(i % 100000)));
            break;
        case 2:
            values.push_back(CellValue::ofNumber(40000 + amount(random) / 1e3));
            break;
        default:
            values.push_back(CellValue::ofNumber(amount(random)));
            break;
        }
    }
    return values;
}

// Process CPU seconds since the given start.
double cpuSince(std::clock_t start)
{
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char *argv[])
{
    const int n = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
    QTextStream out(stdout);
    const std::vector<CellValue> values = makeValues(n, 42);
    const QString codes[]
        = {QStringLiteral("General"), QStringLiteral("0.00"), QStringLiteral("#,##0.00"), QStringLiteral("0.00%"),
            QStringLiteral("m/d/yyyy"), QStringLiteral("m/d/yyyy h:mm"), QStringLiteral("[h]:mm:ss"), QStringLiteral("0.00E+00"),
            QStringLiteral("# ?/?"), QStringLiteral("_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)")};
    NumberFormatCache cache;
    out << "cells per format: " << n << Qt::endl;
    size_t checksum = 0;
    for (const QString &code : codes) {
        const std::clock_t start = std::clock();
        for (const CellValue &v : values)
            checksum += static_cast<size_t>(cache.format(code).format(v, DateSystem::Date1900).size());
        const double seconds = cpuSince(start);
        out << qSetFieldWidth(60) << Qt::left << code << qSetFieldWidth(0) << QString::number(n / seconds / 1e6, 'f', 2)
            << " M cells/s" << Qt::endl;
    }
    // A mixed sheet: each cell with one of the formats above, found by built-in id.
    const int ids[] = {0, 2, 4, 10, 14, 22, 46, 11, 12, 44};
    std::clock_t start = std::clock();
    for (size_t i = 0; i < values.size(); ++i)
        checksum += static_cast<size_t>(cache.builtIn(ids[i % 10]).format(values[i], DateSystem::Date1900).size());
    const double seconds = cpuSince(start);
    out << qSetFieldWidth(60) << Qt::left << "mixed built-in ids" << qSetFieldWidth(0)
        << QString::number(n / seconds / 1e6, 'f', 2) << " M cells/s" << Qt::endl;
    // Parsing each code afresh, for comparison with the cached lookups above.
    start = std::clock();
    const int parses = std::max(1, n / 10);
    for (int i = 0; i < parses; ++i)
        checksum += NumberFormat(codes[static_cast<size_t>(i) % 10]).isDateTime() ? 1 : 0;
    out << "parse without cache: " << QString::number(parses / cpuSince(start) / 1e6, 'f', 2) << " M codes/s   (checksum "
        << checksum << ")" << Qt::endl;
    return 0;
}
