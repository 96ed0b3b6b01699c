#pragma once

// Reading workbook streams in tests, apart from the editor's own reader: raw record walks and
// the stream positions they hold.

#include "automation/ole/CompoundFile.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QtEndian>

#include "support/TestSupport.h"

namespace gm::xls::test {

inline quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

inline quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

// The name of the workbook stream: "Workbook" in any letter case, else "Book".
inline QByteArray workbookStreamName(const ole::CompoundEntry &root)
{
    for (const char *wanted : {"workbook", "book"}) {
        for (const ole::CompoundEntry &child : root.children) {
            if (!child.isStorage && child.name.toLower() == wanted)
                return child.name;
        }
    }
    return {};
}

inline QByteArray workbookStreamOf(const QString &path)
{
    const ole::CompoundEntry root = ole::CompoundFile::readFile(path);
    const ole::CompoundEntry *entry = root.child(workbookStreamName(root));
    return entry ? entry->data : QByteArray();
}

struct RawRecord
{
    quint32 at = 0;
    quint16 type = 0;
    QByteArray data;
};

// Records up to the last top-level EOF, CONTINUE records as records of their own.
inline QList<RawRecord> rawRecords(const QByteArray &bytes)
{
    QList<RawRecord> records;
    int depth = 0;
    for (qsizetype pos = 0; pos + 4 <= bytes.size();) {
        const quint16 type = u16(bytes, pos), length = u16(bytes, pos + 2);
        if ((depth == 0 && type != 0x0809) || pos + 4 + length > bytes.size())
            break;
        records.append({quint32(pos), type, bytes.mid(pos + 4, length)});
        depth += type == 0x0809 ? 1 : type == 0x000A ? -1 : 0;
        pos += 4 + length;
    }
    return records;
}

// For each stream-position field (BOUNDSHEET8 lbPlyPos, INDEX rgibRw, EXTSST ib) in stream
// order: whether it points at what it should (a BOF, a DBCELL, inside the SST chain).
inline QList<bool> positionHits(const QByteArray &bytes)
{
    const QList<RawRecord> records = rawRecords(bytes);
    QHash<quint32, quint16> typeAt;
    for (const RawRecord &r : records)
        typeAt.insert(r.at, r.type);
    quint32 sstFirst = 0, sstLast = 0;
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].type == 0x00FC) {
            sstFirst = records[i].at;
            int j = i + 1;
            while (j < records.size() && records[j].type == 0x003C)
                ++j;
            sstLast = records[j - 1].at + 4 + quint32(records[j - 1].data.size());
        }
    }
    QList<bool> hits;
    for (const RawRecord &r : records) {
        if (r.type == 0x0085 && r.data.size() >= 4) {
            hits << (typeAt.value(u32(r.data, 0)) == 0x0809);
        } else if (r.type == 0x020B) {
            for (int off = 16; off + 4 <= r.data.size(); off += 4)
                hits << (typeAt.value(u32(r.data, off)) == 0x00D7);
        } else if (r.type == 0x00FF) {
            for (int off = 2; off + 8 <= r.data.size(); off += 8) {
                const quint32 ib = u32(r.data, off);
                hits << (ib > sstFirst && ib < sstLast);
            }
        }
    }
    return hits;
}

// The record as it must stay: stream positions blanked, as they move with the records.
inline RawRecord withoutPositions(RawRecord record)
{
    auto blank = [&](qsizetype at) {
        if (at + 4 <= record.data.size())
            record.data.replace(at, 4, QByteArray(4, '\0'));
    };
    record.at = 0;
    if (record.type == 0x0085)
        blank(0);
    else if (record.type == 0x020B)
        for (qsizetype off = 12; off + 4 <= record.data.size(); off += 4)
            blank(off);
    else if (record.type == 0x00FF)
        for (qsizetype off = 2; off + 8 <= record.data.size(); off += 8)
            blank(off);
    return record;
}

inline QStringList corpusXlsFiles()
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xls"));
    QStringList files;
    if (folder.isEmpty())
        return files;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
        files << folder + QLatin1Char('/') + name;
    return files;
}

} // namespace gm::xls::test
