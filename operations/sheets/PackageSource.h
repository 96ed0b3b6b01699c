#pragma once

#include "automation/Engine.h"
#include "automation/EngineSession.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace gm {

// A workbook whose worksheets are copied into .xlsx packages: an .xlsx as it is, read by the
// package editor; a workbook of another format (.xls) first written by the spreadsheet engine
// to a temporary .xlsx, so that the targets are still edited by the package editor. The
// source file itself is only read. The temporary copy lives as long as this object.
class PackageSource
{
public:
    // A source written to a temporary .xlsx, which lives as long as its folder.
    struct Converted
    {
        std::unique_ptr<QTemporaryDir> folder;
        QString package;
    };

    // Throws EngineError: what opening the source or converting it gave.
    PackageSource(EngineSession &engines, const QString &path);
    // A source converted beforehand (possibly by another engine), taking over its package.
    PackageSource(EngineSession &engines, const QString &path, Converted converted);
    // Whether the source is converted before its worksheets can be copied.
    static bool needsConversion(const QString &path);
    // Writes the source to a temporary .xlsx with `engines`. Throws EngineError.
    static Converted convert(EngineSession &engines, const QString &path);
    ~PackageSource();
    PackageSource(const PackageSource &) = delete;
    PackageSource &operator=(const PackageSource &) = delete;

    Workbook &workbook() { return *m_workbook; }
    // The source as the spreadsheet engine of `engines` loads it, for one target that engine
    // edits; opened read-only, to be closed once the copy is made. Each target gets a load of
    // its own: the engine's sheet import leaves state of the target in the source document
    // (its drawing objects, notes, fields), which a later import into the next target reads
    // after that target was closed, taking the engine down.
    std::unique_ptr<Workbook> openInEngine(EngineSession &engines) const;
    // The source's file name (not the temporary copy's).
    QString name() const { return m_name; }
    bool converted() const { return m_converted; }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<Workbook> m_workbook;
    QString m_path;
    QString m_name;
    bool m_converted = false;
};

// The worksheet names of a workbook in tab order (chart sheets left out), read without the
// spreadsheet engine where an editor can read the file. Throws EngineError.
QStringList worksheetNamesOf(const QString &path);

} // namespace gm
