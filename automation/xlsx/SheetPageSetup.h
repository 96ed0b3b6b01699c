#pragma once

#include "automation/Engine.h"

#include <QString>

namespace gm::xlsx {

class SplicedXmlPart;

// Page setup stored in a worksheet or chart sheet part: the odd-page header and footer
// (evenHeader, firstHeader and the switches for them are left alone) and the orientation.
// Setters change the part only when the value differs, and insert missing elements where
// the sheet's schema puts them. Only the element concerned (headerFooter, pageSetup) is
// parsed and written again; the rest of the sheet stays as it is.
class SheetPageSetup
{
public:
    explicit SheetPageSetup(SplicedXmlPart &part);

    QString headerFooter(HeaderFooterSection section) const;
    void setHeaderFooter(HeaderFooterSection section, const QString &code);

    Orientation orientation() const;
    // Returns false when the orientation already was that one.
    bool setOrientation(Orientation orientation);

    // Relationship id of the printer settings that pageSetup points to; "" when none.
    QString printerSettingsId() const;

private:
    SplicedXmlPart &m_part;
};

} // namespace gm::xlsx
