// Microsoft Paint pictures (.msp) of Windows 1 and 2: 1 bit, set bits white. A header of
// sixteen little-endian words starts with "DanM" (version 1: the rows follow, (width + 7) / 8
// bytes each) or "LinS" (version 2: a table of each row's coded length, then the rows coded
// as runs: 0 n v is n bytes of v, any other n is n bytes as they are).
//
// Reading trusts the row table for where each row starts, so one damaged row does not shift
// the rest; a row whose codes run past its length is cut there. The header's checksum is not
// checked: writers disagree on it. Writing: version 2.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr size_t kHeader = 32;

struct Header {
    int version = 0, width = 0, height = 0;
    size_t rowBytes = 0;
};

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
    if (size < kHeader) return ERROR_FILE_FORMAT;
    if (std::memcmp(d, "DanM", 4) == 0)
        h.version = 1;
    else if (std::memcmp(d, "LinS", 4) == 0)
        h.version = 2;
    else
        return ERROR_FILE_FORMAT;
    h.width = d[4] | d[5] << 8;
    h.height = d[6] | d[7] << 8;
    if (h.width == 0 || h.height == 0) return ERROR_FILE_FORMAT;
    h.rowBytes = (size_t(h.width) + 7) / 8;
    return SUCCESS;
}

bool Sniff(const uint8_t* d, size_t size) {
    return size >= 4 && (std::memcmp(d, "DanM", 4) == 0 || std::memcmp(d, "LinS", 4) == 0);
}

int Info(const uint8_t* d, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(d, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_MSP;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = 1;
    info->Colors = 2;
    info->Compression = h.version == 2 ? 1 : 0;
    info->Passes = 1;
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    info->XResolution = ext.XResolution;
    info->YResolution = ext.YResolution;
    return SUCCESS;
}

// Decodes the runs of [p, end) into one row; bytes past the row are dropped.
void DecodeRow(const uint8_t* p, const uint8_t* end, uint8_t* row, size_t bytes) {
    size_t at = 0;
    while (p < end && at < bytes) {
        const uint8_t n = *p++;
        if (n == 0) {
            if (end - p < 2) return;
            const size_t count = std::min<size_t>(p[0], bytes - at);
            std::memset(row + at, p[1], count);
            at += count;
            p += 2;
        } else {
            const size_t count = std::min({size_t(n), bytes - at, size_t(end - p)});
            std::memcpy(row + at, p, count);
            at += count;
            p += n;
        }
    }
}

int Load(const uint8_t* d, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(d, size, h);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(h.width, h.height, 1, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    L_InitBitmap(out, h.width, h.height, 1);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    out->pPalette[0] = RGBQUAD{0, 0, 0, 0};
    out->pPalette[1] = RGBQUAD{255, 255, 255, 0};
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    out->XResolution = ext.XResolution;
    out->YResolution = ext.YResolution;
    int rows = 0;
    if (h.version == 1) {
        for (size_t at = kHeader; rows < h.height && size - at >= h.rowBytes; ++rows) {
            std::memcpy(L_RowPtr(out, rows), d + at, h.rowBytes);
            at += h.rowBytes;
        }
    } else {
        const size_t table = kHeader + 2 * size_t(h.height);
        size_t at = table;
        for (; rows < h.height && table <= size; ++rows) {
            const size_t length =
                d[kHeader + 2 * size_t(rows)] | size_t(d[kHeader + 2 * size_t(rows) + 1]) << 8;
            if (length > size - at) break;
            uint8_t* row = L_RowPtr(out, rows);
            // A row of no codes is white, as Paint writes blank rows.
            std::memset(row, 0xFF, h.rowBytes);
            DecodeRow(d + at, d + at + length, row, h.rowBytes);
            at += length;
        }
    }
    return ctx.FinishRows(out, rows, h.height, rc);
}

bool CanSave(int format, int bpp) { return format == FILE_MSP && bpp == 1; }

// One row as runs of three or more equal bytes and literal stretches between them.
void EncodeRow(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 255 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.insert(out.end(), {0, uint8_t(run), row[i]});
            i += run;
            continue;
        }
        size_t j = i;
        while (j < n && j - i < 255 && !(j + 2 < n && row[j] == row[j + 1] && row[j] == row[j + 2]))
            ++j;
        out.push_back(uint8_t(j - i));
        out.insert(out.end(), row + i, row + j);
        i = j;
    }
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (b->Width < 1 || b->Width > 0xFFFF || b->Height > 0xFFFF) return ERROR_INV_RANGE;
    // Set bits are white in the file.
    const bool invert = BlackIndex(b) == 1;
    const size_t rowBytes = (size_t(b->Width) + 7) / 8;
    try {
        out.assign(kHeader + 2 * size_t(b->Height), 0);
        const unsigned words[12] = {0x694C, 0x536E, unsigned(b->Width), unsigned(b->Height), 1, 1,
                                    1,      1,      unsigned(b->Width), unsigned(b->Height), 0, 0};
        unsigned sum = 0;
        for (int i = 0; i < 12; ++i) {
            out[2 * i] = uint8_t(words[i]);
            out[2 * i + 1] = uint8_t(words[i] >> 8);
            sum ^= words[i];
        }
        out[24] = uint8_t(sum);
        out[25] = uint8_t(sum >> 8);
        std::vector<uint8_t> row(rowBytes);
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* s = L_RowPtr(b, y);
            for (size_t i = 0; i < rowBytes; ++i) row[i] = invert ? uint8_t(~s[i]) : s[i];
            // The bits past the width are white, as Paint leaves them.
            if (b->Width % 8 && !row.empty()) row.back() |= uint8_t(0xFF >> (b->Width % 8));
            const size_t start = out.size();
            EncodeRow(row.data(), rowBytes, out);
            const size_t length = out.size() - start;
            out[kHeader + 2 * size_t(y)] = uint8_t(length);
            out[kHeader + 2 * size_t(y) + 1] = uint8_t(length >> 8);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_MSP; }

} // namespace

extern const Codec kMspCodec = {"msp", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
