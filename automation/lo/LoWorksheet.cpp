#include "automation/lo/LoWorksheet.h"

#include "automation/EngineError.h"
#include "automation/lo/UnoSupport.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNamed.hpp>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace gm::lo {

LoWorksheet::LoWorksheet(std::shared_ptr<LoEngine> engine, Reference<sheet::XSpreadsheet> sheet, int index)
    : m_engine(std::move(engine)), m_sheet(std::move(sheet)), m_index(index)
{ }

QString LoWorksheet::name() const
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected,
        [&] { return toQ(Reference<container::XNamed>(m_sheet, UNO_QUERY_THROW)->getName()); });
}

SheetVisibility LoWorksheet::visibility() const
{
    return m_engine->call(m_engine->limits().call, ErrorCode::Unexpected, [&] {
        bool visible = true;
        Reference<beans::XPropertySet>(m_sheet, UNO_QUERY_THROW)->getPropertyValue("IsVisible") >>= visible;
        // The engine keeps no "very hidden" state of its own.
        return visible ? SheetVisibility::Visible : SheetVisibility::Hidden;
    });
}

} // namespace gm::lo
