#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace gm::ole {

// One entry of a compound file: a storage with its class id and children, or a stream with
// its bytes. Names are UTF-8 as the container library gives them ("\005SummaryInformation").
struct CompoundEntry
{
    QByteArray name;
    bool isStorage = false;
    QByteArray classId; // storages: 16 bytes as stored
    QByteArray data; // streams
    std::vector<CompoundEntry> children;

    CompoundEntry *child(const QByteArray &childName);
    const CompoundEntry *child(const QByteArray &childName) const;
};

// Reads and writes whole compound files (OLE2 structured storage) through libgsf. Writing
// uses 512-byte sectors and 64-byte mini sectors; the tree, the class ids of the storages and
// the stream bytes come out as given. Storage time stamps are not kept. libgsf's own
// diagnostics are caught and turned into the details of the errors thrown here.
class CompoundFile
{
public:
    // The tree of a compound file in memory; throws EngineError(Damaged).
    static CompoundEntry read(const QByteArray &bytes);
    // The same for a file; throws EngineError(FileNotFound, PermissionDenied, Damaged).
    static CompoundEntry readFile(const QString &path);
    // The bytes of a compound file holding `root`; throws EngineError(WriteFailed).
    static QByteArray write(const CompoundEntry &root);

    // The first difference between two trees as a path and a reason, "" when they are equal.
    // Children are matched by name; their order does not count.
    static QString difference(const CompoundEntry &a, const CompoundEntry &b);

    static bool isCompoundFile(const QByteArray &bytes);

    // Checks the sector allocation that the container library takes on trust: every chain
    // (allocation tables, directory, mini stream, streams) stays inside the file, no sector
    // belongs to two chains, and each stream's chain is long enough for its size. Throws
    // EngineError(Damaged).
    static void verifySectors(const QByteArray &bytes);
};

} // namespace gm::ole
