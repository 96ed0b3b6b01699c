#include "automation/ole/PropertySection.h"

#include "automation/EngineError.h"
#include "automation/ole/CodePageCodec.h"

#include <QtEndian>

#include <algorithm>
#include <set>

namespace gm::ole {

namespace {

constexpr quint16 TypeVector = 0x1000;
constexpr quint16 TypeVariant = 0x000C;

quint16 u16(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32(const QByteArray &bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void appendU16(QByteArray &bytes, quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    bytes.append(raw, 2);
}

void appendU32(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void padTo4(QByteArray &bytes)
{
    while (bytes.size() % 4 != 0)
        bytes.append('\0');
}

qsizetype alignedTo4(qsizetype n)
{
    return (n + 3) & ~qsizetype(3);
}

bool allZero(const QByteArray &bytes, qsizetype from)
{
    for (qsizetype i = from; i < bytes.size(); ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// A CodePageString: its size, then the characters and their terminator. UTF-16 strings are
// padded to 4 bytes; 8-bit ones are not (the typed value around them is).
QByteArray codePageString(const QByteArray &characters, bool utf16)
{
    QByteArray bytes;
    const QByteArray terminator(utf16 ? 2 : 1, '\0');
    appendU32(bytes, static_cast<quint32>(characters.size() + terminator.size()));
    bytes.append(characters);
    bytes.append(terminator);
    if (utf16)
        padTo4(bytes);
    return bytes;
}

QByteArray typeHeader(quint16 type)
{
    QByteArray bytes;
    appendU16(bytes, type);
    appendU16(bytes, 0);
    return bytes;
}

QByteArray lpstrValue(const QByteArray &characters, bool utf16)
{
    QByteArray bytes = typeHeader(PropertySection::TypeLpstr) + codePageString(characters, utf16);
    padTo4(bytes);
    return bytes;
}

// Bytes a variant of a fixed-size type takes after its type and padding; -1 for the types
// with a length of their own or unknown.
qsizetype fixedVariantSize(quint16 type)
{
    switch (type) {
    case 0x0000: // VT_EMPTY
    case 0x0001: // VT_NULL
        return 0;
    case 0x0002: // VT_I2, padded
    case 0x0003: // VT_I4
    case 0x0004: // VT_R4
    case 0x000A: // VT_ERROR
    case 0x000B: // VT_BOOL, padded
    case 0x0010: // VT_I1, padded
    case 0x0011: // VT_UI1, padded
    case 0x0012: // VT_UI2, padded
    case 0x0013: // VT_UI4
    case 0x0016: // VT_INT
    case 0x0017: // VT_UINT
        return 4;
    case 0x0005: // VT_R8
    case 0x0006: // VT_CY
    case 0x0007: // VT_DATE
    case 0x0014: // VT_I8
    case 0x0015: // VT_UI8
    case 0x0040: // VT_FILETIME
        return 8;
    case 0x0048: // VT_CLSID
        return 16;
    default:
        return -1;
    }
}

// One element of a vector: a string to re-encode, or bytes to keep.
struct VectorElement
{
    bool isString = false;
    QByteArray characters; // strings: the stored characters, terminator included
    QByteArray raw; // others: the element as stored, its type included
};

// Parses a VT_VECTOR|VT_LPSTR or VT_VECTOR|VT_VARIANT value. `alignStrings` tells whether
// 8-bit strings are followed by padding to 4 bytes; writers differ, so callers try both.
std::optional<std::vector<VectorElement>> parseVector(const QByteArray &value, bool variants, bool alignStrings)
{
    if (value.size() < 8)
        return std::nullopt;
    const quint32 count = u32(value, 4);
    if (count > static_cast<quint32>(value.size()))
        return std::nullopt;
    std::vector<VectorElement> elements;
    qsizetype pos = 8;
    auto readString = [&](VectorElement &element) {
        if (pos + 4 > value.size())
            return false;
        const quint32 size = u32(value, pos);
        if (size > static_cast<quint32>(value.size() - pos - 4))
            return false;
        element.isString = true;
        element.characters = value.mid(pos + 4, size);
        pos += 4 + size;
        if (alignStrings)
            pos = std::min(alignedTo4(pos), value.size());
        return true;
    };
    for (quint32 i = 0; i < count; ++i) {
        VectorElement element;
        if (!variants) {
            if (!readString(element))
                return std::nullopt;
            elements.push_back(std::move(element));
            continue;
        }
        if (pos + 4 > value.size())
            return std::nullopt;
        const qsizetype start = pos;
        const quint16 type = u16(value, pos);
        pos += 4;
        if (type == PropertySection::TypeLpstr) {
            if (!readString(element))
                return std::nullopt;
            elements.push_back(std::move(element));
            continue;
        }
        qsizetype size = fixedVariantSize(type);
        if (size < 0) {
            if (pos + 4 > value.size())
                return std::nullopt;
            const quint32 length = u32(value, pos);
            if (type == PropertySection::TypeLpwstr)
                size = 4 + 2 * qsizetype(length);
            else if (type == PropertySection::TypeBlob || type == 0x0046 || type == 0x0047)
                size = 4 + qsizetype(length);
            else
                return std::nullopt;
            size = alignedTo4(size);
        }
        if (pos + size > value.size())
            return std::nullopt;
        pos += size;
        element.raw = value.mid(start, pos - start);
        elements.push_back(std::move(element));
    }
    if (!allZero(value, pos))
        return std::nullopt;
    return elements;
}

// The typed value with its 8-bit strings re-encoded as UTF-16; nullopt when the value holds
// strings in a layout not known here.
std::optional<QByteArray> toUnicode(const QByteArray &value, const CodePageCodec &from)
{
    if (value.size() < 4)
        return value;
    const CodePageCodec utf16(CodePageCodec::Utf16);
    const quint16 type = u16(value, 0);
    if (type == PropertySection::TypeLpstr) {
        if (value.size() < 8)
            return std::nullopt;
        const QByteArray characters = value.mid(8, u32(value, 4));
        return lpstrValue(*utf16.encode(from.decode(characters)), true);
    }
    const bool stringVector = type == (TypeVector | PropertySection::TypeLpstr);
    const bool variantVector = type == (TypeVector | TypeVariant);
    if (!stringVector && !variantVector) {
        const quint16 base = type & 0x0FFF;
        if (base == PropertySection::TypeLpstr || base == TypeVariant)
            return std::nullopt; // arrays of strings or variants
        return value;
    }
    std::optional<std::vector<VectorElement>> elements = parseVector(value, variantVector, false);
    if (!elements)
        elements = parseVector(value, variantVector, true);
    if (!elements)
        return std::nullopt;
    QByteArray bytes = typeHeader(type);
    appendU32(bytes, static_cast<quint32>(elements->size()));
    for (const VectorElement &element : *elements) {
        if (!element.isString) {
            bytes.append(element.raw);
            continue;
        }
        if (variantVector)
            bytes.append(typeHeader(PropertySection::TypeLpstr));
        bytes.append(codePageString(*utf16.encode(from.decode(element.characters)), true));
    }
    padTo4(bytes);
    return bytes;
}

// A dictionary entry: id, length, name. In code page 1200 the length counts characters and
// the entry is padded to 4 bytes; otherwise it counts bytes.
QByteArray dictionaryEntry(quint32 id, const QByteArray &name, bool utf16)
{
    QByteArray bytes;
    appendU32(bytes, id);
    appendU32(bytes, static_cast<quint32>(utf16 ? name.size() / 2 + 1 : name.size() + 1));
    bytes.append(name);
    bytes.append(QByteArray(utf16 ? 2 : 1, '\0'));
    if (utf16)
        padTo4(bytes);
    return bytes;
}

} // namespace

PropertySection::PropertySection(const QUuid &formatId, const QByteArray &bytes) : m_formatId(formatId)
{
    if (bytes.size() < 8)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("property section %1 is cut short").arg(formatId.toString()));
    const quint32 declared = u32(bytes, 0);
    if (declared < 8)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("property section %1 has size %2").arg(formatId.toString()).arg(declared));
    const quint32 size = static_cast<quint32>(std::min<qsizetype>(declared, bytes.size()));
    m_original = bytes.left(size);

    const quint32 count = u32(bytes, 4);
    std::vector<std::pair<quint32, quint32>> entries; // id, offset
    std::set<quint32> ids;
    quint32 firstValue = size;
    for (quint32 i = 0; i < count; ++i) {
        const quint64 at = 8 + 8 * quint64(i);
        // A table running into the values has a wrong count; what follows is no table.
        if (at + 8 > firstValue)
            break;
        const quint32 id = u32(bytes, qsizetype(at));
        const quint32 offset = u32(bytes, qsizetype(at + 4));
        if (offset < at + 8 || quint64(offset) + 4 > size || !ids.insert(id).second)
            continue;
        entries.emplace_back(id, offset);
        firstValue = std::min(firstValue, offset);
    }
    std::set<quint32> offsets;
    for (const auto &entry : entries)
        offsets.insert(entry.second);
    for (const auto &[id, offset] : entries) {
        const auto next = offsets.upper_bound(offset);
        const quint32 end = next == offsets.end() ? size : *next;
        m_properties.push_back({id, m_original.mid(offset, end - offset), offset});
    }
}

PropertySection::PropertySection(const QUuid &formatId, quint16 codePage) : m_formatId(formatId)
{
    setCodePage(codePage);
}

quint16 PropertySection::codePage() const
{
    const Property *property = find(CodePageId);
    if (!property || property->value.size() < 6)
        return 1252;
    const quint16 codePage = u16(property->value, 4);
    return codePage == 0 ? 1252 : codePage;
}

QByteArray PropertySection::toBytes() const
{
    if (!m_modified)
        return m_original;
    std::vector<const Property *> layout;
    for (const Property &property : m_properties)
        layout.push_back(&property);
    std::stable_sort(layout.begin(), layout.end(), [](const Property *a, const Property *b) { return a->position < b->position; });

    QByteArray values;
    std::vector<quint32> offsets(m_properties.size());
    const qsizetype tableEnd = 8 + 8 * qsizetype(m_properties.size());
    for (const Property *property : layout) {
        offsets[size_t(property - m_properties.data())] = static_cast<quint32>(tableEnd + values.size());
        values.append(property->value);
        padTo4(values);
    }
    QByteArray bytes;
    appendU32(bytes, static_cast<quint32>(tableEnd + values.size()));
    appendU32(bytes, static_cast<quint32>(m_properties.size()));
    for (size_t i = 0; i < m_properties.size(); ++i) {
        appendU32(bytes, m_properties[i].id);
        appendU32(bytes, offsets[i]);
    }
    bytes.append(values);
    return bytes;
}

QList<quint32> PropertySection::propertyIds() const
{
    QList<quint32> ids;
    for (const Property &property : m_properties)
        ids << property.id;
    return ids;
}

bool PropertySection::contains(quint32 id) const
{
    return find(id) != nullptr;
}

QByteArray PropertySection::value(quint32 id) const
{
    const Property *property = find(id);
    return property ? property->value : QByteArray();
}

quint16 PropertySection::type(quint32 id) const
{
    const Property *property = find(id);
    return property && id != DictionaryId && property->value.size() >= 2 ? u16(property->value, 0) : 0;
}

QString PropertySection::text(quint32 id) const
{
    const Property *property = find(id);
    if (!property || id == DictionaryId || property->value.size() < 8)
        return {};
    const QByteArray &value = property->value;
    const quint32 length = u32(value, 4);
    switch (u16(value, 0)) {
    case TypeLpstr:
        return CodePageCodec(codePage()).decode(value.mid(8, length));
    case TypeLpwstr:
        return CodePageCodec(CodePageCodec::Utf16).decode(value.mid(8, qsizetype(length) * 2));
    case TypeBlob:
        return CodePageCodec(CodePageCodec::Utf16).decode(value.mid(8, length));
    default:
        return {};
    }
}

void PropertySection::setText(quint32 id, const QString &text)
{
    if (type(id) == TypeLpstr && this->text(id) == text)
        return;
    CodePageCodec codec(codePage());
    std::optional<QByteArray> characters = codec.encode(text);
    if (!characters) {
        convertToUnicode();
        codec = CodePageCodec(CodePageCodec::Utf16);
        characters = codec.encode(text);
    }
    if (!contains(CodePageId))
        setCodePage(codec.codePage());
    setValue(id, lpstrValue(*characters, codec.isUtf16()));
}

void PropertySection::setUnicodeBlob(quint32 id, const QString &text)
{
    if (type(id) == TypeBlob && this->text(id) == text)
        return;
    QByteArray characters = *CodePageCodec(CodePageCodec::Utf16).encode(text);
    characters.append(2, '\0');
    QByteArray value = typeHeader(TypeBlob);
    appendU32(value, static_cast<quint32>(characters.size()));
    value.append(characters);
    padTo4(value);
    setValue(id, value);
}

void PropertySection::setValue(quint32 id, const QByteArray &typedValue)
{
    m_modified = true;
    for (Property &property : m_properties) {
        if (property.id == id) {
            property.value = typedValue;
            return;
        }
    }
    qint64 last = 0;
    for (const Property &property : m_properties)
        last = std::max(last, property.position);
    m_properties.push_back({id, typedValue, last + 1});
}

std::optional<quint32> PropertySection::idOfName(const QString &name) const
{
    for (const DictionaryEntry &entry : dictionary()) {
        if (entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return entry.id;
    }
    return std::nullopt;
}

quint32 PropertySection::addName(const QString &name)
{
    CodePageCodec codec(codePage());
    std::optional<QByteArray> encoded = codec.encode(name);
    if (!encoded) {
        convertToUnicode();
        codec = CodePageCodec(CodePageCodec::Utf16);
        encoded = codec.encode(name);
    }
    std::vector<DictionaryEntry> entries = dictionary();
    // Names of a dictionary map ids from 2 up; the ids from 0x80000000 are reserved.
    quint32 id = 2;
    for (const Property &property : m_properties) {
        if (property.id >= id && property.id < 0x80000000u)
            id = property.id + 1;
    }
    for (const DictionaryEntry &entry : entries) {
        if (entry.id >= id && entry.id < 0x80000000u)
            id = entry.id + 1;
    }
    entries.push_back({id, name, dictionaryEntry(id, *encoded, codec.isUtf16())});
    if (!contains(CodePageId))
        setCodePage(codec.codePage());
    setDictionary(entries);
    return id;
}

void PropertySection::convertToUnicode()
{
    const quint16 from = codePage();
    if (from == CodePageCodec::Utf16)
        return;
    const CodePageCodec codec(from);
    std::vector<DictionaryEntry> entries = dictionary();
    std::vector<Property> converted = m_properties;
    for (Property &property : converted) {
        if (property.id == DictionaryId || property.id == CodePageId)
            continue;
        const std::optional<QByteArray> value = toUnicode(property.value, codec);
        if (!value)
            throw EngineError(ErrorCode::NotSupported,
                QStringLiteral("property %1 (type 0x%2) of section %3 cannot be moved to code page 1200")
                    .arg(property.id)
                    .arg(u16(property.value, 0), 4, 16, QLatin1Char('0'))
                    .arg(m_formatId.toString()));
        property.value = *value;
    }
    m_properties = std::move(converted);
    m_modified = true;
    if (contains(DictionaryId)) {
        const CodePageCodec utf16(CodePageCodec::Utf16);
        for (DictionaryEntry &entry : entries)
            entry.bytes = dictionaryEntry(entry.id, *utf16.encode(entry.name), true);
        setDictionary(entries);
    }
    setCodePage(CodePageCodec::Utf16);
}

const PropertySection::Property *PropertySection::find(quint32 id) const
{
    for (const Property &property : m_properties) {
        if (property.id == id)
            return &property;
    }
    return nullptr;
}

std::vector<PropertySection::DictionaryEntry> PropertySection::dictionary() const
{
    const Property *property = find(DictionaryId);
    if (!property)
        return {};
    const QByteArray &value = property->value;
    const bool utf16 = codePage() == CodePageCodec::Utf16;
    const CodePageCodec codec(codePage());
    // 8-bit entries are not padded by the format, yet some writers pad them; try both.
    for (const bool aligned : {utf16, !utf16}) {
        if (value.size() < 4)
            break;
        const quint32 count = u32(value, 0);
        std::vector<DictionaryEntry> entries;
        qsizetype pos = 4;
        bool ok = count <= static_cast<quint32>(value.size());
        for (quint32 i = 0; ok && i < count; ++i) {
            if (pos + 8 > value.size()) {
                ok = false;
                break;
            }
            const quint32 id = u32(value, pos);
            const qsizetype length = qsizetype(u32(value, pos + 4)) * (utf16 ? 2 : 1);
            if (length > value.size() - pos - 8) {
                ok = false;
                break;
            }
            qsizetype end = pos + 8 + length;
            if (aligned)
                end = std::min(alignedTo4(end), value.size());
            entries.push_back({id, codec.decode(value.mid(pos + 8, length)), value.mid(pos, end - pos)});
            pos = end;
        }
        if (ok && allZero(value, pos))
            return entries;
    }
    throw EngineError(ErrorCode::NotSupported,
        QStringLiteral("the dictionary of property section %1 has an unknown layout").arg(m_formatId.toString()));
}

void PropertySection::setDictionary(const std::vector<DictionaryEntry> &entries)
{
    QByteArray value;
    appendU32(value, static_cast<quint32>(entries.size()));
    for (const DictionaryEntry &entry : entries)
        value.append(entry.bytes);
    padTo4(value);
    if (contains(DictionaryId)) {
        setValue(DictionaryId, value);
        return;
    }
    // A new dictionary goes first, in the table and among the values.
    qint64 first = 0;
    for (const Property &property : m_properties)
        first = std::min(first, property.position);
    m_properties.insert(m_properties.begin(), {DictionaryId, value, first - 1});
    m_modified = true;
}

void PropertySection::setCodePage(quint16 codePage)
{
    QByteArray value = typeHeader(TypeI2);
    appendU16(value, codePage);
    appendU16(value, 0);
    setValue(CodePageId, value);
}

} // namespace gm::ole
