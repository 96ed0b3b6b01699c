#pragma once

#include "automation/ole/PropertySection.h"

#include <QByteArray>
#include <QUuid>

#include <vector>

namespace gm::ole {

// Format identifiers of the property sets a workbook carries.
inline constexpr QUuid summaryInformationId{0xF29F85E0, 0x4FF9, 0x1068, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
inline constexpr QUuid documentSummaryInformationId{0xD5CDD502, 0x2E9C, 0x101B, 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
inline constexpr QUuid userDefinedPropertiesId{0xD5CDD505, 0x2E9C, 0x101B, 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

// A property-set stream (\005SummaryInformation, \005DocumentSummaryInformation): a header
// and one or more sections. A stream nothing was changed in is written back as it was read;
// otherwise its header is kept and the sections follow each other, each at an offset that
// is a multiple of 4. A rewritten stream is not made shorter than it was (Excel pads these
// streams to 4096 bytes).
class PropertySetStream
{
public:
    // Parses a stream; throws EngineError(Damaged) when the bytes are no property set.
    explicit PropertySetStream(const QByteArray &bytes);
    // A new stream with no section.
    PropertySetStream();

    const std::vector<PropertySection> &sections() const { return m_sections; }
    PropertySection *section(const QUuid &formatId);
    const PropertySection *section(const QUuid &formatId) const;
    // The section, added when missing with the given code page. The Document Summary
    // Information section goes first, as readers expect, and any other at the end.
    PropertySection &ensureSection(const QUuid &formatId, quint16 codePage);

    bool isModified() const;
    QByteArray toBytes() const;

    static QUuid uuidFromBytes(const QByteArray &bytes);
    static QByteArray uuidToBytes(const QUuid &uuid);

private:
    QByteArray m_original;
    QByteArray m_header; // byte order, version, system id and class id
    std::vector<PropertySection> m_sections;
    bool m_sectionsAdded = false;
};

} // namespace gm::ole
