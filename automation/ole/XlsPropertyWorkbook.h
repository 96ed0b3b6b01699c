#pragma once

#include "automation/Engine.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace gm::ole {

class PropertySetStream;

// The built-in document properties of a .xls workbook, read and written in the compound
// file's own property-set streams without a spreadsheet engine. Title, Subject, Author,
// Keywords and Comments live in \005SummaryInformation; Category, Manager and Company in
// \005DocumentSummaryInformation; Hyperlink base is the named property _PID_LINKBASE of its
// User Defined section. Values are set as given and staged until save(), which writes a new
// compound file beside the workbook in which every other stream and storage is copied byte
// for byte, checks it, and only then puts it in place. Streams and sections that are missing
// are created. The Workbook stream is never read, so an encrypted workbook works too.
//
// Sheets and SaveAs are not offered (EngineError NotSupported).
class XlsPropertyWorkbook : public Workbook
{
public:
    // Reads the file and its property streams. Throws EngineError: FileNotFound,
    // PermissionDenied, EmptyFile, NotAWorkbook (no compound file), Damaged (a compound file that
    // cannot be read).
    explicit XlsPropertyWorkbook(const QString &path);
    ~XlsPropertyWorkbook() override;

    QString name() const override;
    QString fullName() const override;

    int worksheetCount() override;
    std::unique_ptr<Worksheet> worksheet(int position) override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;
    int sheetCount() override;
    std::unique_ptr<Worksheet> sheet(int position) override;
    std::unique_ptr<Worksheet> sheet(const QString &name) override;
    std::unique_ptr<Worksheet> activeSheet() override;

    // The value as stored, or as set since the last save; "" when the workbook has none.
    // Throws EngineError(Damaged) when the stream holding it is no property set.
    QString builtinProperty(DocumentProperty property) override;
    // Stages a value for save(). Throws EngineError: Damaged (the stream holding it is no
    // property set), NotSupported (the value needs a code page change that a property of the
    // section does not allow); the other values are not affected.
    void setBuiltinProperty(DocumentProperty property, const QString &value) override;

    // Writes the values set since the last save; nothing is written when none was set or
    // they change no byte. Throws EngineError: FileNotFound, ReadOnlyFile, InUse (the file
    // changed on disk since it was read), Damaged, WriteFailed (the original is then intact).
    void save() override;
    void saveAs(const QString &path, int fileFormat) override;
    void close(bool saveChanges) override;

private:
    struct StreamState;

    void ensureOpen() const;
    void load(const QByteArray &bytes);
    StreamState &streamOf(DocumentProperty property);

    QString m_path;
    QByteArray m_bytes; // the file as read
    std::unique_ptr<StreamState> m_summary;
    std::unique_ptr<StreamState> m_documentSummary;
    bool m_staged = false;
    bool m_open = true;
};

// Opens a .xls workbook for its document properties; throws EngineError.
std::unique_ptr<Workbook> openXlsProperties(const QString &path);

} // namespace gm::ole
