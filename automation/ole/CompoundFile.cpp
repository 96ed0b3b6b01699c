#include "automation/ole/CompoundFile.h"

#include "automation/EngineError.h"
#include "automation/ole/GsfDiagnostics.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>

#include <map>
#include <memory>

namespace gm::ole {

namespace {

const QByteArray compoundMagic = QByteArray::fromHex("D0CF11E0A1B11AE1");
constexpr gsize chunkSize = 1 << 20;

struct GObjectDeleter
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template<typename T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

void readChildren(GsfInfile *storage, CompoundEntry &entry, const GsfDiagnostics &diagnostics)
{
    const int count = gsf_infile_num_children(storage);
    for (int i = 0; i < count; ++i) {
        CompoundEntry child;
        child.name = QByteArray(gsf_infile_name_by_index(storage, i));
        GObjectPtr<GsfInput> input(gsf_infile_child_by_index(storage, i));
        if (!input)
            throw EngineError(ErrorCode::Damaged,
                diagnostics.detail(QStringLiteral("entry %1 of %2 unreadable")
                                       .arg(QString::fromUtf8(child.name), QString::fromUtf8(entry.name))));
        if (GSF_IS_INFILE(input.get()) && gsf_infile_num_children(GSF_INFILE(input.get())) >= 0) {
            child.isStorage = true;
            child.classId = QByteArray(16, '\0');
            if (GSF_IS_INFILE_MSOLE(input.get()))
                gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(input.get()), reinterpret_cast<guint8 *>(child.classId.data()));
            readChildren(GSF_INFILE(input.get()), child, diagnostics);
        } else {
            const gsf_off_t size = gsf_input_size(input.get());
            child.data.resize(qsizetype(size));
            for (gsf_off_t done = 0; done < size;) {
                const gsize n = gsize(std::min<gsf_off_t>(size - done, chunkSize));
                if (!gsf_input_read(input.get(), n, reinterpret_cast<guint8 *>(child.data.data() + done)))
                    throw EngineError(ErrorCode::Damaged,
                        diagnostics.detail(QStringLiteral("stream %1 unreadable").arg(QString::fromUtf8(child.name))));
                done += gsf_off_t(n);
            }
        }
        entry.children.push_back(std::move(child));
    }
}

void writeChildren(GsfOutfile *storage, const CompoundEntry &entry, const GsfDiagnostics &diagnostics)
{
    for (const CompoundEntry &child : entry.children) {
        auto fail = [&](const QString &what) {
            return EngineError(ErrorCode::WriteFailed, diagnostics.detail(what.arg(QString::fromUtf8(child.name))));
        };
        GObjectPtr<GsfOutput> output(gsf_outfile_new_child(storage, child.name.constData(), child.isStorage));
        if (!output)
            throw fail(QStringLiteral("entry %1 not created"));
        if (child.isStorage) {
            if (child.classId.size() == 16)
                gsf_outfile_msole_set_class_id(
                    GSF_OUTFILE_MSOLE(output.get()), reinterpret_cast<const guint8 *>(child.classId.constData()));
            writeChildren(GSF_OUTFILE(output.get()), child, diagnostics);
        } else {
            for (qsizetype done = 0; done < child.data.size();) {
                const gsize n = gsize(std::min<qsizetype>(child.data.size() - done, qsizetype(chunkSize)));
                if (!gsf_output_write(output.get(), n, reinterpret_cast<const guint8 *>(child.data.constData() + done)))
                    throw fail(QStringLiteral("stream %1 not written"));
                done += qsizetype(n);
            }
        }
        if (!gsf_output_close(output.get()))
            throw fail(QStringLiteral("entry %1 not closed"));
    }
}

bool sameClassId(const QByteArray &a, const QByteArray &b)
{
    const QByteArray none(16, '\0');
    return (a.isEmpty() ? none : a) == (b.isEmpty() ? none : b);
}

QString differenceBelow(const CompoundEntry &a, const CompoundEntry &b, const QString &path)
{
    if (a.isStorage != b.isStorage)
        return path + QStringLiteral(": storage and stream");
    if (!a.isStorage)
        return a.data == b.data ? QString() : path + QStringLiteral(": bytes differ");
    if (!sameClassId(a.classId, b.classId))
        return path + QStringLiteral(": class id differs");
    std::map<QByteArray, const CompoundEntry *> others;
    for (const CompoundEntry &child : b.children)
        others[child.name] = &child;
    if (others.size() != b.children.size() || a.children.size() != b.children.size())
        return path + QStringLiteral(": %1 and %2 entries").arg(a.children.size()).arg(b.children.size());
    for (const CompoundEntry &child : a.children) {
        const QString childPath = path + QLatin1Char('/') + QString::fromUtf8(child.name);
        const auto other = others.find(child.name);
        if (other == others.end())
            return childPath + QStringLiteral(": missing");
        const QString difference = differenceBelow(child, *other->second, childPath);
        if (!difference.isEmpty())
            return difference;
    }
    return {};
}

} // namespace

CompoundEntry *CompoundEntry::child(const QByteArray &childName)
{
    for (CompoundEntry &entry : children) {
        if (entry.name == childName)
            return &entry;
    }
    return nullptr;
}

const CompoundEntry *CompoundEntry::child(const QByteArray &childName) const
{
    return const_cast<CompoundEntry *>(this)->child(childName);
}

bool CompoundFile::isCompoundFile(const QByteArray &bytes)
{
    return bytes.startsWith(compoundMagic);
}

CompoundEntry CompoundFile::read(const QByteArray &bytes)
{
    if (!isCompoundFile(bytes))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no compound file signature"));
    GsfDiagnostics diagnostics;
    GObjectPtr<GsfInput> input(
        gsf_input_memory_new(reinterpret_cast<const guint8 *>(bytes.constData()), gsf_off_t(bytes.size()), FALSE));
    GError *error = nullptr;
    GObjectPtr<GsfInfile> root(gsf_infile_msole_new(input.get(), &error));
    if (!root) {
        const QString detail = diagnostics.detail(QStringLiteral("compound file unreadable"), error);
        if (error)
            g_error_free(error);
        throw EngineError(ErrorCode::Damaged, detail);
    }
    CompoundEntry entry;
    entry.name = "Root Entry";
    entry.isStorage = true;
    entry.classId = QByteArray(16, '\0');
    gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(root.get()), reinterpret_cast<guint8 *>(entry.classId.data()));
    readChildren(root.get(), entry, diagnostics);
    return entry;
}

CompoundEntry CompoundFile::readFile(const QString &path)
{
    QFile file(path);
    if (!QFileInfo::exists(path))
        throw EngineError(ErrorCode::FileNotFound, path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::PermissionDenied, path);
    return read(file.readAll());
}

QByteArray CompoundFile::write(const CompoundEntry &root)
{
    GsfDiagnostics diagnostics;
    GObjectPtr<GsfOutput> sink(gsf_output_memory_new());
    GObjectPtr<GsfOutfile> outfile(gsf_outfile_msole_new_full(sink.get(), 512, 64));
    if (!outfile)
        throw EngineError(ErrorCode::WriteFailed, diagnostics.detail(QStringLiteral("compound file not created")));
    if (root.classId.size() == 16)
        gsf_outfile_msole_set_class_id(
            GSF_OUTFILE_MSOLE(outfile.get()), reinterpret_cast<const guint8 *>(root.classId.constData()));
    writeChildren(outfile.get(), root, diagnostics);
    // Closing the compound file writes its directory and closes the sink too.
    if (!gsf_output_close(GSF_OUTPUT(outfile.get())))
        throw EngineError(ErrorCode::WriteFailed, diagnostics.detail(QStringLiteral("compound file not completed")));
    const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
    const gsf_off_t size = gsf_output_size(sink.get());
    if (!bytes || size <= 0)
        throw EngineError(ErrorCode::WriteFailed, diagnostics.detail(QStringLiteral("compound file empty")));
    return QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
}

void CompoundFile::verifySectors(const QByteArray &bytes)
{
    auto damaged = [](const QString &what) { return EngineError(ErrorCode::Damaged, QStringLiteral("compound file: ") + what); };
    auto u16 = [&](qsizetype at) { return quint16(uchar(bytes[at]) | (uchar(bytes[at + 1]) << 8)); };
    auto u32 = [&](qsizetype at) { return quint32(u16(at)) | (quint32(u16(at + 2)) << 16); };
    constexpr quint32 lastRegular = 0xFFFFFFF9;
    if (!isCompoundFile(bytes) || bytes.size() < 512)
        throw damaged(QStringLiteral("no header"));
    const int shift = u16(30);
    if (shift != 9 && shift != 12)
        throw damaged(QStringLiteral("sector shift %1").arg(shift));
    const qsizetype sectorSize = qsizetype(1) << shift;
    const quint32 sectors = quint32((bytes.size() - sectorSize + sectorSize - 1) / sectorSize);
    auto sectorAt = [&](quint32 sector) { return sectorSize * (qsizetype(sector) + 1); };
    auto inFile = [&](quint32 sector) { return sector < sectors && sectorAt(sector) + sectorSize <= bytes.size() + sectorSize; };
    auto read32 = [&](quint32 sector, qsizetype index) {
        const qsizetype at = sectorAt(sector) + 4 * index;
        return at + 4 <= bytes.size() ? u32(at) : 0xFFFFFFFFu; // a short last sector reads as free
    };

    std::vector<int> owner(sectors, -1);
    auto claim = [&](quint32 sector, int by) {
        if (!inFile(sector))
            throw damaged(QStringLiteral("sector %1 outside the file").arg(sector));
        if (owner[sector] != -1)
            throw damaged(QStringLiteral("sector %1 used twice").arg(sector));
        owner[sector] = by;
    };

    // The allocation table's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<quint32> fatSectors;
    const quint32 fatCount = u32(44);
    for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(u32(76 + 4 * i));
    quint32 difat = u32(68);
    for (quint32 n = 0; n < u32(72) && difat <= lastRegular && fatSectors.size() < fatCount; ++n) {
        claim(difat, 0);
        for (qsizetype i = 0; i + 1 < sectorSize / 4 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(read32(difat, i));
        difat = read32(difat, sectorSize / 4 - 1);
    }
    std::vector<quint32> fat;
    for (quint32 sector : fatSectors) {
        claim(sector, 0);
        for (qsizetype i = 0; i < sectorSize / 4; ++i)
            fat.push_back(read32(sector, i));
    }
    int nextOwner = 1;
    auto chain = [&](quint32 start) {
        const int by = nextOwner++;
        quint32 length = 0;
        for (quint32 sector = start; sector <= lastRegular; sector = fat[sector]) {
            if (sector >= fat.size())
                throw damaged(QStringLiteral("sector %1 beyond the allocation table").arg(sector));
            claim(sector, by);
            ++length;
        }
        return length;
    };

    const quint32 directorySectors = chain(u32(48));
    if (u32(60) <= lastRegular)
        chain(u32(60));
    const quint32 miniCutoff = u32(56);
    for (quint32 sector = u32(48), n = 0; n < directorySectors; ++n, sector = fat[sector]) {
        for (qsizetype entry = 0; entry < sectorSize / 128; ++entry) {
            const qsizetype at = sectorAt(sector) + 128 * entry;
            if (at + 128 > bytes.size())
                break;
            const uchar type = uchar(bytes[at + 66]);
            const quint32 start = u32(at + 116);
            const quint32 size = u32(at + 120);
            if (type == 5 || (type == 2 && size >= miniCutoff)) {
                const quint32 length = size == 0 && start > lastRegular ? 0 : chain(start);
                if (qsizetype(length) * sectorSize < qsizetype(size))
                    throw damaged(QStringLiteral("stream of %1 bytes in %2 sectors").arg(size).arg(length));
            }
        }
    }
}

QString CompoundFile::difference(const CompoundEntry &a, const CompoundEntry &b)
{
    return differenceBelow(a, b, QString());
}

} // namespace gm::ole
