// Fax coding of bilevel rows (ITU-T T.4 and T.6), shared by the file types that carry it:
// modified Huffman (group 3, one-dimensional), modified READ (group 3, two-dimensional, one
// coded row in K starting afresh) and modified modified READ (group 4).
//
// Rows travel packed, most significant bit first, 1 for black. The decoder never reads past
// its buffer (missing bits read as the end of the data), refuses a row whose runs add up to
// more than its width, and its work is bounded by the number of bits it is given plus the
// pixels of the rows it produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace lt::codec::ccitt {

enum class Coding : uint8_t {
    MH,  // group 3, one-dimensional
    MR,  // group 3, two-dimensional
    MMR, // group 4
};

// Which bit of a byte comes first in the stream. Most formats go from the high bit; some fax
// software writes bytes the other way round.
enum class BitOrder : uint8_t { MsbFirst, LsbFirst };

// How group 3 rows begin. Readers accept any of the EOL forms whatever is asked for.
enum class RowStart : uint8_t {
    Eol,         // an end-of-line code before every row
    AlignedEol,  // the same, padded with zeros so that each code ends on a byte boundary
    ByteAligned, // no EOL; each row starts on a new byte (TIFF's "modified Huffman RLE")
    Plain,       // rows follow one another with nothing in between
};

struct Params {
    Coding coding = Coding::MMR;
    BitOrder order = BitOrder::MsbFirst;
    RowStart rowStart = RowStart::Eol; // group 3 only
    int k = 4;                         // MR: a one-dimensional row, then k - 1 two-dimensional
    bool endMarker = true;             // write RTC (group 3) or EOFB (group 4) after the rows
};

enum class Status {
    Complete, // every row asked for was decoded
    Ended,    // the data (or an end-of-page marker) came before the last row
    Corrupt,  // a code that is not in the tables, or runs longer than the row
    NoMemory,
};

struct DecodeResult {
    Status status;
    int rows; // rows handed to the sink
};

// Receives each decoded row (ceil(width / 8) bytes); returning false stops the decoder,
// which then reports Complete with the rows so far.
using RowSink = std::function<bool(int row, const uint8_t* bits)>;
// Fills row `row` (ceil(width / 8) bytes) for the encoder.
using RowSource = std::function<void(int row, uint8_t* bits)>;

DecodeResult Decode(const uint8_t* data, size_t size, int width, int height, const Params& p,
                    const RowSink& sink);

// Appends the coded rows to `out`. Returns false only when memory ran out.
bool Encode(int width, int height, const Params& p, const RowSource& source,
            std::vector<uint8_t>& out);

} // namespace lt::codec::ccitt
