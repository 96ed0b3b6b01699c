#include "automation/xls/XlsDocument.h"

#include "automation/xls/XlsEncryption.h"

#include "automation/SafeReplace.h"
#include "automation/crypto/PasswordHashes.h"

#include <QFile>
#include <QFileInfo>

namespace gm::xls {

namespace {

constexpr quint16 kBiff8 = 0x0600;
constexpr quint16 kWriteProt = 0x0086;
constexpr quint16 kFileSharing = 0x005B;
constexpr quint16 kWriteAccess = 0x005C;
constexpr int kMaxUserNameLength = 54;

QByteArray readWorkbookFile(const QString &path)
{
    QByteArray bytes = readWholeFile(path);
    if (bytes.isEmpty())
        throw EngineError(ErrorCode::EmptyFile, path);
    return bytes;
}

void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        QFile::remove(path);
        throw EngineError(ErrorCode::WriteFailed, path + QStringLiteral(": ") + reason);
    }
    file.close();
}

ole::CompoundEntry readContainer(const QByteArray &bytes, const QString &path)
{
    if (!ole::CompoundFile::isCompoundFile(bytes))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 is no compound file").arg(path));
    ole::CompoundFile::verifySectors(bytes);
    return ole::CompoundFile::read(bytes);
}

const QByteArray &workbookStreamBytes(const ole::CompoundEntry &root, const QString &path)
{
    const ole::CompoundEntry *entry = workbookStreamEntry(root);
    if (!entry)
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 has no workbook stream").arg(path));
    return entry->data;
}

QByteArray filePassOf(const BiffRecordStream &stream)
{
    for (const BiffRecord &record : stream.records()) {
        if (record.type == kFilePass)
            return record.data;
        if (record.type == kEof)
            break;
    }
    return {};
}

// An encrypted stream: readers open one under the built-in read-only password without asking
// (when `readersMayOpen`); nothing else gets past.
void refuseEncrypted(const BiffRecordStream &stream, bool readersMayOpen)
{
    if (!usesBuiltInPassword(filePassOf(stream)))
        throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("encrypted workbook stream"));
    if (!readersMayOpen)
        throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("该工作簿以只读方式加密，不能在原文件中修改。"),
            QStringLiteral("encrypted with the built-in read-only password"));
}

BiffRecordStream parseChecked(const QByteArray &bytes, bool readersMayOpen = false)
{
    BiffRecordStream stream = BiffRecordStream::parse(bytes);
    if (stream.isEncrypted()) {
        refuseEncrypted(stream, readersMayOpen);
        return stream;
    }
    const BiffRecord &bof = stream.records().first();
    if (bof.data.size() >= 4 && readU16(bof.data, 2) != kGlobals)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("the workbook stream does not start with its globals"));
    return stream;
}

} // namespace

const ole::CompoundEntry *workbookStreamEntry(const ole::CompoundEntry &root)
{
    for (const char *wanted : {"workbook", "book"}) {
        for (const ole::CompoundEntry &child : root.children) {
            if (!child.isStorage && child.name.toLower() == wanted)
                return &child;
        }
    }
    return nullptr;
}

void checkWorkbookStream(const QString &path, bool forWriting)
{
    const QByteArray bytes = readWorkbookFile(path);
    const ole::CompoundEntry root = readContainer(bytes, path);
    parseChecked(workbookStreamBytes(root, path), !forWriting);
}

QString shortUnicodeString(const QByteArray &data, qsizetype offset)
{
    if (offset + 2 > data.size())
        return {};
    const int count = uchar(data[offset]);
    const bool wide = uchar(data[offset + 1]) & 0x01;
    const qsizetype start = offset + 2;
    if (wide) {
        if (start + 2 * count > data.size())
            return {};
        QString text(count, Qt::Uninitialized);
        for (int i = 0; i < count; ++i)
            text[i] = QChar(readU16(data, start + 2 * i));
        return text;
    }
    if (start + count > data.size())
        return {};
    return QString::fromLatin1(data.constData() + start, count);
}

XlsDocument::XlsDocument(const QString &path, bool readOnly) : m_path(QFileInfo(path).absoluteFilePath()), m_readOnly(readOnly)
{
    m_bytes = readWorkbookFile(m_path);
    m_root = readContainer(m_bytes, m_path);
    const ole::CompoundEntry *entry = workbookStreamEntry(m_root);
    if (!entry)
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 has no workbook stream").arg(m_path));
    m_streamName = entry->name;
    m_stream = parseChecked(entry->data);
    if (m_stream.version() != kBiff8)
        throw EngineError(
            ErrorCode::UnsupportedFormat, QStringLiteral("BIFF version 0x%1").arg(m_stream.version(), 4, 16, QLatin1Char('0')));
    readSheets();
}

void XlsDocument::readSheets()
{
    const QList<int> records = m_stream.sheetRecords();
    for (int position = 0; position < records.size(); ++position) {
        const QByteArray &data = m_stream.records()[records[position]].data;
        if (data.size() < 8)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("BOUNDSHEET8 of sheet %1 too short").arg(position + 1));
        XlsSheet sheet;
        sheet.position = position;
        sheet.recordId = m_stream.records()[records[position]].id;
        sheet.name = shortUnicodeString(data, 6);
        const int state = uchar(data[4]) & 0x03;
        sheet.visibility = state == 0 ? SheetVisibility::Visible
            : state == 1              ? SheetVisibility::Hidden
                                      : SheetVisibility::VeryHidden;
        const BiffSubstream substream = m_stream.sheetSubstream(position);
        const int type = uchar(data[5]);
        if (type == 0 && substream.kind == kWorksheet)
            sheet.kind = SheetKind::Worksheet;
        else if (type == 2 && substream.kind == kChart)
            sheet.kind = SheetKind::Chart;
        m_sheets.append(sheet);
    }
    if (m_sheets.isEmpty())
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no sheets"));
}

void XlsDocument::reloadSheets()
{
    m_sheets.clear();
    readSheets();
}

bool XlsDocument::hasVbaProject() const
{
    for (const ole::CompoundEntry &child : m_root.children) {
        if (child.isStorage && QString::fromLatin1(child.name).compare(QLatin1String("_VBA_PROJECT_CUR"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void XlsDocument::ensureOpen() const
{
    if (!m_open)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1 is closed").arg(m_path));
}

void XlsDocument::close()
{
    m_open = false;
    m_stream = {};
    m_root = {};
    m_bytes.clear();
}

BiffRecordStream &XlsDocument::stream()
{
    ensureOpen();
    return m_stream;
}

int XlsDocument::activeSheet() const
{
    const int end = m_stream.globalsEnd();
    for (int i = 0; i < end; ++i) {
        const BiffRecord &record = m_stream.records()[i];
        if (record.type == kWindow1 && record.data.size() >= 12) {
            const int tab = readU16(record.data, 10);
            return tab < m_sheets.size() ? tab : 0;
        }
    }
    return 0;
}

bool XlsDocument::isShared() const
{
    for (const ole::CompoundEntry &child : m_root.children) {
        if (!child.isStorage && child.name.compare("User Names", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void XlsDocument::setOpenPassword(const QString &password)
{
    ensureOpen();
    if (password.isEmpty())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("empty open password"));
    if (password.size() > kMaxOpenPasswordLength)
        throw EngineError(ErrorCode::PasswordTooLong, QStringLiteral("%1 UTF-16 units").arg(password.size()));
    // Passwords cannot be set on a shared workbook.
    if (isShared())
        throw EngineError(ErrorCode::SharedWorkbook, QStringLiteral("User Names stream"));
    // Only the workbook stream is encrypted: an Excel 5.0 copy beside it would stay readable,
    // and a stream under another name would not be recognised as encrypted by readers.
    int workbookStreams = 0;
    for (const ole::CompoundEntry &child : m_root.children) {
        const QByteArray name = child.name.toLower();
        workbookStreams += !child.isStorage && (name == "workbook" || name == "book");
    }
    if (m_streamName.toLower() != "workbook" || workbookStreams > 1)
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("该文件的工作簿数据不能加密（含有旧版本的副本或名称不标准）。"),
            QStringLiteral("workbook stream %1 beside %2 others").arg(QString::fromLatin1(m_streamName)).arg(workbookStreams - 1));
    m_openPassword = password;
    m_modified = true;
}

void XlsDocument::setWritePassword(const QString &password, const QString &userName)
{
    ensureOpen();
    if (password.isEmpty())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("empty modify password"));
    const std::optional<quint16> verifier = crypto::legacyPasswordVerifier(password);
    if (!verifier)
        throw EngineError(ErrorCode::PasswordNotEncodable, QStringLiteral("not representable in GBK"));
    if (isShared())
        throw EngineError(ErrorCode::SharedWorkbook, QStringLiteral("User Names stream"));

    QList<BiffRecord> &records = m_stream.records();
    const int end = m_stream.globalsEnd();
    int existing = -1;
    int writeAccess = -1;
    int codePage = -1;
    bool writeProtected = false;
    for (int i = 1; i < end; ++i) {
        const quint16 type = records[i].type;
        if (type == kFileSharing && existing < 0)
            existing = i;
        else if (type == kWriteAccess && writeAccess < 0)
            writeAccess = i;
        else if (type == kCodePage && codePage < 0)
            codePage = i;
        writeProtected = writeProtected || type == kWriteProt;
    }

    // fReadOnlyRec, wResPass, then the user name as an XLUnicodeString.
    const QString name = userName.left(kMaxUserNameLength);
    const bool wide = std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() > 0xFF; });
    QByteArray body(7, '\0');
    if (existing >= 0 && records[existing].data.size() >= 2)
        writeU16(body, 0, readU16(records[existing].data, 0));
    writeU16(body, 2, *verifier);
    writeU16(body, 4, quint16(name.size()));
    body[6] = wide ? '\1' : '\0';
    body += wide ? crypto::utf16le(name) : name.toLatin1();

    if (existing >= 0) {
        records[existing].data = body;
        records[existing].continuations.clear();
    } else {
        BiffRecord sharing;
        sharing.type = kFileSharing;
        sharing.data = body;
        const int at = writeAccess >= 0 ? writeAccess + 1 : codePage >= 0 ? codePage : 1;
        records.insert(at, sharing);
    }
    if (!writeProtected) {
        BiffRecord writeProt;
        writeProt.type = kWriteProt;
        records.insert(1, writeProt);
    }
    m_modified = true;
}

bool XlsDocument::hasStream(const QByteArray &name) const
{
    ensureOpen();
    for (const ole::CompoundEntry &child : m_root.children) {
        if (!child.isStorage && child.name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool XlsDocument::removeStream(const QByteArray &name)
{
    ensureOpen();
    if (name.compare(m_streamName, Qt::CaseInsensitive) == 0)
        return false;
    const auto removed = std::erase_if(m_root.children, [&](const ole::CompoundEntry &child) {
        return !child.isStorage && child.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (removed > 0)
        m_modified = true;
    return removed > 0;
}

void XlsDocument::refuseSave(const EngineError &error)
{
    if (!m_refusal)
        m_refusal = error;
}

void XlsDocument::save()
{
    ensureOpen();
    if (m_readOnly)
        throw EngineError(ErrorCode::ReadOnlyFile, QStringLiteral("%1 was opened read-only").arg(m_path));
    const QString target = QFileInfo(m_path).canonicalFilePath();
    if (target.isEmpty())
        throw EngineError(ErrorCode::FileNotFound, m_path);
    if (!isOwnerWritable(target))
        throw EngineError(ErrorCode::ReadOnlyFile, m_path);
    if (m_refusal)
        throw *m_refusal;
    if (!m_modified)
        return;
    if (readWholeFile(target) != m_bytes)
        throw EngineError(ErrorCode::InUse, QStringLiteral("%1 changed on disk since it was opened").arg(m_path));

    QByteArray streamBytes;
    QByteArray plainStream; // with an open password: what the stored stream must decrypt to
    if (m_openPassword) {
        // FILEPASS follows the globals BOF, and WRITEPROT where there is one.
        BiffRecordStream encrypted = m_stream;
        QList<BiffRecord> &records = encrypted.records();
        const int at = records.size() > 1 && records[1].type == kWriteProt ? 2 : 1;
        BiffRecord filePass;
        filePass.type = kFilePass;
        filePass.data = rc4FilePass(*m_openPassword, crypto::randomBytes(16), crypto::randomBytes(16));
        records.insert(at, filePass);
        // Padding after the last record is dropped: readers of encrypted streams expect records
        // to the end.
        qsizetype total = 0;
        for (const BiffRecord &record : records)
            total += record.streamSize();
        plainStream = encrypted.serialize().left(total);
        streamBytes = rc4WorkbookStream(plainStream, *m_openPassword);
    } else {
        streamBytes = m_stream.serialize();
    }
    ole::CompoundEntry root = m_root;
    ole::CompoundEntry *entry = root.child(m_streamName);
    if (!entry)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("workbook stream lost"));
    entry->data = streamBytes;
    const QByteArray written = ole::CompoundFile::write(root);

    const QString temporary = temporarySiblingPath(target, QLatin1Char('.') + QFileInfo(target).suffix());
    writeWholeFile(temporary, written);
    // The new file must read back as exactly the intended tree, with a workbook stream that
    // reads as records, before it replaces the old one.
    QString difference;
    try {
        const ole::CompoundEntry stored = ole::CompoundFile::readFile(temporary);
        difference = ole::CompoundFile::difference(root, stored);
        if (difference.isEmpty() && m_openPassword) {
            if (rc4WorkbookStream(workbookStreamBytes(stored, temporary), *m_openPassword) != plainStream)
                difference = QStringLiteral("the encrypted workbook stream does not decrypt to the workbook");
        } else if (difference.isEmpty()) {
            parseChecked(workbookStreamBytes(stored, temporary));
        }
    } catch (const EngineError &error) {
        difference = error.detail();
    }
    if (!difference.isEmpty()) {
        QFile::remove(temporary);
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("the new file does not read back: %1").arg(difference));
    }
    if (m_expected) {
        // Written cells are compared with the original, so that nothing else changed with them.
        QStringList differences;
        try {
            differences = contentDifferences(originalContent(), readXlsContent(written), *m_expected);
        } catch (const EngineError &error) {
            differences << error.detail();
        }
        if (!differences.isEmpty()) {
            QFile::remove(temporary);
            throw EngineError(ErrorCode::WouldLoseContent, describeDifferences(differences));
        }
    }
    replaceWithTemporary(temporary, target);
    m_bytes = written;
    m_root = std::move(root);
    m_modified = false;
    m_content.reset();
    if (m_expected)
        m_expected = ExpectedChanges{};
    if (m_openPassword) {
        // The records in memory are the plain ones: a later save would write them unencrypted.
        m_openPassword.reset();
        refuseSave(EngineError(ErrorCode::PasswordRequired, QStringLiteral("the workbook is now encrypted")));
    }
}

const WorkbookContent &XlsDocument::originalContent()
{
    if (!m_content)
        m_content = readXlsContent(m_bytes);
    return *m_content;
}

ExpectedChanges &XlsDocument::expectedChanges()
{
    if (!m_expected)
        m_expected.emplace();
    return *m_expected;
}

} // namespace gm::xls
