#pragma once

#include "automation/xlsx/ZipArchive.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace gm::xlsx {

class XmlScanner;

// An XML part edited by replacing, removing or inserting whole child elements of its root in
// its text, without a tree of the document. Built for worksheets, whose cell data can run to
// hundreds of megabytes: the body of one child element (`skipped`, sheetData) is never held.
// The part is read once, in chunks; everything else in it is kept as text. Bytes outside the
// changed elements stay exactly as they were. When saved, the deflated bytes of the entry up
// to the last code before the first change are reused as they are stored (the block holding
// the change is ended there), and only the rest is compressed again; the new bytes are then
// inflated from the block boundary before the change and compared with the text, so that the
// entry is known to hold that text without inflating it whole.
class SplicedXmlPart
{
public:
    // Throws EngineError(Damaged) when the entry cannot be read or is not well-formed.
    SplicedXmlPart(const ZipArchive &archive, QString name, QByteArray skipped);

    SplicedXmlPart(const SplicedXmlPart &) = delete;
    SplicedXmlPart &operator=(const SplicedXmlPart &) = delete;

    const QString &name() const { return m_name; }
    QByteArray rootLocalName() const;
    // The qualified name for a new child of the root: the root's prefix and the local name.
    QByteArray childName(std::string_view localName) const;

    // The first child element of the root with that local name, as written; empty when none.
    QByteArray element(std::string_view localName) const;
    // Every child element of the root with that local name, as written, in order.
    std::vector<QByteArray> elements(std::string_view localName) const;
    // Replaces the child elements with that local name, in order, by `texts`, one for each
    // (an empty text removes its element). Returns false when nothing changed.
    bool replaceElements(std::string_view localName, const std::vector<QByteArray> &texts);
    // Replaces the first child element with that local name by `text`, or removes it when
    // `text` is empty. When there is none, `text` is inserted before the first child that
    // comes later in `order` (an mc:AlternateContent child ranks as the element it offers),
    // else at the end of the root. Returns false when nothing changed.
    bool setElement(std::string_view localName, const QByteArray &text, std::span<const std::string_view> order);

    // A rewrite of the skipped element applied while the part is written: it is fed the
    // element's text in chunks, from its start tag to the end of its end tag, and appends what
    // stands in its place. Rewrites added later see the output of earlier ones. A part whose
    // skipped element is rewritten is compressed again whole when saved.
    class Rewrite
    {
    public:
        virtual ~Rewrite() = default;
        virtual void feed(const char *data, qsizetype size, QByteArray &out) = 0;
        virtual void finish(QByteArray &out) = 0;
    };
    using RewriteFactory = std::function<std::unique_ptr<Rewrite>()>;
    // Throws EngineError(Damaged) when the part has no such element.
    void addRewrite(RewriteFactory factory);
    // Puts `text` in place of the skipped element as it stands, earlier rewrites applied (they
    // are dropped); rewrites added later apply to it. `checked`: every byte of the text that was
    // not read from the element was checked as it was built, so that the save steps over the
    // element's body instead of scanning it again.
    void replaceSkipped(std::shared_ptr<const QByteArray> text, bool checked);
    // The skipped element as it will be written, rewrites applied; read from the archive in
    // chunks and handed to `sink` in chunks.
    void readSkipped(const ZipArchive &archive, const std::function<void(const char *, qsizetype)> &sink) const;

    bool isDirty() const { return m_text != m_original || !m_rewrites.empty() || m_replacement; }
    // The entry's new content; the archive must be the one the part was read from.
    ZipArchive::Change change(const ZipArchive &archive) const;

private:
    struct Boundary
    {
        qint64 bit = 0; // position in the stored bytes, in bits
        qint64 offset = 0; // position in the uncompressed text
        quint32 crc = 0; // CRC of the uncompressed text before offset
    };

    void read(const ZipArchive &archive);
    // Finds the root's children in m_text.
    void index();
    // Takes the root and its children from a scan, each offset mapped to one in m_text.
    void takeChildren(const XmlScanner &scanner, const std::function<qint64(qint64)> &position);
    // Replaces `removed` bytes of m_text at `at` by `text` and finds the root's children again.
    void splice(qint64 at, qint64 removed, const QByteArray &text);
    ZipArchive::Change recompressed(const ZipArchive &archive) const;

    QString m_name;
    std::vector<RewriteFactory> m_rewrites;
    std::shared_ptr<const QByteArray> m_replacement; // of the skipped element, before the rewrites
    bool m_replacementChecked = false;
    QByteArray m_skipped; // local name of the element whose body is not held
    QByteArray m_original; // the text as read, the skipped body replaced by an empty element
    QByteArray m_text; // the same with the changes
    qint64 m_skipStart = -1; // the skipped element in the entry: [start, end)
    qint64 m_skipEnd = -1;
    qint64 m_size = 0;
    QByteArray m_placeholder;
    qint64 m_placeholderAt = 0; // where the empty element stands in m_original
    // Deflate block boundaries: the last one before the skipped element's end, then every
    // later one; and the text from up to a deflate window (32 KiB) before that first boundary
    // to the skipped element's end, starting at m_leadOutStart.
    std::vector<Boundary> m_boundaries;
    QByteArray m_leadOut;
    qint64 m_leadOutStart = 0;

    struct Child
    {
        QByteArray localName;
        QByteArray offered; // for mc:AlternateContent: the local name of the offered element
        qint64 start = 0;
        qint64 end = 0;
    };
    std::vector<Child> childrenOf(const XmlScanner &scanner, const std::function<qint64(qint64)> &position) const;
    std::vector<Child> m_children; // of m_text
    QByteArray m_rootName;
    QByteArray m_rootTag;
    qint64 m_rootEndTagStart = 0;
};

} // namespace gm::xlsx
