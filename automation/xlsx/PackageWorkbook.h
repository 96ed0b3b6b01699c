#pragma once

#include "automation/Engine.h"

#include <QString>

#include <memory>

namespace gm::xlsx {

class PackageDocument;

// A workbook changed in place as a zip package, without a spreadsheet engine: only the XML
// parts a change needs are rewritten, every other entry is copied through byte for byte.
// Offers sheets, page setup (headers and footers, print area, orientation) and the built-in
// document properties; saves atomically over the original.
class PackageWorkbook : public Workbook
{
public:
    // Opens and checks the package; throws EngineError (see PackageDocument).
    explicit PackageWorkbook(const QString &path);
    ~PackageWorkbook() override;

    // Whether the file is a SpreadsheetML package this class can edit: judged by content
    // (zip signature, [Content_Types].xml, an officeDocument relationship to an XML
    // workbook part: .xlsx, .xlsm, .xltx, .xltm alike), never by the file name. Cheap: reads
    // the zip directory and two small parts; a package damaged inside an entry still passes
    // and then fails to open with Damaged. Never throws.
    static bool isXlsxPackage(const QString &path);

    QString name() const override;
    QString fullName() const override;

    int worksheetCount() override;
    std::unique_ptr<Worksheet> worksheet(int position) override;
    std::unique_ptr<Worksheet> worksheet(const QString &name) override;
    int sheetCount() override;
    std::unique_ptr<Worksheet> sheet(int position) override;
    std::unique_ptr<Worksheet> sheet(const QString &name) override;
    std::unique_ptr<Worksheet> activeSheet() override;

    QString builtinProperty(DocumentProperty property) override;
    void setBuiltinProperty(DocumentProperty property, const QString &value) override;

    QString insertWorksheetCopy(Workbook &source, const QString &sheetName, const QString &sourcePath = {}) override;
    QStringList insertWorksheetCopies(Workbook &source, const QStringList &sheetNames, const QString &sourcePath,
        std::optional<EngineError> *refused) override;
    // Gives this workbook the theme of `source` (its colours and fonts), replacing its own.
    void adoptTheme(Workbook &source);

    void protect(const ProtectionPassword &password, bool structure, bool windows) override;
    // The package encrypted as a whole; <fileSharing> with the iterated password hash.
    void setPassword(const QString &password) override;
    void setWritePassword(const QString &password) override;
    bool multiUserEditing() override;
    // The user named in the change history is the account's name.
    void share() override;
    void exclusiveAccess() override;

    void save() override;
    // Only FileFormat::OpenXmlWorkbook; writes the package with its changes to path (a
    // macro-enabled package cannot be written in that format). Other formats throw
    // UnsupportedFormat.
    void saveAs(const QString &path, int fileFormat) override;
    void close(bool saveChanges) override;

private:
    std::shared_ptr<PackageDocument> m_document;
    QString m_path;
};

inline bool isXlsxPackage(const QString &path)
{
    return PackageWorkbook::isXlsxPackage(path);
}

// Opens a package for in-place editing; throws EngineError.
std::unique_ptr<Workbook> openPackage(const QString &path);

} // namespace gm::xlsx
