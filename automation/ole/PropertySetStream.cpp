#include "automation/ole/PropertySetStream.h"

#include "automation/EngineError.h"

#include <QtEndian>

namespace gm::ole {

namespace {

constexpr qsizetype headerSize = 28;
constexpr qsizetype sectionEntrySize = 20;

void appendU32(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

QByteArray newHeader()
{
    // Byte order FFFE, version 0, system id of Windows 10 (major 10, minor 0, platform 2),
    // class id null.
    QByteArray header = QByteArray::fromHex("FEFF0000" "0A000200");
    header.append(16, '\0');
    return header;
}

} // namespace

PropertySetStream::PropertySetStream() : m_header(newHeader()) { }

PropertySetStream::PropertySetStream(const QByteArray &bytes) : m_original(bytes)
{
    auto damaged = [](const QString &what) { return EngineError(ErrorCode::Damaged, QStringLiteral("property set: ") + what); };
    if (bytes.size() < headerSize)
        throw damaged(QStringLiteral("%1 bytes").arg(bytes.size()));
    if (qFromLittleEndian<quint16>(bytes.constData()) != 0xFFFE)
        throw damaged(QStringLiteral("byte order mark missing"));
    m_header = bytes.left(24);
    const quint32 count = qFromLittleEndian<quint32>(bytes.constData() + 24);
    if (count > quint32((bytes.size() - headerSize) / sectionEntrySize))
        throw damaged(QStringLiteral("%1 sections in %2 bytes").arg(count).arg(bytes.size()));
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype at = headerSize + sectionEntrySize * qsizetype(i);
        const QUuid formatId = uuidFromBytes(bytes.mid(at, 16));
        const quint32 offset = qFromLittleEndian<quint32>(bytes.constData() + at + 16);
        if (offset < headerSize + sectionEntrySize * qsizetype(count) || qsizetype(offset) + 8 > bytes.size())
            throw damaged(QStringLiteral("section %1 at offset %2").arg(i).arg(offset));
        m_sections.emplace_back(formatId, bytes.mid(offset));
    }
}

PropertySection *PropertySetStream::section(const QUuid &formatId)
{
    for (PropertySection &section : m_sections) {
        if (section.formatId() == formatId)
            return &section;
    }
    return nullptr;
}

const PropertySection *PropertySetStream::section(const QUuid &formatId) const
{
    return const_cast<PropertySetStream *>(this)->section(formatId);
}

PropertySection &PropertySetStream::ensureSection(const QUuid &formatId, quint16 codePage)
{
    if (PropertySection *existing = section(formatId))
        return *existing;
    m_sectionsAdded = true;
    if (formatId == documentSummaryInformationId)
        return *m_sections.insert(m_sections.begin(), PropertySection(formatId, codePage));
    return m_sections.emplace_back(formatId, codePage);
}

bool PropertySetStream::isModified() const
{
    if (m_sectionsAdded || m_original.isEmpty())
        return true;
    for (const PropertySection &section : m_sections) {
        if (section.isModified())
            return true;
    }
    return false;
}

QByteArray PropertySetStream::toBytes() const
{
    if (!isModified())
        return m_original;
    std::vector<QByteArray> sections;
    for (const PropertySection &section : m_sections)
        sections.push_back(section.toBytes());
    QByteArray bytes = m_header;
    appendU32(bytes, static_cast<quint32>(sections.size()));
    qsizetype offset = headerSize + sectionEntrySize * qsizetype(sections.size());
    for (size_t i = 0; i < sections.size(); ++i) {
        bytes.append(uuidToBytes(m_sections[i].formatId()));
        appendU32(bytes, static_cast<quint32>(offset));
        offset += (sections[i].size() + 3) & ~qsizetype(3);
    }
    for (const QByteArray &section : sections) {
        bytes.append(section);
        while (bytes.size() % 4 != 0)
            bytes.append('\0');
    }
    if (bytes.size() < m_original.size())
        bytes.append(m_original.size() - bytes.size(), '\0');
    return bytes;
}

QUuid PropertySetStream::uuidFromBytes(const QByteArray &bytes)
{
    if (bytes.size() < 16)
        return {};
    const char *raw = bytes.constData();
    return QUuid(qFromLittleEndian<quint32>(raw), qFromLittleEndian<quint16>(raw + 4), qFromLittleEndian<quint16>(raw + 6),
        uchar(raw[8]), uchar(raw[9]), uchar(raw[10]), uchar(raw[11]), uchar(raw[12]), uchar(raw[13]), uchar(raw[14]),
        uchar(raw[15]));
}

QByteArray PropertySetStream::uuidToBytes(const QUuid &uuid)
{
    QByteArray bytes(16, Qt::Uninitialized);
    qToLittleEndian(uuid.data1, bytes.data());
    qToLittleEndian(uuid.data2, bytes.data() + 4);
    qToLittleEndian(uuid.data3, bytes.data() + 6);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = char(uuid.data4[i]);
    return bytes;
}

} // namespace gm::ole
