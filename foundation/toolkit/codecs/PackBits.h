// Apple's PackBits byte runs, as MacPaint and PICT store rows: a count byte n, then n + 1
// literal bytes (n < 128) or one byte repeated 257 - n times (n > 128); 128 is skipped.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lt::codec {

// Reads runs from [p, end) into rows. A run may go on into the next row, as some writers let
// it; the bytes left of it are kept for the next call.
class PackBitsReader {
public:
    PackBitsReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

    // Fills `bytes` bytes of `out`; false when the data ended first.
    bool Next(uint8_t* out, size_t bytes) {
        size_t at = 0;
        while (at < bytes) {
            if (left_ > 0) {
                size_t n = std::min(left_, bytes - at);
                if (literal_) {
                    // A literal cut by the end of the data gives what is there.
                    n = std::min(n, size_t(end_ - p_));
                    if (n == 0) return false;
                    std::memcpy(out + at, p_, n);
                    p_ += n;
                } else {
                    std::memset(out + at, value_, n);
                }
                at += n;
                left_ -= n;
                continue;
            }
            if (p_ == end_) return false;
            const uint8_t c = *p_++;
            if (c < 128) {
                literal_ = true;
                left_ = size_t(c) + 1;
            } else if (c > 128) {
                if (p_ == end_) return false;
                literal_ = false;
                value_ = *p_++;
                left_ = 257 - size_t(c);
            }
        }
        return true;
    }

    const uint8_t* Position() const { return p_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    size_t left_ = 0;
    bool literal_ = false;
    uint8_t value_ = 0;
};

// Appends `n` bytes of `row` packed: runs of three or more equal bytes as repeats, the rest
// as literals of up to 128 bytes.
inline void PackBits(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        // Literal bytes up to the next run of three.
        size_t j = i;
        while (j < n && j - i < 128) {
            if (j + 2 < n && row[j] == row[j + 1] && row[j] == row[j + 2]) break;
            ++j;
        }
        out.push_back(uint8_t(j - i - 1));
        out.insert(out.end(), row + i, row + j);
        i = j;
    }
}

} // namespace lt::codec
