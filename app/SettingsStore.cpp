#include "app/SettingsStore.h"

#include <QLocale>
#include <QSettings>

#include <cmath>
#include <limits>

namespace gm {

namespace {

QString keyPath(const QString &section, const QString &key)
{
    return section + u'/' + key;
}

std::optional<int> toWholeNumber(const QString &text, double minimum, double maximum)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool ok = false;
    double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale::system().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // Fractions round to the nearest whole number, halves to the even one.
    const double rounded = std::nearbyint(value);
    if (rounded < minimum || rounded > maximum)
        return std::nullopt;
    return static_cast<int>(rounded);
}

} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Gridmule")))
{
}

SettingsStore::SettingsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::contains(const QString &section, const QString &key) const
{
    return m_settings->contains(keyPath(section, key));
}

QString SettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QVariant value = m_settings->value(keyPath(section, key));
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void SettingsStore::write(const QString &section, const QString &key, const QString &value)
{
    m_settings->setValue(keyPath(section, key), value);
}

void SettingsStore::writeNumber(const QString &section, const QString &key, int value)
{
    write(section, key, QString::number(value));
}

void SettingsStore::writeBool(const QString &section, const QString &key, bool value)
{
    write(section, key, fromBool(value));
}

void SettingsStore::sync()
{
    m_settings->sync();
}

void SettingsStore::readInt16(const QString &section, const QString &key, int defaultValue, int &variable) const
{
    if (!contains(section, key)) {
        variable = defaultValue;
        return;
    }
    if (const auto value = toInt16(read(section, key)))
        variable = *value;
}

void SettingsStore::readInt32(const QString &section, const QString &key, int defaultValue, int &variable) const
{
    if (!contains(section, key)) {
        variable = defaultValue;
        return;
    }
    if (const auto value = toInt32(read(section, key)))
        variable = *value;
}

void SettingsStore::readBool(const QString &section, const QString &key, bool defaultValue, bool &variable) const
{
    if (!contains(section, key)) {
        variable = defaultValue;
        return;
    }
    if (const auto value = toBool(read(section, key)))
        variable = *value;
}

std::optional<int> SettingsStore::toInt16(const QString &text)
{
    return toWholeNumber(text, -32768.0, 32767.0);
}

std::optional<int> SettingsStore::toInt32(const QString &text)
{
    return toWholeNumber(text, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max()));
}

std::optional<bool> SettingsStore::toBool(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(trimmed, &ok);
    if (ok && std::isfinite(number))
        return number != 0.0;
    return std::nullopt;
}

QString SettingsStore::fromBool(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace gm
