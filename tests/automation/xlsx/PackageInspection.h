#pragma once

// Independent checks of a saved package: libzip for the stored entries, pugixml for the XML.
// Nothing here goes through the package editor under test.

#include "support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <map>
#include <memory>

namespace gm::xlsx::test {

struct RawEntry
{
    QByteArray local;      // local file header and stored bytes, as they sit in the file
    QByteArray compressed; // the stored bytes, not inflated
    quint32 crc = 0;
    quint16 method = 0;
    time_t mtime = 0;
};

struct RawPackage
{
    QStringList order;
    std::map<QString, RawEntry> entries;
};

// The local header and data of an entry, found by its name right after a local signature.
inline QByteArray localRecord(const QByteArray &file, const QByteArray &name, qint64 compressedSize)
{
    for (qsizetype at = file.indexOf(name); at >= 0; at = file.indexOf(name, at + 1)) {
        const qsizetype start = at - 30;
        if (start < 0 || !file.mid(start, 4).startsWith(QByteArray("PK\x03\x04", 4)))
            continue;
        const auto *header = reinterpret_cast<const uchar *>(file.constData() + start);
        const int nameLength = header[26] | header[27] << 8;
        const int extraLength = header[28] | header[29] << 8;
        if (nameLength != name.size())
            continue;
        return file.mid(start, 30 + nameLength + extraLength + compressedSize);
    }
    return {};
}

inline RawPackage readRaw(const QString &path)
{
    RawPackage package;
    const QByteArray fileBytes = gm::test::readAll(path);
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!za) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        return package;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, zip_uint64_t(i), 0, &st);
        RawEntry entry;
        entry.crc = st.crc;
        entry.method = st.comp_method;
        entry.mtime = st.mtime;
        entry.compressed.resize(qsizetype(st.comp_size));
        zip_file_t *file = zip_fopen_index(za, zip_uint64_t(i), ZIP_FL_COMPRESSED);
        const zip_int64_t n = file ? zip_fread(file, entry.compressed.data(), st.comp_size) : -1;
        if (file)
            zip_fclose(file);
        EXPECT_EQ(n, zip_int64_t(st.comp_size)) << st.name;
        entry.local = localRecord(fileBytes, QByteArray(st.name), qint64(st.comp_size));
        const QString name = QString::fromUtf8(st.name);
        package.order.append(name);
        package.entries[name] = entry;
    }
    zip_discard(za);
    return package;
}

// Replaces (or adds) entries of a zip file in place, as another program might have written them.
inline void rewriteEntries(const QString &path, const std::map<QString, QByteArray> &contents,
                           const QStringList &removed = {})
{
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), 0, &error);
    ASSERT_TRUE(za);
    for (const QString &name : removed)
        zip_delete(za, zip_uint64_t(zip_name_locate(za, name.toUtf8().constData(), 0)));
    for (const auto &[name, data] : contents) {
        zip_source_t *source = zip_source_buffer(za, data.constData(), zip_uint64_t(data.size()), 0);
        zip_file_add(za, name.toUtf8().constData(), source, ZIP_FL_OVERWRITE);
    }
    ASSERT_EQ(zip_close(za), 0);
}

enum class LocalHeaders { Identical, MayBeRewritten };

// Every entry not named in `changed` is stored exactly as before (compressed bytes, CRC,
// method, time, and for Excel's zips the local header byte for byte); the order is the old
// order followed by `added`. Changed entries keep their time stamp.
inline void expectUntouchedExcept(const RawPackage &before, const QString &afterPath, const QStringList &changed,
                                  const QStringList &added = {}, LocalHeaders headers = LocalHeaders::Identical)
{
    const RawPackage after = readRaw(afterPath);
    EXPECT_EQ(after.order, before.order + added);
    for (const QString &name : before.order) {
        SCOPED_TRACE(name.toStdString());
        const auto found = after.entries.find(name);
        ASSERT_NE(found, after.entries.end());
        const RawEntry &old = before.entries.at(name);
        const RawEntry &now = found->second;
        // An invalid DOS date (zero, which reads as before 1980) is written back corrected.
        constexpr time_t before1980 = 315532800 - 86400;
        if (old.mtime > before1980) {
            EXPECT_EQ(now.mtime, old.mtime);
        }
        if (changed.contains(name)) {
            EXPECT_NE(now.crc, old.crc) << "expected a change";
        } else {
            EXPECT_EQ(now.crc, old.crc);
            EXPECT_EQ(now.method, old.method);
            EXPECT_TRUE(now.compressed == old.compressed) << "stored bytes differ";
            if (headers == LocalHeaders::Identical) {
                EXPECT_FALSE(old.local.isEmpty());
                EXPECT_TRUE(now.local == old.local) << "local record differs";
            }
        }
    }
}

// `after` is `before` with the one occurrence of `from` replaced by `to`: nothing else moved.
inline void expectEdit(const QByteArray &before, const QByteArray &after, const QByteArray &from, const QByteArray &to)
{
    ASSERT_EQ(before.count(from), 1) << "fragment not unique in the original: " << from.toStdString();
    QByteArray expected = before;
    expected.replace(from, to);
    EXPECT_EQ(after.toStdString(), expected.toStdString());
}

inline std::unique_ptr<pugi::xml_document> parseXml(const QByteArray &bytes)
{
    auto document = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result = document->load_buffer(bytes.constData(), size_t(bytes.size()));
    EXPECT_TRUE(result) << result.description();
    return document;
}

// Names of the element children, in order.
inline QStringList childNames(pugi::xml_node node)
{
    QStringList names;
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element)
            names.append(QString::fromUtf8(child.name()));
    }
    return names;
}

} // namespace gm::xlsx::test
