#include "automation/xlsx/SplicedXmlPart.h"

#include "automation/EngineError.h"
#include "automation/xlsx/DeflateBlocks.h"
#include "automation/xlsx/XmlScanner.h"
#include "automation/xlsx/XmlText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

namespace gm::xlsx {

namespace {

constexpr std::string_view markupCompatibility = "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr qsizetype deflateWindow = 32 * 1024; // how far back a deflate match may refer
// The zlib level of the text compressed again after a splice (the tail of a sheet, tens of
// kilobytes). On a 10,000-cell sheet level 1 takes 2.2 M fewer instructions than level 5 for
// 0.9% more bytes; levels 2 and 3 cost more instructions and save less than 0.2% of that.
constexpr int spliceDeflateLevel = 1;
constexpr qsizetype spliceDictionary = 1024;

QByteArray localNameOf(const QByteArray &qualified)
{
    const qsizetype colon = qualified.indexOf(':');
    return colon < 0 ? qualified : qualified.mid(colon + 1);
}

QByteArray prefixOf(const QByteArray &qualified)
{
    const qsizetype colon = qualified.indexOf(':');
    return colon < 0 ? QByteArray() : qualified.left(colon);
}

// Whether a start tag binds the prefix to the namespace.
bool declares(const QByteArray &tag, const QByteArray &prefix, std::string_view uri)
{
    const QByteArray attribute = prefix.isEmpty() ? QByteArray("xmlns") : "xmlns:" + prefix;
    for (qsizetype at = tag.indexOf(attribute); at >= 0; at = tag.indexOf(attribute, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1])))
            continue;
        qsizetype i = at + attribute.size();
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            continue;
        const qsizetype close = tag.indexOf(tag[i], i + 1);
        return close > i && std::string_view(tag.constData() + i + 1, size_t(close - i - 1)) == uri;
    }
    return false;
}

bool sameName(const QByteArray &name, std::string_view wanted)
{
    return std::string_view(name.constData(), size_t(name.size())) == wanted;
}

int rank(const QByteArray &localName, std::span<const std::string_view> order)
{
    const std::string_view name(localName.constData(), size_t(localName.size()));
    const auto it = std::find(order.begin(), order.end(), name);
    return it == order.end() ? -1 : int(it - order.begin());
}

[[noreturn]] void throwDamaged(const QString &name, const QString &what)
{
    throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: %2").arg(name, what));
}

} // namespace

SplicedXmlPart::SplicedXmlPart(const ZipArchive &archive, QString name, QByteArray skipped)
    : m_name(std::move(name)), m_skipped(std::move(skipped))
{
    read(archive);
}

void SplicedXmlPart::read(const ZipArchive &archive)
{
    const ZipArchive::EntryInfo info = archive.info(m_name);
    XmlScanner scanner;
    // The cell data is kept as stored, or read again by the rewrites that change it.
    scanner.skipBodyOf(m_skipped);
    scanner.onChildStart = [this](const QByteArray &qualifiedName, qint64 start) {
        if (m_skipStart < 0 && localNameOf(qualifiedName) == m_skipped) {
            m_skipStart = start;
            m_placeholder = '<' + qualifiedName + "/>";
        }
    };
    scanner.onChild = [this](const XmlScanner::Element &element) {
        if (element.start == m_skipStart)
            m_skipEnd = element.end;
    };

    bool placed = false;
    // Text from up to a window before the last block boundary, until the skipped element ends.
    QByteArray pending;
    qint64 pendingStart = 0;
    Boundary last{0, 0, 0};
    // Block boundaries exist only in deflated entries; others are compressed again whole.
    bool leadOutTaken = info.method != 8;

    auto consume = [&](const char *data, qsizetype size) {
        const qint64 from = m_size;
        const qint64 to = m_size + size;
        scanner.feed(data, size);
        m_size = to;
        if (!leadOutTaken)
            pending.append(data, size);
        // Keep everything but the skipped element's body, which an empty element stands for.
        if (!placed) {
            if (m_skipStart < 0) {
                m_original.append(data, size);
                return;
            }
            if (m_skipStart < from)
                m_original.truncate(qsizetype(m_skipStart));
            else
                m_original.append(data, qsizetype(m_skipStart - from));
            m_placeholderAt = m_original.size();
            m_original += m_placeholder;
            placed = true;
        }
        if (m_skipEnd >= 0) {
            const qint64 start = std::max(from, m_skipEnd);
            if (start < to)
                m_original.append(data + (start - from), qsizetype(to - start));
            if (!leadOutTaken) {
                m_leadOut = std::exchange(pending, QByteArray());
                m_leadOut.truncate(qsizetype(m_skipEnd - pendingStart));
                m_leadOutStart = pendingStart;
                m_boundaries.push_back(last);
                leadOutTaken = true;
            }
        }
    };

    if (info.method == 8) {
        archive.readBlocks(m_name, consume, [&](qint64 bit, quint32 crcBefore) {
            last = Boundary{bit, m_size, crcBefore};
            if (leadOutTaken) {
                m_boundaries.push_back(last);
                return;
            }
            // The window before the boundary stays: the block after it may refer to that text.
            const qsizetype keep = std::min(pending.size(), deflateWindow);
            pending.remove(0, pending.size() - keep);
            pendingStart = m_size - keep;
        });
    } else {
        archive.readChunks(m_name, consume);
    }
    scanner.finish();
    // The reads checked the CRC and the size; the size is what the offsets rest on.
    if (m_size != info.size)
        throwDamaged(m_name, QStringLiteral("size mismatch"));
    if (m_skipEnd < 0)
        m_boundaries.clear();
    // The scan that read the entry found the children: in the text kept, the skipped element
    // is the empty one that stands for it, and what follows it moves by the difference.
    m_text = m_original;
    takeChildren(scanner, [this](qint64 at) {
        return m_skipEnd < 0 || at <= m_skipStart ? at : at - (m_skipEnd - m_skipStart) + m_placeholder.size();
    });
}

void SplicedXmlPart::index()
{
    XmlScanner scanner;
    scanner.feed(m_text);
    scanner.finish();
    takeChildren(scanner, [](qint64 at) { return at; });
}

void SplicedXmlPart::takeChildren(const XmlScanner &scanner, const std::function<qint64(qint64)> &position)
{
    m_rootName = scanner.rootName();
    m_rootTag = scanner.rootStartTag();
    m_rootEndTagStart = position(scanner.rootEndTagStart());
    m_children = childrenOf(scanner, position);
}

std::vector<SplicedXmlPart::Child> SplicedXmlPart::childrenOf(
    const XmlScanner &scanner, const std::function<qint64(qint64)> &position) const
{
    std::vector<Child> children;
    children.reserve(scanner.children().size());
    for (const XmlScanner::Element &element : scanner.children()) {
        Child child{localNameOf(element.qualifiedName), {}, position(element.start), position(element.end)};
        if (child.localName == "AlternateContent") {
            const QByteArray prefix = prefixOf(element.qualifiedName);
            const QByteArray ownTag = m_text.mid(child.start, m_text.indexOf('>', child.start) + 1 - child.start);
            if (declares(ownTag, prefix, markupCompatibility) || declares(m_rootTag, prefix, markupCompatibility))
                child.offered = localNameOf(element.firstNested);
        }
        children.push_back(std::move(child));
    }
    return children;
}

void SplicedXmlPart::splice(qint64 at, qint64 removed, const QByteArray &text)
{
    // Whole children of the root are replaced, or text goes between them: only the new text
    // is scanned, inside the root's own start and end tags, and the children around it move.
    const qint64 removedEnd = at + removed;
    const bool between = removed == 0
        ? at == m_rootEndTagStart
            || std::any_of(m_children.begin(), m_children.end(), [&](const Child &child) { return child.start == at; })
        : std::any_of(m_children.begin(), m_children.end(),
            [&](const Child &child) { return child.start == at && child.end == removedEnd; });
    m_text.replace(at, removed, text);
    if (!between || m_rootTag.endsWith("/>")) {
        index();
        return;
    }
    XmlScanner scanner;
    scanner.feed(m_rootTag);
    scanner.feed(text);
    scanner.feed("</" + m_rootName + '>');
    scanner.finish();
    const qint64 moved = text.size() - removed;
    const qint64 from = at - m_rootTag.size();
    std::vector<Child> children;
    children.reserve(m_children.size() + scanner.children().size());
    for (const Child &child : m_children) {
        if (child.end <= at)
            children.push_back(child);
    }
    for (Child &added : childrenOf(scanner, [from](qint64 offset) { return offset + from; }))
        children.push_back(std::move(added));
    for (const Child &child : m_children) {
        if (child.start >= removedEnd && child.end > at) {
            children.push_back(child);
            children.back().start += moved;
            children.back().end += moved;
        }
    }
    m_children = std::move(children);
    m_rootEndTagStart += moved;
}

QByteArray SplicedXmlPart::rootLocalName() const
{
    return localNameOf(m_rootName);
}

QByteArray SplicedXmlPart::childName(std::string_view localName) const
{
    const QByteArray prefix = prefixOf(m_rootName);
    const QByteArray name(localName.data(), qsizetype(localName.size()));
    return prefix.isEmpty() ? name : prefix + ':' + name;
}

QByteArray SplicedXmlPart::element(std::string_view localName) const
{
    for (const Child &child : m_children) {
        if (sameName(child.localName, localName))
            return m_text.mid(child.start, child.end - child.start);
    }
    return {};
}

std::vector<QByteArray> SplicedXmlPart::elements(std::string_view localName) const
{
    std::vector<QByteArray> result;
    for (const Child &child : m_children) {
        if (sameName(child.localName, localName))
            result.push_back(m_text.mid(child.start, child.end - child.start));
    }
    return result;
}

bool SplicedXmlPart::replaceElements(std::string_view localName, const std::vector<QByteArray> &texts)
{
    if (localName == std::string_view(m_skipped.constData(), size_t(m_skipped.size())))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1 is not edited").arg(QString::fromLatin1(m_skipped)));
    std::vector<const Child *> found;
    for (const Child &child : m_children) {
        if (sameName(child.localName, localName))
            found.push_back(&child);
    }
    if (found.size() != texts.size())
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1: element count changed").arg(m_name));
    bool changed = false;
    // From the end, so that the earlier positions stay valid.
    for (size_t i = found.size(); i-- > 0;) {
        const Child &child = *found[i];
        if (m_text.mid(child.start, child.end - child.start) == texts[i])
            continue;
        m_text.replace(child.start, child.end - child.start, texts[i]);
        changed = true;
    }
    if (changed)
        index();
    return changed;
}

bool SplicedXmlPart::setElement(std::string_view localName, const QByteArray &text, std::span<const std::string_view> order)
{
    if (localName == std::string_view(m_skipped.constData(), size_t(m_skipped.size())))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1 is not edited").arg(QString::fromLatin1(m_skipped)));
    const auto found = std::find_if(
        m_children.begin(), m_children.end(), [&](const Child &child) { return sameName(child.localName, localName); });
    if (found != m_children.end()) {
        if (m_text.mid(found->start, found->end - found->start) == text)
            return false;
        splice(found->start, found->end - found->start, text);
        return true;
    } else {
        if (text.isEmpty())
            return false;
        const int wanted = rank(QByteArray(localName.data(), qsizetype(localName.size())), order);
        qint64 at = -1;
        for (const Child &child : m_children) {
            const int existing = rank(child.offered.isEmpty() ? child.localName : child.offered, order);
            if (wanted >= 0 && existing > wanted) {
                at = child.start;
                break;
            }
        }
        if (m_rootTag.endsWith("/>")) {
            // A root without children gets its end tag.
            const qint64 tagEnd = m_rootEndTagStart + m_rootTag.size();
            m_text.replace(tagEnd - 2, 2, '>' + text + "</" + m_rootName + '>');
            index();
        } else {
            splice(at >= 0 ? at : m_rootEndTagStart, 0, text);
        }
    }
    return true;
}

void SplicedXmlPart::addRewrite(RewriteFactory factory)
{
    if (m_skipStart < 0)
        throwDamaged(m_name, QStringLiteral("no %1").arg(QString::fromLatin1(m_skipped)));
    m_rewrites.push_back(std::move(factory));
}

void SplicedXmlPart::replaceSkipped(std::shared_ptr<const QByteArray> text, bool checked)
{
    if (m_skipStart < 0)
        throwDamaged(m_name, QStringLiteral("no %1").arg(QString::fromLatin1(m_skipped)));
    m_rewrites.clear();
    m_replacement = std::move(text);
    m_replacementChecked = checked;
}

void SplicedXmlPart::readSkipped(const ZipArchive &archive, const std::function<void(const char *, qsizetype)> &sink) const
{
    if (m_skipStart < 0)
        return;
    std::vector<std::unique_ptr<Rewrite>> rewrites;
    for (const RewriteFactory &factory : m_rewrites)
        rewrites.push_back(factory());
    // Each chunk goes through every rewrite in turn; the last one's output reaches the sink.
    QByteArray first;
    QByteArray second;
    auto pass = [&](const char *data, qsizetype length, bool last) {
        for (size_t i = 0; i < rewrites.size(); ++i) {
            QByteArray &out = (i % 2 == 0) ? first : second;
            out.clear();
            if (length > 0)
                rewrites[i]->feed(data, length, out);
            if (last)
                rewrites[i]->finish(out);
            data = out.constData();
            length = out.size();
        }
        if (length > 0)
            sink(data, length);
    };
    if (m_replacement) {
        pass(m_replacement->constData(), m_replacement->size(), false);
        pass("", 0, true);
        return;
    }
    qint64 offset = 0;
    archive.readChunks(m_name, [&](const char *data, qsizetype length) {
        const qint64 from = std::max(offset, m_skipStart);
        const qint64 to = std::min(offset + length, m_skipEnd);
        if (from < to)
            pass(data + (from - offset), qsizetype(to - from), false);
        offset += length;
    });
    pass("", 0, true);
}

ZipArchive::Change SplicedXmlPart::change(const ZipArchive &archive) const
{
    if (m_skipStart < 0)
        return ZipArchive::Change{m_name, m_text, std::nullopt};
    if (!m_rewrites.empty() || m_replacement)
        return recompressed(archive);
    const qint64 afterPlaceholder = m_placeholderAt + m_placeholder.size();
    const auto [changed, unused] = std::mismatch(m_text.begin(), m_text.end(), m_original.begin(), m_original.end());
    const qint64 firstDifference = changed - m_text.begin();
    if (firstDifference < afterPlaceholder || m_boundaries.empty())
        return recompressed(archive);

    // The last block boundary before the first change: the stored bytes up to it are kept.
    const qint64 firstChange = firstDifference - afterPlaceholder + m_skipEnd;
    const Boundary *from = nullptr;
    for (const Boundary &boundary : m_boundaries) {
        if (boundary.offset <= firstChange)
            from = &boundary;
    }
    if (!from)
        return recompressed(archive);

    // The stored bytes from the byte that boundary falls in: the block it starts is ended early,
    // at its last code before the change, so that a long block is not compressed again whole.
    const qint64 firstByte = from->bit / 8;
    QByteArray stored;
    qint64 position = 0;
    archive.readStored(m_name, [&](const char *data, qsizetype size) {
        const qint64 start = std::max(position, firstByte);
        if (start < position + size)
            stored.append(data + (start - position), qsizetype(position + size - start));
        position += size;
    });
    const std::optional<BlockCut> cut = cutDeflateBlock(stored, from->bit - firstByte * 8, from->offset, firstChange);

    // The known text from a window before the first recorded boundary on: the lead-out, then
    // the new tail, which equals the old one up to the first change.
    const qint64 known = m_leadOutStart;
    // It is used where it stands, in two pieces, not copied into one.
    const QByteArrayView lead(m_leadOut);
    const QByteArrayView tail = QByteArrayView(m_text).sliced(afterPlaceholder);
    const qsizetype textSize = lead.size() + tail.size();
    // The text from `at` (counted from `known`) to its end.
    auto textFrom = [&](qsizetype at) -> std::array<QByteArrayView, 2> {
        if (at <= lead.size())
            return {lead.sliced(at), tail};
        return {QByteArrayView(), tail.sliced(at - lead.size())};
    };
    // A copy of the text in [from, to), for the short spans that must be in one piece.
    auto textCopy = [&](qsizetype from, qsizetype to) {
        QByteArray copy;
        copy.reserve(to - from);
        for (const QByteArrayView piece : textFrom(from))
            copy.append(piece.first(std::min(piece.size(), to - from - copy.size())));
        return copy;
    };
    const qint64 keptText = cut ? cut->offset : from->offset;
    const qint64 keptBit = cut ? firstByte * 8 + cut->bit : from->bit;

    RawDeflater deflater(spliceDeflateLevel);
    const qsizetype window = qsizetype(keptText - known);
    // Only the last kilobyte before the cut is given to the compressor as preceding text: on
    // a sheet's tail the whole window made zlib's level 1 slower (by up to a third) and its
    // output no smaller, as older cell data crowds its short hash chains.
    const qsizetype preset = std::min(window, spliceDictionary);
    const QByteArray preceding = textCopy(window - preset, window);
    deflater.setDictionary(preceding.constData(), preceding.size());
    // The bits of the last kept byte that belong to the kept data, then the end of the block.
    const int usedBits = int(keptBit % 8);
    quint32 partial = usedBits == 0 ? 0 : quint8(stored.at(qsizetype(keptBit / 8 - firstByte))) & ((1u << usedBits) - 1);
    ZipArchive::Deflated deflated;
    deflated.keptBytes = keptBit / 8;
    if (cut && cut->final) {
        // The block ended early is no longer the last one.
        if (from->bit / 8 < deflated.keptBytes)
            deflated.clearedBit = from->bit;
        else
            partial &= ~(1u << (from->bit % 8));
    }
    deflater.prime(usedBits, partial);
    if (cut)
        deflater.prime(cut->endCodeBits, cut->endCode);
    for (const QByteArrayView piece : textFrom(window))
        deflater.add(piece.data(), piece.size());
    deflated.appended = deflater.finish();
    // The CRC at the boundary, or at a later point of the unchanged text where the opening
    // check recorded it, continued over the rest of the kept text and the new text.
    const qsizetype sinceBoundary = qsizetype(from->offset - known);
    ZipArchive::CrcCheckpoint crcFrom{from->offset, from->crc};
    if (const ZipArchive::CrcCheckpoint checked = archive.crcCheckpoint(m_name, keptText); checked.offset > crcFrom.offset)
        crcFrom = checked;
    const qsizetype crcStart = qsizetype(crcFrom.offset - known);
    deflated.crc = crcFrom.crc;
    for (const QByteArrayView piece : textFrom(crcStart))
        deflated.crc = zipCrc32(deflated.crc, piece.data(), piece.size());
    deflated.size = known + textSize;

    // The new stored bytes from the boundary on, the last-block flag cleared where it goes,
    // must inflate to the text from the boundary on: the bits before it are unchanged.
    QByteArray fromBoundary = stored.left(qsizetype(deflated.keptBytes - firstByte)) + deflated.appended;
    if (deflated.clearedBit >= 0) {
        const qsizetype at = qsizetype(deflated.clearedBit / 8 - firstByte);
        fromBoundary[at] = char(fromBoundary.at(at) & ~(1 << (deflated.clearedBit % 8)));
    }
    const QByteArray before = textCopy(std::max<qsizetype>(0, sinceBoundary - deflateWindow), sinceBoundary);
    if (!inflatesFromBoundary(fromBoundary, int(from->bit % 8), before, textFrom(sinceBoundary)))
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("%1: the spliced entry does not inflate to its text").arg(m_name));
    deflated.proven = true;
    return ZipArchive::Change{m_name, {}, std::move(deflated)};
}

ZipArchive::Change SplicedXmlPart::recompressed(const ZipArchive &archive) const
{
    // The new head, the skipped element as stored (through the rewrites), the new tail:
    // compressed, summed and scanned for well-formedness as they stream by, so that the check
    // after writing need not inflate and scan the entry again.
    const auto placeholder
        = std::find_if(m_children.begin(), m_children.end(), [this](const Child &child) { return child.localName == m_skipped; });
    if (placeholder == m_children.end())
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("%1: %2 not found").arg(m_name, QString::fromLatin1(m_skipped)));
    RawDeflater deflater;
    XmlScanner scanner;
    scanner.setKeepChildren(false);
    quint32 crc = 0;
    qint64 size = 0;
    // A text we built that is not well-formed is our own failure to save, not a damaged file.
    auto scan = [this](const std::function<void()> &step) {
        try {
            step();
        } catch (const EngineError &error) {
            throw EngineError(ErrorCode::SaveFailed, QStringLiteral("%1: %2").arg(m_name, error.detail()));
        }
    };
    auto add = [&](const char *data, qsizetype length) {
        deflater.add(data, length);
        scan([&] { scanner.feed(data, length); });
        crc = zipCrc32(crc, data, length);
        size += length;
    };
    add(m_text.constData(), qsizetype(placeholder->start));
    const std::string_view body = m_replacement ? std::string_view(m_replacement->constData(), size_t(m_replacement->size())) : std::string_view();
    const qsizetype startTag = m_replacement ? startTagEnd(body, 1) : -1;
    const qsizetype endTag = m_replacement ? qsizetype(body.rfind('<')) : -1;
    if (m_replacementChecked && m_rewrites.empty() && startTag > 0 && endTag >= startTag) {
        // The element's content was checked as it was built: its tags are scanned, its content
        // compressed and summed.
        add(body.data(), startTag);
        deflater.add(body.data() + startTag, endTag - startTag);
        crc = zipCrc32(crc, body.data() + startTag, endTag - startTag);
        size += endTag - startTag;
        add(body.data() + endTag, qsizetype(body.size()) - endTag);
    } else {
        readSkipped(archive, add);
    }
    add(m_text.constData() + placeholder->end, m_text.size() - qsizetype(placeholder->end));
    scan([&] { scanner.finish(); });
    ZipArchive::Deflated deflated;
    deflated.appended = deflater.finish(true);
    deflated.crc = crc;
    deflated.size = size;
    // Compressed whole, the data was inflated back and compared with the text: the written
    // entry need only hold these bytes. Past the size held whole, the check after writing
    // inflates it instead.
    deflated.proven = deflater.inflatedBack();
    return ZipArchive::Change{m_name, {}, std::move(deflated)};
}

} // namespace gm::xlsx
