#include "support/WorkbookReader.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>

namespace gm::test {

namespace {

const char *const kScript = R"PY(
import json, sys
try:
    import openpyxl
except ImportError:
    print(json.dumps({"available": False})); sys.exit(0)
try:
    wb = openpyxl.load_workbook(sys.argv[1])
except Exception as e:
    print(json.dumps({"available": True, "error": repr(e)})); sys.exit(0)
sheets = []
for ws in wb.worksheets + list(getattr(wb, "chartsheets", [])):
    entry = {"name": ws.title, "state": ws.sheet_state, "cells": {}, "merged": [], "widths": {},
             "images": len(getattr(ws, "_images", [])), "charts": len(getattr(ws, "_charts", []))}
    if hasattr(ws, "iter_rows"):
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                v = c.value
                entry["cells"][c.coordinate] = v if isinstance(v, str) else repr(v)
        entry["merged"] = sorted(str(r) for r in ws.merged_cells.ranges)
        for letter, dim in ws.column_dimensions.items():
            if dim.customWidth and dim.width is not None:
                entry["widths"][letter] = repr(float(dim.width))
    sheets.append(entry)
print(json.dumps({"available": True, "sheets": sheets}))
)PY";

QString python()
{
    // The system interpreter carries the distribution's openpyxl.
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
}

} // namespace

const ReaderSheet *ReaderResult::sheet(const QString &name) const
{
    for (const ReaderSheet &s : sheets) {
        if (s.name == name)
            return &s;
    }
    return nullptr;
}

ReaderResult readWithOpenpyxl(const QString &path)
{
    ReaderResult result;
    QProcess process;
    process.start(python(), {QStringLiteral("-c"), QString::fromUtf8(kScript), path});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return result;
    const QJsonObject root = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    result.available = root.value(QStringLiteral("available")).toBool();
    result.error = root.value(QStringLiteral("error")).toString();
    for (const QJsonValue &value : root.value(QStringLiteral("sheets")).toArray()) {
        const QJsonObject o = value.toObject();
        ReaderSheet sheet;
        sheet.name = o.value(QStringLiteral("name")).toString();
        sheet.state = o.value(QStringLiteral("state")).toString();
        sheet.cells = o.value(QStringLiteral("cells")).toObject();
        sheet.merged = o.value(QStringLiteral("merged")).toArray();
        sheet.widths = o.value(QStringLiteral("widths")).toObject();
        sheet.images = o.value(QStringLiteral("images")).toInt();
        sheet.charts = o.value(QStringLiteral("charts")).toInt();
        result.sheets.push_back(std::move(sheet));
    }
    return result;
}

} // namespace gm::test
