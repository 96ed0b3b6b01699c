#pragma once

// Small helpers that keep UNO call sites plain. Included only inside automation/lo/.

#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <rtl/ustring.hxx>

#include <initializer_list>

using rtl::OUString;

namespace gm::lo {

inline OUString toOU(const QString &s)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()), static_cast<sal_Int32>(s.size()));
}

inline QString toQ(const OUString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getStr()), s.getLength());
}

inline css::beans::PropertyValue prop(const char *name, const css::uno::Any &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

inline css::uno::Sequence<css::beans::PropertyValue> descriptor(std::initializer_list<css::beans::PropertyValue> values)
{
    return css::uno::Sequence<css::beans::PropertyValue>(values.begin(), static_cast<sal_Int32>(values.size()));
}

// file:// URL of a local path, encoded the way the engine expects.
OUString fileUrl(const QString &path);

} // namespace gm::lo
