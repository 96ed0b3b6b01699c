#include "automation/xlsx/DeflateBlocks.h"

#include <QtEndian>

#include <array>

namespace gm::xlsx {

namespace {

constexpr int maxCodeBits = 15;
constexpr int literalCodes = 288;
constexpr int distanceCodes = 30;
constexpr int endOfBlock = 256;

// Bits of the stored data, least significant bit of each byte first. Reading past the end
// gives zeros and marks the reader as overrun.
class BitReader
{
public:
    BitReader(const QByteArray &data, qint64 bit)
        : m_data(reinterpret_cast<const uchar *>(data.constData())), m_end(qint64(data.size()) * 8), m_bit(bit)
    { }

    int bit() { return bits(1); }
    // The next `count` bits (at most 16) without taking them.
    int peek(int count) const
    {
        const qint64 first = m_bit >> 3;
        const qint64 bytes = m_end >> 3;
        quint32 window = 0;
        if (first + 4 <= bytes) {
            window = qFromLittleEndian<quint32>(m_data + first);
        } else {
            for (qint64 i = 0; first + i < bytes; ++i)
                window |= quint32(m_data[first + i]) << (8 * i);
        }
        return int((window >> (m_bit & 7)) & ((1u << count) - 1));
    }
    void skip(int count)
    {
        m_bit += count;
        if (m_bit > m_end) {
            m_overrun = true;
            m_bit = m_end;
        }
    }
    int bits(int count)
    {
        const int value = peek(count);
        skip(count);
        return value;
    }
    qint64 position() const { return m_bit; }
    bool overrun() const { return m_overrun; }

private:
    const uchar *m_data;
    qint64 m_end;
    qint64 m_bit;
    bool m_overrun = false;
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
    std::optional<BlockCut> cut;
    qint64 offset = startOffset;
    // Each code's start is a place to cut as long as the text before it ends by `limit`.
    while (offset <= limit) {
        cut = BlockCut{in.position(), offset, endCode, endCodeBits, final};
        const int symbol = literals.decode(in);
        if (symbol < 0 || in.overrun())
            return std::nullopt;
        if (symbol < endOfBlock) {
            ++offset;
        } else if (symbol == endOfBlock) {
            break;
        } else {
            const int index = symbol - 257;
            if (index >= int(lengthBase.size()))
                return std::nullopt;
            offset += lengthBase[size_t(index)] + in.bits(lengthExtra[size_t(index)]);
            const int distance = distances.decode(in);
            if (distance < 0 || distance >= distanceCodes)
                return std::nullopt;
            in.bits(distanceExtra[size_t(distance)]);
            if (in.overrun())
                return std::nullopt;
        }
    }
    return cut;
}

} // namespace gm::xlsx
