#pragma once

// An independent reader of .xlsx results: openpyxl, run from a small Python script, reports
// every sheet's name, cell values and formulas, merged ranges and column widths, so that a
// test does not check the package editor's output with the package editor itself.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace gm::test {

struct ReaderSheet
{
    QString name;
    QString state; // visible, hidden, veryHidden
    QJsonObject cells; // address -> value as text (a formula as "=...")
    QJsonArray merged; // "A1:B2", sorted
    QJsonObject widths; // column letter -> width as text
    int images = 0;
    int charts = 0;
};

struct ReaderResult
{
    bool available = false; // false: no Python with openpyxl; the test skips
    QString error; // openpyxl could not read the file
    std::vector<ReaderSheet> sheets; // worksheets and chart sheets, in tab order
    const ReaderSheet *sheet(const QString &name) const;
};

ReaderResult readWithOpenpyxl(const QString &path);

} // namespace gm::test
