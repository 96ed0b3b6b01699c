#pragma once

#include "automation/Engine.h"
#include "automation/lo/LoEngine.h"

#include <com/sun/star/sheet/XSpreadsheet.hpp>

#include <memory>

namespace gm::lo {

class LoWorksheet : public Worksheet
{
public:
    LoWorksheet(std::shared_ptr<LoEngine> engine, css::uno::Reference<css::sheet::XSpreadsheet> sheet, int index);

    QString name() const override;
    int sheetIndex() const override { return m_index; }
    SheetVisibility visibility() const override;

    css::uno::Reference<css::sheet::XSpreadsheet> unoSheet() const { return m_sheet; }

private:
    std::shared_ptr<LoEngine> m_engine;
    css::uno::Reference<css::sheet::XSpreadsheet> m_sheet;
    int m_index;
};

} // namespace gm::lo
