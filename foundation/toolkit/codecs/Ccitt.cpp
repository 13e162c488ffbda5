// Fax coding after ITU-T T.4 (group 3) and T.6 (group 4).
//
// Rows are handled as lists of changing elements: the positions where the colour changes,
// the first one from white to black. Those at even indices turn black, those at odd indices
// turn white; every list ends in three copies of the width, so the searches below always
// stop. A decoded row may hold zero-length runs, so its list never decreases but may repeat
// a position.
#include "Ccitt.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>

namespace lt::codec::ccitt {
namespace {

struct Code {
    uint16_t bits;
    uint8_t length;
};

// Terminating codes, runs 0 to 63.
constexpr Code kWhiteTerm[64] = {
    {0b00110101, 8}, {0b000111, 6},   {0b0111, 4},     {0b1000, 4},     {0b1011, 4},
    {0b1100, 4},     {0b1110, 4},     {0b1111, 4},     {0b10011, 5},    {0b10100, 5},
    {0b00111, 5},    {0b01000, 5},    {0b001000, 6},   {0b000011, 6},   {0b110100, 6},
    {0b110101, 6},   {0b101010, 6},   {0b101011, 6},   {0b0100111, 7},  {0b0001100, 7},
    {0b0001000, 7},  {0b0010111, 7},  {0b0000011, 7},  {0b0000100, 7},  {0b0101000, 7},
    {0b0101011, 7},  {0b0010011, 7},  {0b0100100, 7},  {0b0011000, 7},  {0b00000010, 8},
    {0b00000011, 8}, {0b00011010, 8}, {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8},
    {0b00010100, 8}, {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8},
    {0b00101001, 8}, {0b00101010, 8}, {0b00101011, 8}, {0b00101100, 8}, {0b00101101, 8},
    {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8}, {0b00001011, 8}, {0b01010010, 8},
    {0b01010011, 8}, {0b01010100, 8}, {0b01010101, 8}, {0b00100100, 8}, {0b00100101, 8},
    {0b01011000, 8}, {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8},
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8},
};

constexpr Code kBlackTerm[64] = {
    {0b0000110111, 10},
    {0b010, 3},
    {0b11, 2},
    {0b10, 2},
    {0b011, 3},
    {0b0011, 4},
    {0b0010, 4},
    {0b00011, 5},
    {0b000101, 6},
    {0b000100, 6},
    {0b0000100, 7},
    {0b0000101, 7},
    {0b0000111, 7},
    {0b00000100, 8},
    {0b00000111, 8},
    {0b000011000, 9},
    {0b0000010111, 10},
    {0b0000011000, 10},
    {0b0000001000, 10},
    {0b00001100111, 11},
    {0b00001101000, 11},
    {0b00001101100, 11},
    {0b00000110111, 11},
    {0b00000101000, 11},
    {0b00000010111, 11},
    {0b00000011000, 11},
    {0b000011001010, 12},
    {0b000011001011, 12},
    {0b000011001100, 12},
    {0b000011001101, 12},
    {0b000001101000, 12},
    {0b000001101001, 12},
    {0b000001101010, 12},
    {0b000001101011, 12},
    {0b000011010010, 12},
    {0b000011010011, 12},
    {0b000011010100, 12},
    {0b000011010101, 12},
    {0b000011010110, 12},
    {0b000011010111, 12},
    {0b000001101100, 12},
    {0b000001101101, 12},
    {0b000011011010, 12},
    {0b000011011011, 12},
    {0b000001010100, 12},
    {0b000001010101, 12},
    {0b000001010110, 12},
    {0b000001010111, 12},
    {0b000001100100, 12},
    {0b000001100101, 12},
    {0b000001010010, 12},
    {0b000001010011, 12},
    {0b000000100100, 12},
    {0b000000110111, 12},
    {0b000000111000, 12},
    {0b000000100111, 12},
    {0b000000101000, 12},
    {0b000001011000, 12},
    {0b000001011001, 12},
    {0b000000101011, 12},
    {0b000000101100, 12},
    {0b000001011010, 12},
    {0b000001100110, 12},
    {0b000001100111, 12},
};

// Make-up codes for 64, 128, ... 1728 (index run / 64 - 1).
constexpr Code kWhiteMakeup[27] = {
    {0b11011, 5},     {0b10010, 5},     {0b010111, 6},    {0b0110111, 7},   {0b00110110, 8},
    {0b00110111, 8},  {0b01100100, 8},  {0b01100101, 8},  {0b01101000, 8},  {0b01100111, 8},
    {0b011001100, 9}, {0b011001101, 9}, {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9},
    {0b011010101, 9}, {0b011010110, 9}, {0b011010111, 9}, {0b011011000, 9}, {0b011011001, 9},
    {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9}, {0b010011001, 9}, {0b010011010, 9},
    {0b011000, 6},    {0b010011011, 9},
};

constexpr Code kBlackMakeup[27] = {
    {0b0000001111, 10},    {0b000011001000, 12},  {0b000011001001, 12},  {0b000001011011, 12},
    {0b000000110011, 12},  {0b000000110100, 12},  {0b000000110101, 12},  {0b0000001101100, 13},
    {0b0000001101101, 13}, {0b0000001001010, 13}, {0b0000001001011, 13}, {0b0000001001100, 13},
    {0b0000001001101, 13}, {0b0000001110010, 13}, {0b0000001110011, 13}, {0b0000001110100, 13},
    {0b0000001110101, 13}, {0b0000001110110, 13}, {0b0000001110111, 13}, {0b0000001010010, 13},
    {0b0000001010011, 13}, {0b0000001010100, 13}, {0b0000001010101, 13}, {0b0000001011010, 13},
    {0b0000001011011, 13}, {0b0000001100100, 13}, {0b0000001100101, 13},
};

// Make-up codes both colours share, for 1792 to 2560.
constexpr Code kExtendedMakeup[13] = {
    {0b00000001000, 11},  {0b00000001100, 11},  {0b00000001101, 11},  {0b000000010010, 12},
    {0b000000010011, 12}, {0b000000010100, 12}, {0b000000010101, 12}, {0b000000010110, 12},
    {0b000000010111, 12}, {0b000000011100, 12}, {0b000000011101, 12}, {0b000000011110, 12},
    {0b000000011111, 12},
};

constexpr Code kEol = {0b000000000001, 12};
constexpr int kMaxMakeup = 2560;

// Two-dimensional modes.
enum Mode : uint8_t { kPass, kHorizontal, kV0, kVR1, kVR2, kVR3, kVL1, kVL2, kVL3, kModeEol };
constexpr Code kModeCodes[9] = {
    {0b0001, 4},    {0b001, 3}, {0b1, 1},      {0b011, 3},     {0b000011, 6},
    {0b0000011, 7}, {0b010, 3}, {0b000010, 6}, {0b0000010, 7},
};
constexpr int kVerticalOffset[9] = {0, 0, 0, 1, 2, 3, -1, -2, -3};

// Decoding looks up the next 13 bits (the longest code) at once.
constexpr int kLookBits = 13;
constexpr int16_t kInvalid = -1, kEolRun = -2, kTooLong = -3;

struct Entry {
    int16_t run = kInvalid; // run length, kEolRun, or the mode
    uint8_t length = 0;
};

struct Tables {
    std::array<Entry, 1 << kLookBits> white, black, mode;
};

void Fill(std::array<Entry, 1 << kLookBits>& t, Code c, int16_t run) {
    const int free = kLookBits - c.length;
    const int first = c.bits << free;
    for (int i = 0; i < 1 << free; ++i) t[size_t(first + i)] = {run, c.length};
}

const Tables& GetTables() {
    static const Tables* tables = [] {
        auto* t = new Tables;
        for (int i = 0; i < 64; ++i) {
            Fill(t->white, kWhiteTerm[i], int16_t(i));
            Fill(t->black, kBlackTerm[i], int16_t(i));
        }
        for (int i = 0; i < 27; ++i) {
            Fill(t->white, kWhiteMakeup[i], int16_t(64 * (i + 1)));
            Fill(t->black, kBlackMakeup[i], int16_t(64 * (i + 1)));
        }
        for (int i = 0; i < 13; ++i) {
            Fill(t->white, kExtendedMakeup[i], int16_t(1792 + 64 * i));
            Fill(t->black, kExtendedMakeup[i], int16_t(1792 + 64 * i));
        }
        Fill(t->white, kEol, kEolRun);
        Fill(t->black, kEol, kEolRun);
        for (int m = 0; m < 9; ++m) Fill(t->mode, kModeCodes[m], int16_t(m));
        Fill(t->mode, kEol, kModeEol);
        return t;
    }();
    return *tables;
}

uint8_t Reverse(uint8_t b) {
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Bits past the end read as zeros; Past() tells when any of them were consumed.
class BitReader {
public:
    BitReader(const uint8_t* d, size_t n, BitOrder order)
        : d_(d), n_(n), bits_(uint64_t(n) * 8), lsb_(order == BitOrder::LsbFirst) {}

    uint32_t Peek(int count) const {
        const size_t byte = size_t(pos_ >> 3);
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = v << 8 | Byte(byte + i);
        return (v << (pos_ & 7)) >> (32 - count);
    }
    void Skip(int count) { pos_ += uint64_t(count); }
    void Back(int count) { pos_ -= uint64_t(count); }
    void AlignByte() { pos_ = (pos_ + 7) & ~uint64_t(7); }
    bool AtEnd() const { return pos_ >= bits_; }
    bool Past() const { return pos_ > bits_; }
    // True when a failed code may simply be the data running out.
    bool NearEnd() const { return pos_ + kLookBits > bits_; }

private:
    uint32_t Byte(size_t i) const {
        if (i >= n_) return 0;
        return lsb_ ? Reverse(d_[i]) : d_[i];
    }
    const uint8_t* d_;
    size_t n_;
    uint64_t bits_, pos_ = 0;
    bool lsb_;
};

// BadCode may be the data running out; TooLong never is.
enum class RowResult { Done, Eol, BadCode, TooLong };

// A run of one colour: make-up codes, then a terminating code. Returns the length, or
// kEolRun, kInvalid for a bad code, kTooLong for a run longer than `limit`.
int ReadRun(BitReader& r, const std::array<Entry, 1 << kLookBits>& table, int limit) {
    int total = 0;
    for (;;) {
        const Entry e = table[r.Peek(kLookBits)];
        if (e.run == kInvalid) return kInvalid;
        r.Skip(e.length);
        if (e.run == kEolRun) return total == 0 ? kEolRun : kInvalid;
        total += e.run;
        if (total > limit) return kTooLong;
        if (e.run < 64) return total;
    }
}

void EndList(std::vector<int>& list, int width) {
    list.push_back(width);
    list.push_back(width);
    list.push_back(width);
}

// A row longer than this many changes is not from an encoder, only from zero-length runs.
size_t MaxChanges(int width) { return 2 * size_t(width) + 8; }

RowResult DecodeRow1D(BitReader& r, const Tables& t, int width, std::vector<int>& cur) {
    cur.clear();
    int a0 = 0, color = 0;
    while (a0 < width) {
        const int run = ReadRun(r, color ? t.black : t.white, width - a0);
        if (run == kEolRun) {
            // A row cut short by the next row's EOL: the rest keeps the current colour.
            r.Back(kEol.length);
            break;
        }
        if (run == kTooLong || cur.size() > MaxChanges(width)) return RowResult::TooLong;
        if (run < 0) return RowResult::BadCode;
        a0 += run;
        cur.push_back(a0);
        color ^= 1;
    }
    EndList(cur, width);
    return RowResult::Done;
}

RowResult DecodeRow2D(BitReader& r, const Tables& t, int width, const std::vector<int>& ref,
                      std::vector<int>& cur) {
    cur.clear();
    int a0 = -1, color = 0;
    size_t j = 0;
    while (a0 < width) {
        while (j > 0 && ref[j - 1] > a0) --j;
        while (ref[j] <= a0 || int(j & 1) != color) ++j;
        const int b1 = ref[j], b2 = ref[j + 1];
        const Entry e = t.mode[r.Peek(kLookBits)];
        if (e.run == kInvalid) return RowResult::BadCode;
        r.Skip(e.length);
        if (cur.size() > MaxChanges(width)) return RowResult::TooLong;
        const int start = std::max(a0, 0);
        switch (e.run) {
            case kPass: a0 = b2; break;
            case kHorizontal: {
                const int r1 = ReadRun(r, color ? t.black : t.white, width - start);
                if (r1 < 0) return r1 == kTooLong ? RowResult::TooLong : RowResult::BadCode;
                const int r2 = ReadRun(r, color ? t.white : t.black, width - start - r1);
                if (r2 < 0) return r2 == kTooLong ? RowResult::TooLong : RowResult::BadCode;
                cur.push_back(start + r1);
                cur.push_back(start + r1 + r2);
                a0 = start + r1 + r2;
                break;
            }
            case kModeEol:
                r.Back(kEol.length);
                if (cur.empty() && a0 < 0) return RowResult::Eol;
                a0 = width; // a row cut short by the next EOL
                break;
            default: {
                const int a1 = b1 + kVerticalOffset[e.run];
                if (a1 < start || a1 > width) return RowResult::TooLong;
                cur.push_back(a1);
                a0 = a1;
                color ^= 1;
            }
        }
    }
    EndList(cur, width);
    return RowResult::Done;
}

// Sets bits [from, to) of a packed row.
void SetRun(uint8_t* row, int from, int to) {
    if (from >= to) return;
    int first = from >> 3, last = (to - 1) >> 3;
    const uint8_t head = uint8_t(0xFF >> (from & 7)), tail = uint8_t(0xFF << (7 - ((to - 1) & 7)));
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    for (int i = first + 1; i < last; ++i) row[i] = 0xFF;
    row[last] |= tail;
}

void Render(const std::vector<int>& changes, int width, uint8_t* row, size_t rowBytes) {
    std::fill(row, row + rowBytes, uint8_t(0));
    // The list ends in copies of the width, so every black start has an end.
    for (size_t i = 0; i + 1 < changes.size() && changes[i] < width; i += 2)
        SetRun(row, changes[i], std::min(changes[i + 1], width));
}

// Skips fill bits and EOLs before a group 3 row. Returns the number of EOLs; *tag receives
// the bit after the last one (two-dimensional coding).
int SkipEols(BitReader& r, bool tagged, int* tag) {
    int eols = 0;
    for (;;) {
        const uint32_t next = r.Peek(kEol.length);
        if (next == kEol.bits) {
            r.Skip(kEol.length);
            ++eols;
            if (tagged) {
                *tag = int(r.Peek(1));
                r.Skip(1);
            }
        } else if (next == 0 && !r.AtEnd()) {
            r.Skip(1);
        } else {
            return eols;
        }
    }
}

} // namespace

DecodeResult Decode(const uint8_t* data, size_t size, int width, int height, const Params& p,
                    const RowSink& sink) {
    if (width <= 0 || height <= 0) return {Status::Corrupt, 0};
    const Tables& t = GetTables();
    BitReader r(data, size, p.order);
    std::vector<int> ref, cur;
    std::vector<uint8_t> row;
    try {
        ref.reserve(size_t(width) + 4);
        cur.reserve(size_t(width) + 4);
        row.resize((size_t(width) + 7) / 8);
    } catch (const std::bad_alloc&) {
        return {Status::NoMemory, 0};
    }
    EndList(ref, width); // the row above the first one is white
    const bool g3 = p.coding != Coding::MMR;
    for (int y = 0; y < height; ++y) {
        bool twoD = p.coding != Coding::MH;
        if (g3) {
            if (p.rowStart == RowStart::ByteAligned && y > 0) r.AlignByte();
            int tag = 1;
            const int eols = SkipEols(r, p.coding == Coding::MR, &tag);
            // Two EOLs in a row end the page (RTC is six).
            if (eols >= 2 && y > 0) return {Status::Ended, y};
            if (p.coding == Coding::MR) twoD = eols > 0 ? tag == 0 : y % std::max(p.k, 1) != 0;
        }
        if (r.AtEnd()) return {Status::Ended, y};
        RowResult res;
        try {
            res = twoD ? DecodeRow2D(r, t, width, ref, cur) : DecodeRow1D(r, t, width, cur);
        } catch (const std::bad_alloc&) {
            return {Status::NoMemory, y};
        }
        if (res == RowResult::Eol) return {Status::Ended, y};
        if (res == RowResult::TooLong) return {Status::Corrupt, y};
        if (res == RowResult::BadCode) return {r.NearEnd() ? Status::Ended : Status::Corrupt, y};
        if (r.Past()) return {Status::Ended, y};
        Render(cur, width, row.data(), row.size());
        if (!sink(y, row.data())) return {Status::Complete, y + 1};
        std::swap(ref, cur);
    }
    return {Status::Complete, height};
}

namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out), start_(out.size()) {}
    void Put(Code c) { Put(c.bits, c.length); }
    void Put(uint32_t bits, int length) {
        acc_ = acc_ << length | bits;
        pending_ += length;
        while (pending_ >= 8) {
            pending_ -= 8;
            out_.push_back(uint8_t(acc_ >> pending_));
        }
        acc_ &= (1u << pending_) - 1;
    }
    uint64_t Bits() const { return uint64_t(out_.size() - start_) * 8 + uint64_t(pending_); }
    void AlignByte() {
        if (pending_) Put(0, 8 - pending_);
    }
    void Finish(BitOrder order) {
        AlignByte();
        if (order == BitOrder::LsbFirst)
            for (size_t i = start_; i < out_.size(); ++i) out_[i] = Reverse(out_[i]);
    }

private:
    std::vector<uint8_t>& out_;
    size_t start_;
    uint32_t acc_ = 0;
    int pending_ = 0;
};

void PutRun(BitWriter& w, int color, int run) {
    while (run >= kMaxMakeup) {
        w.Put(kExtendedMakeup[12]);
        run -= kMaxMakeup;
    }
    if (run >= 64) {
        const int m = run / 64;
        w.Put(m > 27 ? kExtendedMakeup[m - 28] : color ? kBlackMakeup[m - 1] : kWhiteMakeup[m - 1]);
        run %= 64;
    }
    w.Put(color ? kBlackTerm[run] : kWhiteTerm[run]);
}

int Pixel(const uint8_t* row, int x) { return row[x >> 3] >> (7 - (x & 7)) & 1; }

// The changing elements of a packed row.
void Changes(const uint8_t* row, int width, std::vector<int>& out) {
    out.clear();
    int color = 0;
    for (int x = 0; x < width;) {
        // Whole bytes of the current colour are passed over at once.
        if ((x & 7) == 0 && x + 8 <= width && row[x >> 3] == (color ? 0xFF : 0x00)) {
            x += 8;
            continue;
        }
        if (Pixel(row, x) != color) {
            out.push_back(x);
            color ^= 1;
        }
        ++x;
    }
    EndList(out, width);
}

// First element of `list` right of a0 that changes to the colour opposite `color`.
size_t Next(const std::vector<int>& list, size_t j, int a0, int color) {
    while (j > 0 && list[j - 1] > a0) --j;
    while (list[j] <= a0 || int(j & 1) != color) ++j;
    return j;
}

void EncodeRow1D(BitWriter& w, int width, const std::vector<int>& cur) {
    int a0 = 0, color = 0;
    for (size_t i = 0; a0 < width; ++i) {
        const int a1 = std::min(cur[i], width);
        PutRun(w, color, a1 - a0);
        a0 = a1;
        color ^= 1;
    }
}

void EncodeRow2D(BitWriter& w, int width, const std::vector<int>& ref,
                 const std::vector<int>& cur) {
    int a0 = -1, color = 0;
    size_t i = 0, j = 0;
    while (a0 < width) {
        i = Next(cur, i, a0, color);
        j = Next(ref, j, a0, color);
        const int a1 = cur[i], b1 = ref[j], b2 = ref[j + 1];
        if (b2 < a1) {
            w.Put(kModeCodes[kPass]);
            a0 = b2;
        } else if (std::abs(a1 - b1) <= 3) {
            const int d = a1 - b1;
            w.Put(kModeCodes[d == 0 ? kV0 : d > 0 ? kV0 + d : kVL1 - 1 - d]);
            a0 = a1;
            color ^= 1;
        } else {
            const int a2 = cur[i + 1], start = std::max(a0, 0);
            w.Put(kModeCodes[kHorizontal]);
            PutRun(w, color, a1 - start);
            PutRun(w, color ^ 1, a2 - a1);
            a0 = a2;
        }
    }
}

} // namespace

bool Encode(int width, int height, const Params& p, const RowSource& source,
            std::vector<uint8_t>& out) {
    if (width <= 0 || height < 0) return false;
    try {
        BitWriter w(out);
        std::vector<uint8_t> row((size_t(width) + 7) / 8);
        std::vector<int> ref, cur;
        EndList(ref, width);
        const bool g3 = p.coding != Coding::MMR;
        const int k = std::max(p.k, 1);
        auto eol = [&] {
            if (p.rowStart == RowStart::AlignedEol) {
                const int pad = int((8 - (w.Bits() + kEol.length) % 8) % 8);
                if (pad) w.Put(0, pad);
            }
            w.Put(kEol);
        };
        for (int y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), uint8_t(0));
            source(y, row.data());
            Changes(row.data(), width, cur);
            bool twoD = p.coding == Coding::MMR || (p.coding == Coding::MR && y % k != 0);
            if (g3) {
                if (p.rowStart == RowStart::ByteAligned) {
                    w.AlignByte();
                } else if (p.rowStart != RowStart::Plain) {
                    eol();
                    if (p.coding == Coding::MR) w.Put(twoD ? 0 : 1, 1);
                }
            }
            if (twoD)
                EncodeRow2D(w, width, ref, cur);
            else
                EncodeRow1D(w, width, cur);
            std::swap(ref, cur);
        }
        if (p.endMarker) {
            if (p.coding == Coding::MMR) {
                w.Put(kEol);
                w.Put(kEol);
            } else if (p.rowStart != RowStart::ByteAligned) {
                for (int i = 0; i < 6; ++i) {
                    eol();
                    if (p.coding == Coding::MR) w.Put(1, 1);
                }
            }
        }
        w.Finish(p.order);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace lt::codec::ccitt
