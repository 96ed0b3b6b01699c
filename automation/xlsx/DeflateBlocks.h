#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>
#include <span>

namespace gm::xlsx {

// A place inside a compressed (Huffman-coded) deflate block where it can be ended early: the
// bits before it decode to exactly the text before `offset`, and writing the block's own
// end-of-block code there closes the block. Lets a change to the text keep the stored bytes of
// a long block up to just before the change, instead of only up to the block's start.
struct BlockCut
{
    qint64 bit = 0; // position in the stored bytes, in bits
    qint64 offset = 0; // position in the uncompressed text
    quint32 endCode = 0; // the block's end-of-block code, in stream bit order (first bit lowest)
    int endCodeBits = 0;
    bool final = false; // the block carries the last-block flag (its first bit)
};

// Reads the deflate block that starts at bit `startBit` of `data` (raw deflate, as zip entries
// hold it), whose text starts at `startOffset`, and returns the last code boundary at or
// before the text position `limit`. Empty for a stored block, for data that ends early or does
// not decode, and when no code of the block ends by `limit`.
std::optional<BlockCut> cutDeflateBlock(const QByteArray &data, qint64 startBit, qint64 startOffset, qint64 limit);

// Whether raw deflate data that starts at bit `skipBits` (0 to 7) of `data`, at a block
// boundary, inflates to exactly `text` and ends in its last byte (or, when `skipBits` is not 0,
// in the one before, which the last `skipBits` bits of the data may leave as padding), given
// the text before the boundary (`before`, of which the last 32 KiB is the window). Inflated by
// libdeflate, so that data cut by the decoder above is checked by another. Throws
// EngineError(SaveFailed) when out of memory.
// `text` may come in pieces, compared one after another.
bool inflatesFromBoundary(const QByteArray &data, int skipBits, QByteArrayView before, std::span<const QByteArrayView> text);
inline bool inflatesFromBoundary(const QByteArray &data, int skipBits, QByteArrayView before, QByteArrayView text)
{
    return inflatesFromBoundary(data, skipBits, before, std::span<const QByteArrayView>(&text, 1));
}

} // namespace gm::xlsx
