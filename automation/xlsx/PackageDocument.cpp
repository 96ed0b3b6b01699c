#include "automation/xlsx/PackageDocument.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/crypto/AgileEncryption.h"
#include "automation/crypto/PasswordHashes.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlTree.h"
#include "automation/xlsx/SheetDataText.h"
#include "automation/xlsx/SheetPageSetup.h"
#include "automation/xlsx/XmlScanner.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace gm::xlsx {

namespace {

const QByteArray zipMagic("PK\x03\x04", 4);
const QByteArray compoundFileMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

// An .xlsx with an open password is a compound file holding an "EncryptedPackage" stream.
bool isEncryptedPackage(const QByteArray &bytes)
{
    static const QByteArray streamName = QByteArray::fromRawData(
        reinterpret_cast<const char *>(u"EncryptedPackage"), 16 * 2);
    return bytes.startsWith(compoundFileMagic) && bytes.contains(streamName);
}

bool isXmlPartName(const QString &name)
{
    return name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive);
}

// DEVMODEW fields that repeat the orientation.
constexpr qsizetype devmodeSizeOffset = 68;
constexpr qsizetype devmodeFieldsOffset = 72;
constexpr qsizetype devmodeOrientationOffset = 76;
constexpr quint32 devmodeOrientationField = 0x1;

} // namespace

PackageDocument::PackageDocument(const QString &path)
    : m_path(QFileInfo(path).absoluteFilePath())
{
    const QFileInfo info(m_path);
    if (!info.exists())
        throw EngineError(ErrorCode::FileNotFound, m_path);
    if (info.isDir())
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 is a folder").arg(m_path));

    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EngineError(file.error() == QFileDevice::PermissionsError ? ErrorCode::PermissionDenied
                                                                         : ErrorCode::FileNotFound,
                          file.errorString());
    }
    m_stamp = FileStamp::of(m_path);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EngineError(ErrorCode::Damaged, file.errorString());
    file.close();

    if (bytes.isEmpty())
        throw EngineError(ErrorCode::EmptyFile, m_path);
    if (isEncryptedPackage(bytes))
        throw EngineError(ErrorCode::PasswordRequired, m_path);
    if (!bytes.startsWith(zipMagic))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 is not a zip package").arg(m_path));

    m_package = std::make_unique<OpcPackage>(ZipArchive::fromBytes(bytes));
    m_package->verifyEntries();
    m_model = std::make_unique<WorkbookModel>(*m_package);
}

void PackageDocument::ensureOpen() const
{
    if (!m_package)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1 is closed").arg(m_path));
}

void PackageDocument::close()
{
    m_sheetData.clear();
    m_sharedStrings.reset();
    m_formulaRewrites.clear();
    m_model.reset();
    m_package.reset();
}

OpcPackage &PackageDocument::package()
{
    ensureOpen();
    return *m_package;
}

const WorkbookModel &PackageDocument::model()
{
    ensureOpen();
    return *m_model;
}

WorkbookModel &PackageDocument::editableModel()
{
    ensureOpen();
    return *m_model;
}

SplicedXmlPart &PackageDocument::sheetPart(const SheetEntry &sheet)
{
    return package().sheet(sheet.partName);
}

std::shared_ptr<const SheetCells> PackageDocument::sheetCells(const QString &partName)
{
    OpcPackage &parts = package();
    if (parts.editedAsTree(partName))
        return readSheetCells(sheetDataText(parts, partName), partName);
    const SplicedXmlPart &part = parts.sheet(partName);
    SheetDataCopy &copy = m_sheetData[partName.toCaseFolded()];
    // A changed part may have a rewrite of its cell data: it is read as it will be written.
    if (copy.part == &part && !part.isDirty())
        return copy.cells;
    std::shared_ptr<const SheetCells> cells = readSheetCells(sheetDataText(parts, partName), partName);
    copy = {part.isDirty() ? nullptr : &part, cells};
    return cells;
}

SharedStringTable *PackageDocument::sharedStrings()
{
    OpcPackage &parts = package();
    if (!m_sharedStrings) {
        static const QString type
            = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
        m_sharedStrings.emplace();
        if (const QString part = parts.relatedPart(m_model->partName(), type); !part.isEmpty()) {
            const QString name = parts.canonicalName(part);
            *m_sharedStrings = std::make_unique<SharedStringTable>(name, parts.partBytes(name));
        }
    }
    SharedStringTable *table = m_sharedStrings->get();
    if (table && parts.editedAsTree(table->partName()))
        return nullptr;
    return table;
}

void PackageDocument::storeSharedStrings()
{
    SharedStringTable *table = sharedStrings();
    if (table && table->isChanged())
        package().setBinary(table->partName(), table->bytes());
}

void PackageDocument::setOrientation(const SheetEntry &sheet, Orientation orientation)
{
    SheetPageSetup(sheetPart(sheet)).setOrientation(orientation);
    syncPrinterSettings(sheet, orientation);
}

void PackageDocument::syncPrinterSettings(const SheetEntry &sheet, Orientation orientation)
{
    const QString id = SheetPageSetup(sheetPart(sheet)).printerSettingsId();
    if (id.isEmpty())
        return;
    QString settingsPart;
    for (const Relationship &relationship : m_package->relationships(sheet.partName)) {
        if (relationship.id == id && rel::isType(relationship.type, rel::printerSettings))
            settingsPart = relationship.partName;
    }
    if (settingsPart.isEmpty() || !m_package->hasPart(settingsPart))
        return;
    // Settings shared with another sheet are left alone: changing them would change that sheet.
    for (const SheetEntry &other : m_model->sheets()) {
        if (other.position == sheet.position)
            continue;
        for (const Relationship &relationship : m_package->relationships(other.partName)) {
            if (relationship.partName.compare(settingsPart, Qt::CaseInsensitive) == 0)
                return;
        }
    }
    QByteArray devmode = m_package->partBytes(settingsPart);
    if (devmode.size() < devmodeOrientationOffset + 2)
        return;
    const auto *data = reinterpret_cast<const uchar *>(devmode.constData());
    if (qFromLittleEndian<quint16>(data + devmodeSizeOffset) < devmodeOrientationOffset + 2
        || !(qFromLittleEndian<quint32>(data + devmodeFieldsOffset) & devmodeOrientationField))
        return;
    const quint16 wanted = orientation == Orientation::Landscape ? 2 : 1;
    if (qFromLittleEndian<quint16>(data + devmodeOrientationOffset) == wanted)
        return;
    qToLittleEndian<quint16>(wanted, reinterpret_cast<uchar *>(devmode.data()) + devmodeOrientationOffset);
    m_package->setBinary(settingsPart, devmode);
}

PackageDocument::Written PackageDocument::write(const QString &target, const std::optional<FileStamp> &expected)
{
    const std::vector<ZipArchive::Change> changes = m_package->changes();
    Written written;
    written.bytes = m_package->build(changes);
    const QStringList expectedNames = ZipArchive::fromBytes(written.bytes).entryNames();

    // The file on disk must read back completely: the same entries in the same order, every
    // entry that was not changed holding the stored bytes that were checked when the package
    // was opened, the changed parts as built and well-formed.
    // Parts given as deflate data can be large. One proven when it was made (inflated back and
    // compared with its text, which was scanned as it was built or read) is compared with the
    // bytes it was built from; any other is checked as it streams by, by its CRC and size and
    // by a scan of its XML.
    QStringList changed;
    for (const ZipArchive::Change &change : changes)
        changed.append(change.name);
    auto verify = [&](const QString &temporaryPath) {
        const ZipArchive stored = ZipArchive::fromFile(temporaryPath);
        if (stored.entryNames() != expectedNames)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("entries differ from the built archive"));
        for (const QString &name : expectedNames) {
            if (!changed.contains(name, Qt::CaseInsensitive))
                stored.expectSameStored(m_package->archive(), name);
        }
        for (const ZipArchive::Change &change : changes) {
            if (change.remove)
                continue;
            if (change.deflated && change.deflated->proven) {
                // Inflated and compared with its text when it was made, and that text scanned:
                // it need only be stored as built.
                stored.expectDeflated(m_package->archive(), change.name, *change.deflated);
                continue;
            }
            if (change.deflated) {
                const ZipArchive::EntryInfo info = stored.info(change.name);
                if (info.crc != change.deflated->crc || info.size != change.deflated->size)
                    throw EngineError(ErrorCode::Damaged, QStringLiteral("%1 differs from the built part").arg(change.name));
                XmlScanner scanner;
                scanner.setKeepChildren(false);
                stored.readChunks(change.name, [&scanner](const char *data, qsizetype size) { scanner.feed(data, size); });
                scanner.finish();
                continue;
            }
            const QByteArray data = stored.read(change.name);
            if (data != change.data)
                throw EngineError(ErrorCode::Damaged, QStringLiteral("%1 differs from the built part").arg(change.name));
            if (isXmlPartName(change.name))
                XmlPart(change.name, data);
        }
    };
    written.stamp = AtomicFile::replace(target, written.bytes, verify, expected);
    return written;
}

bool PackageDocument::isShared()
{
    ensureOpen();
    static const QString userNames = QStringLiteral("/relationships/usernames");
    for (const Relationship &relationship : m_package->relationships(m_package->mainPart())) {
        if (relationship.type.endsWith(userNames, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void PackageDocument::refuseShared()
{
    if (isShared())
        throw EngineError(ErrorCode::SharedWorkbook, QStringLiteral("user names part"));
}

void PackageDocument::setOpenPassword(const QString &password)
{
    ensureOpen();
    if (password.isEmpty())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("empty open password"));
    refuseShared();
    m_openPassword = password;
}

void PackageDocument::setWritePassword(const QString &password, const QString &userName)
{
    ensureOpen();
    if (password.isEmpty())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("empty modify password"));
    refuseShared();
    const crypto::IteratedHash hash = crypto::makeIteratedHash(password);

    XmlPart &part = m_package->xml(m_package->mainPart());
    pugi::xml_node root = part.root();
    pugi::xml_node sharing = xml::child(root, "fileSharing");
    if (!sharing)
        sharing = xml::insertChild(root, xml::siblingName(root, "fileSharing"), order::workbook);
    // Only a read-only recommendation survives; any earlier password goes, in either form.
    for (const char *name : {"userName", "reservationPassword", "algorithmName", "hashValue", "saltValue", "spinCount"})
        sharing.remove_attribute(name);
    sharing.append_attribute("userName").set_value(userName.toUtf8().constData());
    sharing.append_attribute("algorithmName").set_value(hash.algorithmName.toUtf8().constData());
    sharing.append_attribute("hashValue").set_value(hash.hashValue.toUtf8().constData());
    sharing.append_attribute("saltValue").set_value(hash.saltValue.toUtf8().constData());
    sharing.append_attribute("spinCount").set_value(hash.spinCount);
    part.markDirty();
}

void PackageDocument::saveEncrypted()
{
    // The plaintext is the package exactly as it is stored, or as built with its changes.
    QByteArray package;
    if (m_package->isModified()) {
        package = m_package->build(m_package->changes());
        ZipArchive::fromBytes(package).verifyEntries();
    } else {
        package = readWholeFile(m_path);
        if (!package.startsWith(zipMagic))
            throw EngineError(ErrorCode::InUse, QStringLiteral("%1 changed on disk since it was opened").arg(m_path));
    }
    const crypto::EncryptedPackage encrypted = crypto::encryptPackage(package, *m_openPassword);
    // The stored file must decrypt to exactly that package.
    auto verify = [&](const QString &temporaryPath) {
        if (crypto::decryptPackageWithKey(readWholeFile(temporaryPath), encrypted.key) != package)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("the encrypted file does not decrypt to the workbook"));
    };
    m_stamp = AtomicFile::replace(m_path, encrypted.container, verify, m_stamp);
    m_openPassword.reset();
    m_encrypted = true;
}

void PackageDocument::save()
{
    ensureOpen();
    if (m_encrypted)
        throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("%1 is now encrypted").arg(m_path));
    if (m_openPassword) {
        saveEncrypted();
        return;
    }
    if (!m_package->isModified()) {
        // Nothing to write; a file that could not be saved still fails, as any save would.
        const std::optional<FileStamp> now = FileStamp::of(m_path);
        if (!now)
            throw EngineError(ErrorCode::FileNotFound, m_path);
        if (!(now->mode & 0200))
            throw EngineError(ErrorCode::ReadOnlyFile, m_path);
        return;
    }
    Written written = write(m_path, m_stamp);
    // The sheet parts are read again from the stored package from now on.
    m_sheetData.clear();
    m_stamp = written.stamp;
    m_package->committed(std::move(written.bytes));
    m_formulaRewrites.clear();
}

void PackageDocument::saveCopy(const QString &path)
{
    ensureOpen();
    write(QFileInfo(path).absoluteFilePath(), std::nullopt);
}

} // namespace gm::xlsx
