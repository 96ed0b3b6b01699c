#pragma once

#include "automation/Engine.h"

#include <QString>

namespace gm::xlsx {

class OpcPackage;

// The nine built-in document properties of a package: six in the core properties part
// (docProps/core.xml) and Manager, Company and HyperlinkBase in the extended properties part
// (docProps/app.xml). A part that is missing is created with its relationship and content
// type when a value is first set.
class DocumentPropertyStore
{
public:
    explicit DocumentPropertyStore(OpcPackage &package);

    // "" when the property is not set.
    QString value(DocumentProperty property);
    void setValue(DocumentProperty property, const QString &value);

private:
    QString findPart(bool core);
    QString createPart(bool core);

    OpcPackage &m_package;
};

} // namespace gm::xlsx
