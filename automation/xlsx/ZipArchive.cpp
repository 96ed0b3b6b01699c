#include "automation/xlsx/ZipArchive.h"

#include "automation/EngineError.h"

#include <QFile>
#include <QSet>

#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace gm::xlsx {

namespace {

QString zipErrorText(zip_error_t *error)
{
    return QString::fromUtf8(zip_error_strerror(error));
}

[[noreturn]] void throwDamaged(const QString &detail)
{
    throw EngineError(ErrorCode::Damaged, detail);
}

struct ZipFileCloser
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

// The whole-buffer compressor's level. On worksheet XML its level 1 comes within 3% of zlib's
// kDeflateLevel in size at a sixth of the time; its levels 2 to 4 are no smaller and slower,
// and level 5, 4% smaller than zlib's, takes four times as long as level 1.
constexpr int kWholeDeflateLevel = 1;

struct LibdeflateCompressorFree
{
    void operator()(libdeflate_compressor *compressor) const { libdeflate_free_compressor(compressor); }
};

struct LibdeflateDecompressorFree
{
    void operator()(libdeflate_decompressor *decompressor) const { libdeflate_free_decompressor(decompressor); }
};

} // namespace

quint32 zipCrc32(quint32 crc, const char *data, qsizetype size)
{
    // libdeflate takes a null buffer as a request for the initial value, whatever the size.
    if (size <= 0)
        return crc;
    return quint32(libdeflate_crc32(crc, data, size_t(size)));
}

RawDeflater::RawDeflater(int level) : m_level(level) { }

void RawDeflater::startStream()
{
    if (m_stream)
        return;
    constexpr int rawDeflateWindowBits = -15;
    auto stream = std::make_unique<z_stream>();
    if (deflateInit2(stream.get(), m_level, Z_DEFLATED, rawDeflateWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate: out of memory"));
    m_stream = std::move(stream);
    // What was held so far goes first.
    const QByteArray held = std::exchange(m_held, QByteArray());
    if (!held.isEmpty())
        run(held.constData(), held.size(), Z_NO_FLUSH);
}

void RawDeflater::setDictionary(const char *data, qsizetype size)
{
    startStream();
    constexpr qsizetype window = 32 * 1024;
    if (size > window) {
        data += size - window;
        size = window;
    }
    if (size > 0 && deflateSetDictionary(m_stream.get(), reinterpret_cast<const Bytef *>(data), uInt(size)) != Z_OK)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate: cannot set the preceding text"));
}

void RawDeflater::prime(int bits, quint32 value)
{
    startStream();
    // zlib takes at most 16 bits at a time.
    while (bits > 0) {
        const int now = std::min(bits, 16);
        if (deflatePrime(m_stream.get(), now, int(value & ((1u << now) - 1))) != Z_OK)
            throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate: cannot continue the stream"));
        value >>= now;
        bits -= now;
    }
}

RawDeflater::~RawDeflater()
{
    if (m_stream)
        deflateEnd(m_stream.get());
}

void RawDeflater::add(const char *data, qsizetype size)
{
    if (!m_stream && m_held.size() + size <= kWholeBytes) {
        m_held.append(data, size);
        return;
    }
    startStream();
    run(data, size, Z_NO_FLUSH);
}

QByteArray RawDeflater::finish(bool inflateBack)
{
    if (m_stream) {
        run(nullptr, 0, Z_FINISH);
        return std::move(m_out);
    }
    std::unique_ptr<libdeflate_compressor, LibdeflateCompressorFree> compressor(libdeflate_alloc_compressor(kWholeDeflateLevel));
    if (!compressor)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate: out of memory"));
    const size_t bound = libdeflate_deflate_compress_bound(compressor.get(), size_t(m_held.size()));
    QByteArray out(qsizetype(bound), Qt::Uninitialized);
    const size_t written
        = libdeflate_deflate_compress(compressor.get(), m_held.constData(), size_t(m_held.size()), out.data(), bound);
    if (written == 0)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate failed"));
    out.resize(qsizetype(written));
    if (inflateBack) {
        std::unique_ptr<libdeflate_decompressor, LibdeflateDecompressorFree> decompressor(libdeflate_alloc_decompressor());
        if (!decompressor)
            throw EngineError(ErrorCode::SaveFailed, QStringLiteral("inflate: out of memory"));
        QByteArray back(m_held.size(), Qt::Uninitialized);
        size_t inUsed = 0;
        size_t outUsed = 0;
        const libdeflate_result result = libdeflate_deflate_decompress_ex(
            decompressor.get(), out.constData(), size_t(out.size()), back.data(), size_t(back.size()), &inUsed, &outUsed);
        if (result != LIBDEFLATE_SUCCESS || inUsed != size_t(out.size()) || outUsed != size_t(back.size())
            || back != m_held)
            throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate: the compressed data does not inflate to its text"));
        m_inflatedBack = true;
    }
    m_held = QByteArray();
    return out;
}

void RawDeflater::run(const char *data, qsizetype size, int flush)
{
    constexpr qsizetype chunkSize = 256 * 1024;
    m_stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    m_stream->avail_in = uInt(size);
    int result = Z_OK;
    do {
        const qsizetype before = m_out.size();
        m_out.resize(before + chunkSize);
        m_stream->next_out = reinterpret_cast<Bytef *>(m_out.data() + before);
        m_stream->avail_out = uInt(chunkSize);
        result = deflate(m_stream.get(), flush);
        m_out.resize(m_out.size() - qsizetype(m_stream->avail_out));
        if (result == Z_STREAM_ERROR)
            throw EngineError(ErrorCode::SaveFailed, QStringLiteral("deflate failed"));
    } while (m_stream->avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
}

ZipArchive ZipArchive::fromBytes(QByteArray bytes)
{
    ZipArchive archive;
    archive.m_bytes = std::move(bytes);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(archive.m_bytes.constData(),
                                                    zip_uint64_t(archive.m_bytes.size()), 0, &error);
    if (!source) {
        const QString text = zipErrorText(&error);
        zip_error_fini(&error);
        throwDamaged(text);
    }
    archive.m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive.m_zip) {
        zip_source_free(source);
        const QString text = zipErrorText(&error);
        zip_error_fini(&error);
        throwDamaged(text);
    }
    zip_error_fini(&error);
    archive.index();
    return archive;
}

ZipArchive ZipArchive::fromFile(const QString &path)
{
    ZipArchive archive;
    int code = 0;
    archive.m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!archive.m_zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString text = zipErrorText(&error);
        zip_error_fini(&error);
        throwDamaged(text);
    }
    archive.index();
    return archive;
}

ZipArchive::ZipArchive(ZipArchive &&other) noexcept
    : m_bytes(std::move(other.m_bytes)),
      m_zip(std::exchange(other.m_zip, nullptr)),
      m_names(std::move(other.m_names)),
      m_byFoldedName(std::move(other.m_byFoldedName)),
      m_held(std::move(other.m_held))
{
}

ZipArchive &ZipArchive::operator=(ZipArchive &&other) noexcept
{
    if (this != &other) {
        if (m_zip)
            zip_discard(m_zip);
        // The archive reads from m_bytes without copying, so both move together.
        m_bytes = std::move(other.m_bytes);
        m_zip = std::exchange(other.m_zip, nullptr);
        m_names = std::move(other.m_names);
        m_byFoldedName = std::move(other.m_byFoldedName);
        m_held = std::move(other.m_held);
    }
    return *this;
}

ZipArchive::~ZipArchive()
{
    if (m_zip)
        zip_discard(m_zip);
}

void ZipArchive::index()
{
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *raw = zip_get_name(m_zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        if (!raw)
            throwDamaged(QStringLiteral("unreadable entry name at index %1").arg(i));
        const QString name = QString::fromUtf8(raw);
        const QString folded = name.toCaseFolded();
        if (m_byFoldedName.contains(folded))
            throwDamaged(QStringLiteral("duplicate entry %1").arg(name));
        m_byFoldedName.insert(folded, i);
        m_names.append(name);
    }
}

qint64 ZipArchive::indexOf(const QString &name) const
{
    return m_byFoldedName.value(name.toCaseFolded(), -1);
}

bool ZipArchive::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

QString ZipArchive::storedName(const QString &name) const
{
    const qint64 i = indexOf(name);
    return i < 0 ? QString() : m_names.at(i);
}

QByteArray ZipArchive::read(const QString &name) const
{
    const qint64 i = indexOf(name);
    if (i < 0)
        throwDamaged(QStringLiteral("missing part %1").arg(name));
    if (const Held *entry = held(i))
        return entry->text;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_zip, zip_uint64_t(i), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
        throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
    if (stat.size > zip_uint64_t(std::numeric_limits<int>::max()))
        throwDamaged(QStringLiteral("%1: entry too large").arg(name));
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(m_zip, zip_uint64_t(i), 0));
    if (!file)
        throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
    QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
    qsizetype done = 0;
    // Read to the end: the CRC is checked only when the end of the entry is reached.
    while (true) {
        char probe[1];
        char *target = done < data.size() ? data.data() + done : probe;
        const zip_uint64_t room = done < data.size() ? zip_uint64_t(data.size() - done) : 1;
        const zip_int64_t n = zip_fread(file.get(), target, room);
        if (n < 0) {
            throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
        }
        if (n == 0)
            break;
        if (target == probe)
            throwDamaged(QStringLiteral("%1: longer than its recorded size").arg(name));
        done += qsizetype(n);
    }
    if (done != data.size())
        throwDamaged(QStringLiteral("%1: shorter than its recorded size").arg(name));
    return data;
}

void ZipArchive::verifyEntries(const QStringList &hold) const
{
    QSet<qint64> wanted;
    for (const QString &name : hold) {
        if (const qint64 i = indexOf(name); i >= 0)
            wanted.insert(i);
    }
    qint64 room = kHeldBytes;
    for (qint64 i = 0; i < m_names.size(); ++i) {
        const QString &name = m_names.at(i);
        if (held(i))
            continue;
        const EntryInfo entry = info(name);
        if (entry.method != 8 || entry.size > room || !wanted.contains(i)) {
            readChunks(name, [](const char *, qsizetype) {});
            continue;
        }
        // The one inflate of the entry checks it and keeps what a later read needs.
        Held kept;
        kept.text.reserve(qsizetype(entry.size));
        inflateBlocks(
            i, name, [&kept](const char *data, qsizetype size) { kept.text.append(data, size); },
            [&kept](qint64 bit, quint32 crc) { kept.blocks.push_back({bit, kept.text.size(), crc}); }, &kept.crcs);
        room -= entry.size;
        m_held.emplace(i, std::move(kept));
    }
}

ZipArchive::CrcCheckpoint ZipArchive::crcCheckpoint(const QString &name, qint64 offset) const
{
    const qint64 i = indexOf(name);
    const Held *entry = i >= 0 ? held(i) : nullptr;
    if (!entry || entry->crcs.empty() || offset < 0)
        return CrcCheckpoint{0, 0};
    const qint64 k = std::min<qint64>(offset / kCrcStep, qint64(entry->crcs.size()) - 1);
    return CrcCheckpoint{k * kCrcStep, entry->crcs[size_t(k)]};
}

const ZipArchive::Held *ZipArchive::held(qint64 index) const
{
    const auto it = m_held.find(index);
    return it == m_held.end() ? nullptr : &it->second;
}

ZipArchive::EntryInfo ZipArchive::info(const QString &name) const
{
    const qint64 i = indexOf(name);
    if (i < 0)
        throwDamaged(QStringLiteral("missing part %1").arg(name));
    zip_stat_t stat;
    zip_stat_init(&stat);
    constexpr zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if (zip_stat_index(m_zip, zip_uint64_t(i), 0, &stat) != 0 || (stat.valid & needed) != needed)
        throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
    if (stat.size > zip_uint64_t(std::numeric_limits<qint64>::max())
        || stat.comp_size > zip_uint64_t(std::numeric_limits<qint64>::max()))
        throwDamaged(QStringLiteral("%1: entry too large").arg(name));
    return EntryInfo{stat.comp_method, stat.crc, qint64(stat.size), qint64(stat.comp_size)};
}

namespace {

// Entries are read and inflated this much at a time.
constexpr qsizetype kChunkSize = 256 * 1024;

void streamEntry(
    zip_t *za, qint64 index, const QString &name, zip_flags_t flags, qint64 expectedSize, const ZipArchive::ChunkSink &sink)
{
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(za, zip_uint64_t(index), flags));
    if (!file)
        throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(za))));
    std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    qint64 done = 0;
    // Read to the end: the CRC is checked only when the end of the entry is reached.
    while (true) {
        const zip_int64_t n = zip_fread(file.get(), buffer.get(), kChunkSize);
        if (n < 0)
            throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
        if (n == 0)
            break;
        done += n;
        if (done > expectedSize)
            throwDamaged(QStringLiteral("%1: longer than its recorded size").arg(name));
        sink(buffer.get(), qsizetype(n));
    }
    if (done != expectedSize)
        throwDamaged(QStringLiteral("%1: shorter than its recorded size").arg(name));
}

// Text held in memory, handed over in chunks of at most kChunkSize bytes, none crossing
// `until`.
void sendHeld(const QByteArray &text, qsizetype from, qsizetype until, const ZipArchive::ChunkSink &sink)
{
    for (qsizetype at = from; at < until; at += kChunkSize)
        sink(text.constData() + at, std::min(kChunkSize, until - at));
}

struct InflateEnd
{
    void operator()(z_stream *stream) const { inflateEnd(stream); }
};

} // namespace

void ZipArchive::readChunks(const QString &name, const ChunkSink &sink) const
{
    const qint64 i = indexOf(name);
    if (const Held *entry = i >= 0 ? held(i) : nullptr) {
        sendHeld(entry->text, 0, entry->text.size(), sink);
        return;
    }
    streamEntry(m_zip, i, name, 0, info(name).size, sink);
}

void ZipArchive::readBlocks(const QString &name, const ChunkSink &sink, const BoundarySink &boundary) const
{
    const qint64 i = indexOf(name);
    if (i < 0)
        throwDamaged(QStringLiteral("missing part %1").arg(name));
    if (const Held *entry = held(i)) {
        qsizetype from = 0;
        for (const Held::Block &block : entry->blocks) {
            sendHeld(entry->text, from, qsizetype(block.offset), sink);
            from = qsizetype(block.offset);
            boundary(block.bit, block.crc);
        }
        sendHeld(entry->text, from, entry->text.size(), sink);
        return;
    }
    inflateBlocks(i, name, sink, boundary);
}

void ZipArchive::inflateBlocks(qint64 index, const QString &name, const ChunkSink &sink, const BoundarySink &boundary,
    std::vector<quint32> *checkpoints) const
{
    const EntryInfo entry = info(name);
    if (entry.method != 8)
        throwDamaged(QStringLiteral("%1: not deflated").arg(name));
    z_stream stream{};
    constexpr int rawInflateWindowBits = -15;
    if (inflateInit2(&stream, rawInflateWindowBits) != Z_OK)
        throwDamaged(QStringLiteral("%1: inflate: out of memory").arg(name));
    std::unique_ptr<z_stream, InflateEnd> guard(&stream);
    std::unique_ptr<char[]> buffer(new char[kChunkSize]);
    quint32 crc = 0;
    qint64 size = 0;
    bool ended = false;
    streamEntry(m_zip, index, name, ZIP_FL_COMPRESSED, entry.compressedSize, [&](const char *data, qsizetype length) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        stream.avail_in = uInt(length);
        while (!ended) {
            stream.next_out = reinterpret_cast<Bytef *>(buffer.get());
            stream.avail_out = uInt(kChunkSize);
            // Z_BLOCK stops at every block boundary, so that each one can be reported.
            const int result = inflate(&stream, Z_BLOCK);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(stream.msg ? stream.msg : "inflate failed")));
            const qsizetype produced = kChunkSize - qsizetype(stream.avail_out);
            if (produced > 0) {
                size += produced;
                if (size > entry.size)
                    throwDamaged(QStringLiteral("%1: longer than its recorded size").arg(name));
                if (checkpoints) {
                    // The CRC is taken in steps that end on multiples of kCrcStep, each recorded.
                    const qint64 start = size - produced;
                    if (checkpoints->empty())
                        checkpoints->push_back(crc);
                    for (qint64 at = start; at < size;) {
                        const qint64 stop = std::min(size, (at / kCrcStep + 1) * kCrcStep);
                        crc = zipCrc32(crc, buffer.get() + (at - start), qsizetype(stop - at));
                        if (stop % kCrcStep == 0)
                            checkpoints->push_back(crc);
                        at = stop;
                    }
                } else {
                    crc = zipCrc32(crc, buffer.get(), produced);
                }
                sink(buffer.get(), produced);
            }
            ended = result == Z_STREAM_END;
            // The end of a block that is not the last one: the next block starts here.
            const bool atBoundary = result == Z_OK && (stream.data_type & 128);
            if (atBoundary && !(stream.data_type & 64))
                boundary(qint64(stream.total_in) * 8 - (stream.data_type & 7), crc);
            // At a boundary, go on: the final block's end is reported before the stream's.
            if (result == Z_BUF_ERROR || (stream.avail_in == 0 && stream.avail_out > 0 && !atBoundary))
                break;
        }
    });
    if (!ended)
        throwDamaged(QStringLiteral("%1: compressed data ends early").arg(name));
    if (crc != entry.crc || size != entry.size)
        throwDamaged(QStringLiteral("%1: CRC or size mismatch").arg(name));
}

void ZipArchive::readStored(const QString &name, const ChunkSink &sink) const
{
    streamEntry(m_zip, indexOf(name), name, ZIP_FL_COMPRESSED, info(name).compressedSize, sink);
}

void ZipArchive::expectSameStored(const ZipArchive &copy, const QString &name) const
{
    const EntryInfo mine = info(name);
    const EntryInfo theirs = copy.info(name);
    if (mine.method != theirs.method || mine.crc != theirs.crc || mine.size != theirs.size
        || mine.compressedSize != theirs.compressedSize)
        throwDamaged(QStringLiteral("%1: not copied as stored").arg(name));
    // Both streams are read in chunks of their own sizes: the copy's chunks are compared with
    // what is held of this entry's stream so far.
    QByteArray pending;
    qint64 compared = 0;
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(m_zip, zip_uint64_t(indexOf(name)), ZIP_FL_COMPRESSED));
    if (!file)
        throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
    copy.readStored(name, [&](const char *data, qsizetype size) {
        pending.resize(size);
        qsizetype done = 0;
        while (done < size) {
            const zip_int64_t n = zip_fread(file.get(), pending.data() + done, zip_uint64_t(size - done));
            if (n <= 0)
                throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
            done += qsizetype(n);
        }
        if (std::memcmp(pending.constData(), data, size_t(size)) != 0)
            throwDamaged(QStringLiteral("%1: stored bytes differ from the original").arg(name));
        compared += size;
    });
    if (compared != mine.compressedSize)
        throwDamaged(QStringLiteral("%1: not copied whole").arg(name));
}

void ZipArchive::expectDeflated(const ZipArchive &original, const QString &name, const Deflated &deflated) const
{
    const EntryInfo mine = info(name);
    const qint64 total = deflated.keptBytes + deflated.appended.size();
    if (mine.method != 8 || mine.crc != deflated.crc || mine.size != deflated.size || mine.compressedSize != total)
        throwDamaged(QStringLiteral("%1 differs from the built part").arg(name));
    std::unique_ptr<zip_file_t, ZipFileCloser> kept;
    if (deflated.keptBytes > 0) {
        kept.reset(zip_fopen_index(original.m_zip, zip_uint64_t(original.indexOf(name)), ZIP_FL_COMPRESSED));
        if (!kept)
            throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(original.m_zip))));
    }
    // The stored bytes are compared, chunk by chunk, with the ones the entry was built from.
    QByteArray expected;
    qint64 position = 0;
    readStored(name, [&](const char *data, qsizetype size) {
        expected.resize(size);
        qsizetype done = 0;
        while (done < size && position + done < deflated.keptBytes) {
            const zip_uint64_t want = zip_uint64_t(std::min<qint64>(size - done, deflated.keptBytes - position - done));
            const zip_int64_t n = zip_fread(kept.get(), expected.data() + done, want);
            if (n <= 0)
                throwDamaged(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_file_strerror(kept.get()))));
            done += qsizetype(n);
        }
        if (done < size)
            std::memcpy(expected.data() + done, deflated.appended.constData() + (position + done - deflated.keptBytes), size_t(size - done));
        const qint64 cleared = deflated.clearedBit / 8;
        if (deflated.clearedBit >= 0 && cleared >= position && cleared < position + size)
            expected[qsizetype(cleared - position)] = char(expected.at(qsizetype(cleared - position)) & ~(1 << (deflated.clearedBit % 8)));
        if (std::memcmp(expected.constData(), data, size_t(size)) != 0)
            throwDamaged(QStringLiteral("%1 differs from the built part").arg(name));
        position += size;
    });
    if (position != total)
        throwDamaged(QStringLiteral("%1 differs from the built part").arg(name));
}

namespace {

// A libzip source that hands over already deflated data: the leading stored bytes of an entry
// of the original archive, then new bytes. libzip copies such data without compressing it.
struct DeflatedSource
{
    zip_t *original = nullptr;
    qint64 index = -1;
    ZipArchive::Deflated data;
    std::unique_ptr<zip_file_t, ZipFileCloser> file;
    qint64 position = 0;
    zip_error_t error;
};

zip_int64_t deflatedSourceCallback(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *source = static_cast<DeflatedSource *>(userdata);
    const qint64 total = source->data.keptBytes + source->data.appended.size();
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source->position = 0;
        source->file.reset();
        if (source->data.keptBytes > 0) {
            source->file.reset(zip_fopen_index(source->original, zip_uint64_t(source->index), ZIP_FL_COMPRESSED));
            if (!source->file) {
                zip_error_set(&source->error, ZIP_ER_READ, 0);
                return -1;
            }
        }
        return 0;
    case ZIP_SOURCE_READ: {
        char *out = static_cast<char *>(data);
        zip_uint64_t done = 0;
        while (done < length && source->position < total) {
            if (source->position < source->data.keptBytes) {
                const zip_uint64_t want
                    = std::min<zip_uint64_t>(length - done, zip_uint64_t(source->data.keptBytes - source->position));
                const zip_int64_t n = zip_fread(source->file.get(), out + done, want);
                if (n <= 0) {
                    zip_error_set(&source->error, ZIP_ER_READ, 0);
                    return -1;
                }
                const qint64 cleared = source->data.clearedBit / 8;
                if (source->data.clearedBit >= 0 && cleared >= source->position && cleared < source->position + n)
                    out[done + zip_uint64_t(cleared - source->position)] &= char(~(1 << (source->data.clearedBit % 8)));
                done += zip_uint64_t(n);
                source->position += n;
            } else {
                const qint64 from = source->position - source->data.keptBytes;
                const zip_uint64_t n = std::min<zip_uint64_t>(length - done, zip_uint64_t(total - source->position));
                std::memcpy(out + done, source->data.appended.constData() + from, n);
                done += n;
                source->position += qint64(n);
            }
        }
        return zip_int64_t(done);
    }
    case ZIP_SOURCE_CLOSE:
        source->file.reset();
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
        if (!stat)
            return -1;
        zip_stat_init(stat);
        stat->size = zip_uint64_t(source->data.size);
        stat->comp_size = zip_uint64_t(total);
        stat->comp_method = ZIP_CM_DEFLATE;
        stat->crc = source->data.crc;
        stat->encryption_method = ZIP_EM_NONE;
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_ENCRYPTION_METHOD;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&source->error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

QByteArray ZipArchive::rebuilt(const std::vector<Change> &changes) const
{
    if (m_bytes.isEmpty())
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("archive not held in memory"));

    zip_error_t error;
    zip_error_init(&error);
    auto fail = [&error](const QString &what) {
        const QString text = what + QStringLiteral(": ") + zipErrorText(&error);
        zip_error_fini(&error);
        throw EngineError(ErrorCode::SaveFailed, text);
    };

    // The buffer source owns a copy: writing may share (clone) its unchanged leading bytes
    // with the new archive, which libzip then frees itself.
    void *copy = std::malloc(size_t(m_bytes.size()));
    if (!copy)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("out of memory"));
    std::memcpy(copy, m_bytes.constData(), size_t(m_bytes.size()));
    zip_source_t *source = zip_source_buffer_create(copy, zip_uint64_t(m_bytes.size()), 1, &error);
    if (!source) {
        std::free(copy);
        fail(QStringLiteral("zip source"));
    }
    zip_t *za = zip_open_from_source(source, 0, &error);
    if (!za) {
        zip_source_free(source);
        fail(QStringLiteral("zip open"));
    }
    zip_source_keep(source); // the source outlives zip_close(), which writes the new archive into it

    auto abandon = [&](const QString &what) {
        zip_error_set(&error, zip_error_code_zip(zip_get_error(za)), zip_error_code_system(zip_get_error(za)));
        zip_discard(za);
        zip_source_free(source);
        fail(what);
    };

    for (const Change &change : changes) {
        const qint64 i = indexOf(change.name);
        if (change.remove) {
            if (i >= 0 && zip_delete(za, zip_uint64_t(i)) != 0)
                abandon(change.name);
            continue;
        }
        zip_source_t *data = nullptr;
        // Content given as data is compressed here, at the package editor's level: libzip
        // would keep its own maximum level for an entry that was deflated before.
        std::optional<Deflated> compressed = change.deflated;
        if (!compressed && !change.data.isEmpty()) {
            RawDeflater deflater;
            deflater.add(change.data.constData(), change.data.size());
            compressed = Deflated{0, deflater.finish(),
                zipCrc32(0, change.data.constData(), change.data.size()),
                change.data.size(), -1};
        }
        if (compressed) {
            if (compressed->keptBytes > 0 && i < 0)
                throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1: no stored bytes to keep").arg(change.name));
            auto *source = new DeflatedSource{m_zip, i, *std::move(compressed), nullptr, 0, {}};
            zip_error_init(&source->error);
            data = zip_source_function(za, deflatedSourceCallback, source);
            if (!data) {
                zip_error_fini(&source->error);
                delete source;
            }
        } else {
            data = zip_source_buffer(za, change.data.constData(), zip_uint64_t(change.data.size()), 0);
        }
        if (!data)
            abandon(change.name);
        if (i >= 0) {
            zip_stat_t stat;
            zip_stat_init(&stat);
            zip_stat_index(za, zip_uint64_t(i), 0, &stat);
            if (zip_file_replace(za, zip_uint64_t(i), data, 0) != 0) {
                zip_source_free(data);
                abandon(change.name);
            }
            if (stat.valid & ZIP_STAT_MTIME)
                zip_file_set_mtime(za, zip_uint64_t(i), stat.mtime, 0);
        } else {
            const zip_int64_t added = zip_file_add(za, change.name.toUtf8().constData(), data, ZIP_FL_ENC_UTF_8);
            if (added < 0) {
                zip_source_free(data);
                abandon(change.name);
            }
            zip_file_set_dostime(za, zip_uint64_t(added), 0x0000, 0x0021, 0);
        }
    }
    if (zip_close(za) != 0)
        abandon(QStringLiteral("zip write"));

    QByteArray result;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(source, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) || zip_source_open(source) != 0) {
        zip_error_set(&error, zip_error_code_zip(zip_source_error(source)), 0);
        zip_source_free(source);
        fail(QStringLiteral("zip result"));
    }
    result.resize(qsizetype(stat.size));
    qsizetype done = 0;
    while (done < result.size()) {
        const zip_int64_t n = zip_source_read(source, result.data() + done, zip_uint64_t(result.size() - done));
        if (n <= 0)
            break;
        done += qsizetype(n);
    }
    zip_source_close(source);
    zip_source_free(source);
    zip_error_fini(&error);
    if (done != result.size())
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("zip result: short read"));
    return result;
}

} // namespace gm::xlsx
