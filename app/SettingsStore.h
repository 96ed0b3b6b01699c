#pragma once

// Per-user settings: text values addressed by section and key under the application name
// "Gridmule". Numbers are written as decimal digits, booleans as "True" or "False". A value
// that cannot be converted to the type a caller needs leaves the caller's variable as it was.

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace gm {

class SettingsStore
{
public:
    // The user's own store.
    SettingsStore();
    // A store kept in one INI file (tests, portable use).
    explicit SettingsStore(const QString &iniFile);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString read(const QString &section, const QString &key, const QString &defaultValue = {}) const;
    void write(const QString &section, const QString &key, const QString &value);
    void writeNumber(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void sync();

    // Typed reads: a missing value yields the default; a value that does not convert leaves
    // the variable unchanged.
    void readInt16(const QString &section, const QString &key, int defaultValue, int &variable) const;
    void readInt32(const QString &section, const QString &key, int defaultValue, int &variable) const;
    void readBool(const QString &section, const QString &key, bool defaultValue, bool &variable) const;

    // Conversions of stored text. Whole numbers accept blanks around them and a fraction,
    // rounded half to even; booleans accept True/False in any case and numbers (0 is false).
    static std::optional<int> toInt16(const QString &text);
    static std::optional<int> toInt32(const QString &text);
    static std::optional<bool> toBool(const QString &text);
    static QString fromBool(bool value);

private:
    bool contains(const QString &section, const QString &key) const;

    std::unique_ptr<QSettings> m_settings;
};

} // namespace gm
