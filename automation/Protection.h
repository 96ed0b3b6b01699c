#pragma once

// Passwords and permissions of workbook and worksheet protection, shared by the package editor
// and the record editor: the two password hashes the file formats store, computed once per run.

#include <QByteArray>
#include <QString>

#include <array>

namespace gm {

// The actions a protected worksheet may allow, in the order the protection panel lists them.
enum class SheetPermission {
    FormatCells,
    FormatColumns,
    FormatRows,
    InsertColumns,
    InsertRows,
    InsertHyperlinks,
    DeleteColumns,
    DeleteRows,
    Sort,
    AutoFilter,
    PivotTables,
};
inline constexpr int kSheetPermissionCount = 11;

struct SheetPermissions
{
    quint16 bits = 0; // bit i: the permission with value i is allowed

    bool allows(SheetPermission permission) const { return bits & (1u << int(permission)); }
    void allow(SheetPermission permission, bool allowed = true)
    {
        bits = allowed ? quint16(bits | (1u << int(permission))) : quint16(bits & ~(1u << int(permission)));
    }
    bool operator==(const SheetPermissions &) const = default;
};

// The names of the permissions on the command line and in the package's sheetProtection
// attributes, by permission.
inline constexpr std::array<const char *, kSheetPermissionCount> kSheetPermissionNames{"format-cells", "format-columns",
    "format-rows", "insert-columns", "insert-rows", "insert-hyperlinks", "delete-columns", "delete-rows", "sort",
    "autofilter", "pivot-tables"};

// The iterated hash of the Open XML formats: H = hash(salt ‖ UTF-16LE(password)), then spinCount
// times H = hash(H ‖ LE32(i)). An empty result for an algorithm name that is not known.
QByteArray isoPasswordHash(const QString &algorithmName, const QString &password, const QByteArray &salt, quint32 spinCount);

// The 16-bit verifier of the older formats over a byte string; 0 for an empty one. Some
// writers take bytes of 0x80 and above as negative numbers (signExtended).
quint16 legacyPasswordVerifier(const QByteArray &bytes, bool signExtended = false);
// The bytes the 16-bit verifier is taken over: the password in the ANSI code page of a
// Simplified-Chinese system (GBK); characters that code page lacks become "?".
QByteArray legacyPasswordBytes(const QString &password);

// A protection password ready to be written: its text, the 16-bit verifier and a SHA-512 hash
// with a random salt. The hash takes some 100,000 rounds, so a run makes it once and uses it
// for every workbook and worksheet.
class ProtectionPassword
{
public:
    static constexpr quint32 kSpinCount = 100000;

    ProtectionPassword() = default; // no password: protection without one
    explicit ProtectionPassword(const QString &text);

    bool isEmpty() const { return m_text.isEmpty(); }
    const QString &text() const { return m_text; }
    quint16 legacyVerifier() const { return m_legacy; }
    QByteArray salt() const { return m_salt; }
    QByteArray hash() const { return m_hash; }

    // Whether this password opens protection stored in the ISO form (base64 salt and hash)...
    bool matchesIso(const QString &algorithmName, const QString &saltBase64, const QString &hashBase64,
        const QString &spinCount) const;
    // ...or in the 16-bit form. Besides the verifier written here (GBK bytes, unsigned), those
    // other writers take (UTF-8 bytes, bytes as signed numbers) are accepted, so that
    // protection another program set with this password is recognised.
    bool matchesLegacy(quint16 verifier) const;

private:
    QString m_text;
    quint16 m_legacy = 0;
    QByteArray m_salt;
    QByteArray m_hash;
};

} // namespace gm
