#include "automation/xlsx/DeflateBlocks.h"

#include "automation/EngineError.h"

#include <QtEndian>

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace gm::xlsx {

namespace {

constexpr int maxCodeBits = 15;
constexpr int literalCodes = 288;
constexpr int distanceCodes = 30;
constexpr int endOfBlock = 256;
constexpr qsizetype kDeflateWindow = 32 * 1024; // how far back a match may refer

// Bits of the stored data, least significant bit of each byte first, taken from a 64-bit
// buffer that is refilled a word at a time. Reading past the end gives zeros and marks the
// reader as overrun.
class BitReader
{
public:
    BitReader(const QByteArray &data, qint64 bit)
        : m_data(reinterpret_cast<const uchar *>(data.constData())), m_size(data.size()), m_end(qint64(data.size()) * 8)
    {
        if (bit > m_end) {
            m_next = m_size + 1; // overrun from the start
            return;
        }
        m_next = bit >> 3;
        refill();
        skip(int(bit & 7));
    }

    int bit() { return bits(1); }
    // The next `count` bits (at most 32) without taking them.
    int peek(int count)
    {
        if (m_count < count)
            refill();
        return int(m_buffer & ((quint64(1) << count) - 1));
    }
    void skip(int count)
    {
        m_buffer >>= count;
        m_count -= count;
    }
    int bits(int count)
    {
        const int value = peek(count);
        skip(count);
        return value;
    }
    qint64 position() const { return m_next * 8 - m_count; }
    bool overrun() const { return position() > m_end; }

private:
    // At least 56 bits in the buffer; zeros past the end of the data.
    void refill()
    {
        if (m_next + 8 <= m_size) {
            m_buffer |= qFromLittleEndian<quint64>(m_data + m_next) << m_count;
            m_next += (63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            if (m_next < m_size)
                m_buffer |= quint64(m_data[m_next]) << m_count;
            ++m_next;
            m_count += 8;
        }
    }

    const uchar *m_data;
    qint64 m_size;
    qint64 m_end;
    qint64 m_next = 0; // the next byte to go into the buffer
    quint64 m_buffer = 0;
    int m_count = 0; // bits in the buffer
};

// A canonical Huffman code: how many codes have each length, and the symbols in code order.
// Codes of up to fastBits bits are also looked up in a table indexed by the next bits.
struct Huffman
{
    static constexpr int fastBits = 10;
    std::array<int, maxCodeBits + 1> count{};
    std::array<int, literalCodes> symbol{};
    std::array<int, literalCodes> length{};
    std::array<int, 1 << fastBits> fast{}; // the code's length << 16 | its symbol; 0 for a longer code

    // False for an over-subscribed set of lengths.
    bool build(const int *lengths, int n)
    {
        count.fill(0);
        for (int i = 0; i < n; ++i) {
            length[size_t(i)] = lengths[i];
            ++count[size_t(lengths[i])];
        }
        int left = 1;
        for (int len = 1; len <= maxCodeBits; ++len) {
            left = left * 2 - count[size_t(len)];
            if (left < 0)
                return false;
        }
        std::array<int, maxCodeBits + 1> offsets{};
        for (int len = 1; len < maxCodeBits; ++len)
            offsets[size_t(len + 1)] = offsets[size_t(len)] + count[size_t(len)];
        for (int i = 0; i < n; ++i) {
            if (lengths[i] != 0)
                symbol[size_t(offsets[size_t(lengths[i])]++)] = i;
        }
        // Each short code fills every entry whose low bits are the code as it is read (first
        // bit lowest).
        fast.fill(0);
        int code = 0;
        int index = 0;
        for (int len = 1; len <= fastBits; ++len) {
            for (int k = 0; k < count[size_t(len)]; ++k, ++index, ++code) {
                int reversed = 0;
                for (int i = 0; i < len; ++i)
                    reversed |= ((code >> (len - 1 - i)) & 1) << i;
                for (int entry = reversed; entry < (1 << fastBits); entry += 1 << len)
                    fast[size_t(entry)] = len << 16 | symbol[size_t(index)];
            }
            code <<= 1;
        }
        return true;
    }

    // -1 when the bits form no code.
    int decode(BitReader &in) const
    {
        if (const int entry = fast[size_t(in.peek(fastBits))]; entry != 0) {
            in.skip(entry >> 16);
            return entry & 0xFFFF;
        }
        int code = 0;
        int first = 0;
        int index = 0;
        for (int len = 1; len <= maxCodeBits; ++len) {
            code |= in.bit();
            const int n = count[size_t(len)];
            if (code - n < first)
                return symbol[size_t(index + (code - first))];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }

    // The code of `wanted`, bit-reversed so that it can be written first bit lowest.
    std::pair<quint32, int> codeOf(int wanted) const
    {
        const int len = length[size_t(wanted)];
        int code = 0;
        for (int l = 1; l < len; ++l)
            code = (code + count[size_t(l)]) << 1;
        for (int i = 0; i < wanted; ++i) {
            if (length[size_t(i)] == len)
                ++code;
        }
        quint32 reversed = 0;
        for (int i = 0; i < len; ++i)
            reversed |= quint32((code >> (len - 1 - i)) & 1) << i;
        return {reversed, len};
    }
};

constexpr std::array<int, 29> lengthBase
    = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> lengthExtra
    = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> distanceExtra
    = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// What a literal/length code does to the text position.
struct LiteralStep
{
    enum Kind : quint8 { Literal, End, Length };
    quint8 bits = 0; // the code's length; 0 for a code longer than Huffman::fastBits
    Kind kind = Literal;
    quint8 extra = 0; // for a length: its extra bits, added to `base`
    quint16 base = 0;
};

bool fixedCodes(Huffman &literals, Huffman &distances)
{
    std::array<int, literalCodes> lengths{};
    for (int i = 0; i < literalCodes; ++i)
        lengths[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    std::array<int, distanceCodes> distanceLengths{};
    distanceLengths.fill(5);
    return literals.build(lengths.data(), literalCodes) && distances.build(distanceLengths.data(), distanceCodes);
}

bool dynamicCodes(BitReader &in, Huffman &literals, Huffman &distances)
{
    static constexpr std::array<int, 19> order = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literalCount = in.bits(5) + 257;
    const int distanceCount = in.bits(5) + 1;
    const int lengthCodeCount = in.bits(4) + 4;
    if (literalCount > 286 || distanceCount > distanceCodes)
        return false;
    std::array<int, 19> lengthCodeLengths{};
    for (int i = 0; i < lengthCodeCount; ++i)
        lengthCodeLengths[size_t(order[size_t(i)])] = in.bits(3);
    Huffman lengthCodes;
    if (!lengthCodes.build(lengthCodeLengths.data(), 19))
        return false;
    std::array<int, 286 + distanceCodes> lengths{};
    int i = 0;
    while (i < literalCount + distanceCount) {
        const int symbol = lengthCodes.decode(in);
        if (symbol < 0 || in.overrun())
            return false;
        if (symbol < 16) {
            lengths[size_t(i++)] = symbol;
            continue;
        }
        int value = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (i == 0)
                return false;
            value = lengths[size_t(i - 1)];
            repeat = 3 + in.bits(2);
        } else if (symbol == 17) {
            repeat = 3 + in.bits(3);
        } else {
            repeat = 11 + in.bits(7);
        }
        if (i + repeat > literalCount + distanceCount)
            return false;
        while (repeat-- > 0)
            lengths[size_t(i++)] = value;
    }
    if (lengths[endOfBlock] == 0)
        return false;
    return literals.build(lengths.data(), literalCount) && distances.build(lengths.data() + literalCount, distanceCount);
}

} // namespace

std::optional<BlockCut> cutDeflateBlock(const QByteArray &data, qint64 startBit, qint64 startOffset, qint64 limit)
{
    BitReader in(data, startBit);
    const bool final = in.bit() == 1;
    const int type = in.bits(2);
    Huffman literals;
    Huffman distances;
    if (type == 1) {
        if (!fixedCodes(literals, distances))
            return std::nullopt;
    } else if (type == 2) {
        if (!dynamicCodes(in, literals, distances))
            return std::nullopt;
    } else {
        return std::nullopt; // stored, or not a block type
    }
    if (in.overrun())
        return std::nullopt;

    const auto [endCode, endCodeBits] = literals.codeOf(endOfBlock);
    // Looked up by the next bits: what each short code does to the text position, and how
    // many bits each short distance code takes with its extra bits.
    std::array<LiteralStep, 1 << Huffman::fastBits> literalSteps{};
    std::array<quint8, 1 << Huffman::fastBits> distanceBits{};
    for (size_t i = 0; i < literalSteps.size(); ++i) {
        const int entry = literals.fast[i];
        const int symbol = entry & 0xFFFF;
        LiteralStep &step = literalSteps[i];
        step.bits = quint8(entry >> 16);
        if (symbol < endOfBlock) {
            step.kind = LiteralStep::Literal;
        } else if (symbol == endOfBlock) {
            step.kind = LiteralStep::End;
        } else if (symbol - 257 < int(lengthBase.size())) {
            step.kind = LiteralStep::Length;
            step.extra = quint8(lengthExtra[size_t(symbol - 257)]);
            step.base = quint16(lengthBase[size_t(symbol - 257)]);
        } else {
            step.bits = 0; // not a length: left to the slow path, which refuses it
        }
        const int distanceEntry = distances.fast[i];
        if (distanceEntry != 0 && (distanceEntry & 0xFFFF) < distanceCodes)
            distanceBits[i] = quint8((distanceEntry >> 16) + distanceExtra[size_t(distanceEntry & 0xFFFF)]);
    }

    qint64 cutBit = -1;
    qint64 cutOffset = 0;
    qint64 offset = startOffset;
    // Each code's start is a place to cut as long as the text before it ends by `limit`.
    while (!in.overrun() && offset <= limit) {
        cutBit = in.position();
        cutOffset = offset;
        const LiteralStep step = literalSteps[size_t(in.peek(Huffman::fastBits))];
        if (step.bits != 0) {
            in.skip(step.bits);
            if (step.kind == LiteralStep::Literal) {
                ++offset;
                continue;
            }
            if (step.kind == LiteralStep::End)
                break;
            offset += step.base + in.bits(step.extra);
        } else {
            const int symbol = literals.decode(in);
            if (symbol < 0)
                return std::nullopt;
            if (symbol < endOfBlock) {
                ++offset;
                continue;
            }
            if (symbol == endOfBlock)
                break;
            const int index = symbol - 257;
            if (index >= int(lengthBase.size()))
                return std::nullopt;
            offset += lengthBase[size_t(index)] + in.bits(lengthExtra[size_t(index)]);
        }
        // The match's distance is not needed: only its bits, code and extra bits (at most
        // 23), are stepped over.
        constexpr int distanceMask = (1 << Huffman::fastBits) - 1;
        if (const int bits = distanceBits[size_t(in.peek(24) & distanceMask)]; bits != 0) {
            in.skip(bits);
        } else {
            const int distance = distances.decode(in);
            if (distance < 0 || distance >= distanceCodes)
                return std::nullopt;
            in.bits(distanceExtra[size_t(distance)]);
        }
    }
    if (in.overrun() || cutBit < 0)
        return std::nullopt;
    return BlockCut{cutBit, cutOffset, endCode, endCodeBits, final};
}

namespace {

// Bits written into a deflate stream, first bit lowest.
class BitWriter
{
public:
    explicit BitWriter(QByteArray &out) : m_out(out) { }

    // `bits` (at most 16) bits of `value`, lowest first.
    void put(quint32 value, int bits)
    {
        m_pending |= (value & ((1u << bits) - 1)) << m_count;
        m_count += bits;
        while (m_count >= 8) {
            m_out.append(char(m_pending & 0xFF));
            m_pending >>= 8;
            m_count -= 8;
        }
    }
    // A Huffman code of `length` bits, which go most significant first.
    void code(quint32 code, int length)
    {
        for (int i = length; i-- > 0;)
            put((code >> i) & 1, 1);
    }
    // A block that is not the last one, with its own codes, that holds only its end: 93 bits.
    // Its literal code has one code, the end of the block, of one bit; its distance code none.
    void emptyDynamicBlock()
    {
        put(0, 1); // not the last block
        put(2, 2); // its own codes
        put(0, 5); // 257 literal and length codes
        put(0, 5); // 1 distance code
        put(14, 4); // 18 code length codes, in this order:
        static constexpr std::array<int, 18> order = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
        for (const int symbol : order)
            put(symbol == 18 ? 1 : symbol == 0 ? 2 : symbol == 1 || symbol == 17 ? 3 : 0, 3);
        // The code length codes: 18 is 0, 0 is 10, 1 is 110 (17, 111, is not used).
        code(0, 1); // 138 zero lengths
        put(138 - 11, 7);
        code(0, 1); // 118 more: no literal has a code
        put(118 - 11, 7);
        code(0b110, 3); // the end of the block: one bit
        code(0b10, 2); // the distance code: none
        code(0, 1); // the end of this block
    }
    int pendingBits() const { return m_count; }
    quint32 pending() const { return m_pending; }

private:
    QByteArray &m_out;
    quint32 m_pending = 0;
    int m_count = 0;
};

struct LibdeflateDecompressorFree
{
    void operator()(libdeflate_decompressor *decompressor) const { libdeflate_free_decompressor(decompressor); }
};

} // namespace

bool inflatesFromBoundary(const QByteArray &data, int skipBits, QByteArrayView before, std::span<const QByteArrayView> text)
{
    if (data.isEmpty() || skipBits < 0 || skipBits > 7)
        return false;
    // libdeflate inflates whole streams, from a byte boundary and without a preset window. So
    // a stream is built that inflates to the window followed by the text: the window as a
    // stored block that is not the last one, then blocks that give no text and end at bit
    // `skipBits` of a byte, then the data from the boundary on, its bytes as they are. Every
    // byte of the data stays where it was relative to a byte boundary, so that the inflate
    // ending in the last byte of the stream shows the data ends where it should.
    before = before.last(std::min(before.size(), kDeflateWindow));
    QByteArray stream;
    stream.reserve(before.size() + data.size() + 32);
    BitWriter out(stream);
    if (!before.isEmpty()) {
        out.put(0, 3); // not the last block, stored
        out.put(0, 5); // to the byte boundary
        const auto length = quint32(before.size());
        out.put(length, 16);
        out.put(~length & 0xFFFF, 16);
        stream.append(before);
    }
    // An empty block with fixed codes takes 10 bits; one with its own codes, below, 93. From
    // a byte boundary, enough of them to end at bit skipBits of a byte.
    int fixedBlocks = skipBits / 2;
    if (skipBits % 2 == 1) {
        out.emptyDynamicBlock();
        fixedBlocks = ((skipBits - 5 + 8) % 8) / 2;
    }
    for (int i = 0; i < fixedBlocks; ++i) {
        out.put(2, 3); // not the last block, fixed codes
        out.code(0, 7); // the end of the block
    }
    if (out.pendingBits() != skipBits)
        return false;
    const auto first = quint8(data.at(0));
    stream.append(char(out.pending() | (first & (0xFF << skipBits))));
    stream.append(data.constData() + 1, data.size() - 1);

    std::unique_ptr<libdeflate_decompressor, LibdeflateDecompressorFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("inflate: out of memory"));
    qsizetype expected = before.size();
    for (const QByteArrayView piece : text)
        expected += piece.size();
    QByteArray inflated(expected, Qt::Uninitialized);
    size_t inUsed = 0;
    size_t outUsed = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        decompressor.get(), stream.constData(), size_t(stream.size()), inflated.data(), size_t(expected), &inUsed, &outUsed);
    // The last block ends in the last byte: no byte of the data is left over or missing.
    if (result != LIBDEFLATE_SUCCESS || qsizetype(outUsed) != expected || qsizetype(inUsed) != stream.size())
        return false;
    if (std::memcmp(inflated.constData(), before.data(), size_t(before.size())) != 0)
        return false;
    qsizetype at = before.size();
    for (const QByteArrayView piece : text) {
        if (std::memcmp(inflated.constData() + at, piece.data(), size_t(piece.size())) != 0)
            return false;
        at += piece.size();
    }
    return true;
}

} // namespace gm::xlsx
