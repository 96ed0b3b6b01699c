#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct zip;
struct z_stream_s;

namespace gm::xlsx {

// The deflate level of every entry the package editor compresses. A worksheet's XML is highly
// repetitive: zlib's level 5 makes it as small as its default level 6, at half the time, and
// the maximum level (9), libzip's own default, takes six times longer again for nothing.
constexpr int kDeflateLevel = 5;

// Raw deflate data (as zip entries hold it) at kDeflateLevel, built in a growing buffer: bytes
// are added with add(), and finish() ends the stream. Throws EngineError(SaveFailed).
// Without a dictionary or primed bits, what is added is held (up to kWholeBytes) and compressed
// whole at finish() by a whole-buffer compressor, several times faster than zlib's streaming one
// at the same size; past that size, or continuing a stream, it goes through zlib as it comes.
class RawDeflater
{
public:
    // `level`: the zlib level of data compressed as a stream (after setDictionary() or
    // prime(), or past kWholeBytes).
    explicit RawDeflater(int level = kDeflateLevel);
    ~RawDeflater();
    RawDeflater(const RawDeflater &) = delete;
    RawDeflater &operator=(const RawDeflater &) = delete;

    static constexpr qsizetype kWholeBytes = 64 * 1024 * 1024;

    // Both only before the first add(). The text that precedes the new data in the stream,
    // whose last 32 KiB later matches may refer to.
    void setDictionary(const char *data, qsizetype size);
    // `bits` bits of `value` (lowest first) go before the new blocks, so that they can
    // continue a stream whose kept part ends inside a byte.
    void prime(int bits, quint32 value);

    void add(const char *data, qsizetype size);
    // With `inflateBack`, data compressed whole is inflated again and compared with what was
    // added (throws SaveFailed when it differs); inflatedBack() then says so.
    QByteArray finish(bool inflateBack = false);
    bool inflatedBack() const { return m_inflatedBack; }

private:
    void startStream();
    void run(const char *data, qsizetype size, int flush);

    int m_level;
    std::unique_ptr<z_stream_s> m_stream; // null while the data is held whole
    QByteArray m_held;
    QByteArray m_out;
    bool m_inflatedBack = false;
};

// The CRC-32 of zip entries, continued from `crc` (0 to start) over `size` bytes.
quint32 zipCrc32(quint32 crc, const char *data, qsizetype size);

// A zip archive, read through libzip. Entry names are looked up without regard to letter
// case, as package part names compare that way; an archive holding two entries whose names
// differ only in case is refused as damaged. Failures throw EngineError(Damaged).
// libzip's strict consistency check is not used: it rejects archives whose local and central
// time stamps differ, which libzip itself writes when it rewrites a package made by another
// program with an invalid DOS date. Reading every entry (verifyEntries) checks the data.
class ZipArchive
{
public:
    // An archive held in memory (kept for rebuilding) or read from a file on disk.
    static ZipArchive fromBytes(QByteArray bytes);
    static ZipArchive fromFile(const QString &path);

    ZipArchive(ZipArchive &&other) noexcept;
    ZipArchive &operator=(ZipArchive &&other) noexcept;
    ZipArchive(const ZipArchive &) = delete;
    ZipArchive &operator=(const ZipArchive &) = delete;
    ~ZipArchive();

    // Entry names in archive order, as stored.
    const QStringList &entryNames() const { return m_names; }
    bool contains(const QString &name) const;
    // The stored spelling of a name looked up without regard to case; "" when absent.
    QString storedName(const QString &name) const;
    // Uncompressed content; the CRC is checked. Throws Damaged for a missing or bad entry.
    QByteArray read(const QString &name) const;
    // Reads every entry to its end, in chunks, so that each CRC is checked. Deflated entries
    // named in `hold` are kept inflated, with their block boundaries, while they fit in
    // kHeldBytes together: later reads of them (read, readChunks, readBlocks) hand over what
    // was checked here instead of inflating the entry again.
    void verifyEntries(const QStringList &hold = {}) const;
    static constexpr qint64 kHeldBytes = 32 * 1024 * 1024;

    struct EntryInfo
    {
        quint16 method = 0; // zip compression method: 0 stored, 8 deflated
        quint32 crc = 0;
        qint64 size = 0;
        qint64 compressedSize = 0;
    };
    // Throws Damaged for a missing entry.
    EntryInfo info(const QString &name) const;

    // The CRC of an entry's text before a position at or before `offset`, as computed when a
    // held entry was checked (every kCrcStep bytes), so that a CRC continued from there need
    // not run over the text before it again. {0, CRC of nothing} for an entry not held.
    struct CrcCheckpoint
    {
        qint64 offset = 0;
        quint32 crc = 0;
    };
    CrcCheckpoint crcCheckpoint(const QString &name, qint64 offset) const;
    static constexpr qint64 kCrcStep = 16 * 1024;

    using ChunkSink = std::function<void(const char *data, qsizetype size)>;
    // The uncompressed content in chunks, so that a large entry is never held whole; the CRC
    // and the size are checked at the end. Throws Damaged.
    void readChunks(const QString &name, const ChunkSink &sink) const;
    // The entry's stored bytes (compressed, as they sit in the archive) in chunks.
    void readStored(const QString &name, const ChunkSink &sink) const;
    // The uncompressed content of a deflated entry in chunks, as readChunks, and where each
    // deflate block after the first starts: `boundary` is called with the block's first bit in
    // the stored bytes and the CRC of the text before it, once that text has gone to `sink`.
    // The end of the last block is not reported. The CRC and the size are checked at the end.
    // Throws Damaged.
    using BoundarySink = std::function<void(qint64 bit, quint32 crc)>;
    void readBlocks(const QString &name, const ChunkSink &sink, const BoundarySink &boundary) const;
    // Throws Damaged unless `copy` holds the entry with the same method, CRC, sizes and stored
    // bytes: an entry copied through unchanged reads back as well as it did here, without
    // being inflated again.
    void expectSameStored(const ZipArchive &copy, const QString &name) const;

    // New content given as deflate data: the first `keptBytes` stored bytes of the entry of the
    // same name in this archive, followed by `appended`. Lets a change to the end of a large
    // entry reuse its compressed beginning instead of compressing it again.
    struct Deflated
    {
        qint64 keptBytes = 0;
        QByteArray appended;
        quint32 crc = 0; // of the whole new uncompressed content
        qint64 size = 0; // of the whole new uncompressed content
        // A bit of the kept bytes written as 0: the last-block flag of a kept block that no
        // longer ends the stream. -1 for none.
        qint64 clearedBit = -1;
        // The new stored bytes were inflated when they were made, from a block boundary of the
        // kept bytes on, and gave exactly the text they stand for; the bits before that
        // boundary are the entry's own, which inflated to the same text when it was read. A
        // stored entry holding these bytes (expectDeflated) therefore holds that text.
        bool proven = false;
    };

    struct Change
    {
        QString name;    // entry to replace, or to append when the archive has none of that name
        QByteArray data; // new uncompressed content, unless `deflated` gives it
        std::optional<Deflated> deflated;
        bool remove = false; // the entry is left out of the new archive
    };
    // A new archive of the in-memory bytes with the changes applied. Entries that are not
    // changed keep their stored bytes (headers, compressed data, order) exactly; replaced
    // entries keep their position, extra fields and time stamp; new entries are appended with
    // the time stamp 1980-01-01 00:00 that Excel gives its entries; removed entries are left out.
    // Content given as data is deflated at kDeflateLevel.
    QByteArray rebuilt(const std::vector<Change> &changes) const;
    // Throws Damaged unless this archive's entry `name` is stored deflated with exactly the
    // bytes `deflated` describes (the kept bytes of `original`'s entry, then the appended
    // ones), and the CRC and size it gives.
    void expectDeflated(const ZipArchive &original, const QString &name, const Deflated &deflated) const;

private:
    ZipArchive() = default;
    void index();
    qint64 indexOf(const QString &name) const;

    struct Held
    {
        QByteArray text;
        struct Block
        {
            qint64 bit = 0; // where the block starts in the stored bytes
            qint64 offset = 0; // where its text starts
            quint32 crc = 0; // of the text before it
        };
        std::vector<Block> blocks; // every block but the first
        std::vector<quint32> crcs; // crcs[k]: of the text before k * kCrcStep
    };
    const Held *held(qint64 index) const;
    void inflateBlocks(qint64 index, const QString &name, const ChunkSink &sink, const BoundarySink &boundary,
        std::vector<quint32> *checkpoints = nullptr) const;

    QByteArray m_bytes;
    ::zip *m_zip = nullptr;
    QStringList m_names;
    QHash<QString, qint64> m_byFoldedName;
    mutable std::map<qint64, Held> m_held; // key: entry index
};

} // namespace gm::xlsx
