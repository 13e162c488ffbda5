// Fax coding: what we write decodes back, libtiff's fax coder and ours read each other's
// strips, and broken streams end or fail without going past the row or the buffer.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <random>
#include <vector>

#include "codecs/Ccitt.h"

namespace {

using namespace lt::codec::ccitt;

struct Page {
    int width, height;
    std::vector<uint8_t> bits; // packed rows, 1 = black

    size_t RowBytes() const { return (size_t(width) + 7) / 8; }
    uint8_t* Row(int y) { return bits.data() + size_t(y) * RowBytes(); }
};

// Text-like strokes and blocks, noise, long runs across several make-up codes, and edges at
// the last pixel: the cases where the modes and run codes differ.
Page MakePage(int width, int height, unsigned seed) {
    Page p{width, height, std::vector<uint8_t>(((size_t(width) + 7) / 8) * size_t(height))};
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = p.Row(y);
        const int kind = (y / 3 + int(seed)) % 5;
        for (int x = 0; x < width; ++x) {
            bool black = false;
            switch (kind) {
                case 0: black = rng() % 7 == 0; break;
                case 1: black = (x / 5 + y) % 3 == 0; break;
                case 2: black = x > width / 3 && x < width - 2; break;
                case 3: black = x == width - 1 || x == 0; break;
                default: black = ((x + y) / 9) % 2 == 0;
            }
            if (black) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
    }
    return p;
}

std::vector<uint8_t> EncodePage(const Page& page, const Params& p) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(Encode(
        page.width, page.height, p,
        [&](int y, uint8_t* row) {
            std::memcpy(row, page.bits.data() + size_t(y) * page.RowBytes(), page.RowBytes());
        },
        out));
    return out;
}

DecodeResult DecodePage(const std::vector<uint8_t>& data, int width, int height, const Params& p,
                        Page& page) {
    page = Page{width, height, std::vector<uint8_t>(((size_t(width) + 7) / 8) * size_t(height))};
    return Decode(data.data(), data.size(), width, height, p, [&](int y, const uint8_t* row) {
        std::memcpy(page.Row(y), row, page.RowBytes());
        return true;
    });
}

const Params kVariants[] = {
    {Coding::MH, BitOrder::MsbFirst, RowStart::Eol, 4, true},
    {Coding::MH, BitOrder::LsbFirst, RowStart::AlignedEol, 4, true},
    {Coding::MH, BitOrder::MsbFirst, RowStart::ByteAligned, 4, false},
    {Coding::MH, BitOrder::MsbFirst, RowStart::Plain, 4, false},
    {Coding::MR, BitOrder::MsbFirst, RowStart::Eol, 2, true},
    {Coding::MR, BitOrder::LsbFirst, RowStart::AlignedEol, 4, true},
    {Coding::MMR, BitOrder::MsbFirst, RowStart::Eol, 4, true},
    {Coding::MMR, BitOrder::LsbFirst, RowStart::Eol, 4, false},
};

TEST(Ccitt, EveryVariantComesBackAtOddAndLongWidths) {
    for (const Params& p : kVariants)
        for (int width : {1, 9, 1728, 5300}) {
            SCOPED_TRACE(testing::Message() << "coding " << int(p.coding) << " start "
                                            << int(p.rowStart) << " width " << width);
            const Page page = MakePage(width, 23, unsigned(width));
            Page back;
            const DecodeResult r = DecodePage(EncodePage(page, p), width, 23, p, back);
            EXPECT_EQ(r.status, Status::Complete);
            EXPECT_EQ(r.rows, 23);
            EXPECT_EQ(back.bits, page.bits);
        }
}

// libtiff's own fax coder, through a one-strip TIFF in memory, is the reference.
struct MemTiff {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
};
tmsize_t MRead(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemTiff*>(h);
    if (m->pos >= m->data.size()) return 0;
    size_t k = std::min(size_t(n), size_t(m->data.size() - m->pos));
    std::memcpy(buf, m->data.data() + m->pos, k);
    m->pos += k;
    return tmsize_t(k);
}
tmsize_t MWrite(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<MemTiff*>(h);
    if (m->pos + uint64_t(n) > m->data.size()) m->data.resize(size_t(m->pos + uint64_t(n)));
    std::memcpy(m->data.data() + m->pos, buf, size_t(n));
    m->pos += uint64_t(n);
    return n;
}
toff_t MSeek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemTiff*>(h);
    m->pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? m->pos + off : m->data.size() + off;
    return m->pos;
}
int MClose(thandle_t) { return 0; }
toff_t MSize(thandle_t h) { return static_cast<MemTiff*>(h)->data.size(); }
int MMap(thandle_t, void**, toff_t*) { return 0; }
void MUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenMem(MemTiff& m, const char* mode) {
    m.pos = 0;
    return TIFFClientOpen("mem", mode, &m, MRead, MWrite, MSeek, MClose, MSize, MMap, MUnmap);
}

struct TiffCase {
    uint16_t compression;
    uint32_t options; // Group3Options
    Params ours;
};
const TiffCase kTiffCases[] = {
    {COMPRESSION_CCITTFAX3, 0, {Coding::MH, BitOrder::MsbFirst, RowStart::Eol, 1, false}},
    {COMPRESSION_CCITTFAX3,
     GROUP3OPT_FILLBITS,
     {Coding::MH, BitOrder::MsbFirst, RowStart::AlignedEol, 1, false}},
    {COMPRESSION_CCITTFAX3,
     GROUP3OPT_2DENCODING,
     {Coding::MR, BitOrder::MsbFirst, RowStart::Eol, 2, false}},
    {COMPRESSION_CCITTFAX4, 0, {Coding::MMR, BitOrder::MsbFirst, RowStart::Eol, 1, true}},
    {COMPRESSION_CCITTRLE, 0, {Coding::MH, BitOrder::MsbFirst, RowStart::ByteAligned, 1, false}},
};

void SetFields(TIFF* t, const Page& page, const TiffCase& c) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(page.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(page.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(page.height));
    TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
    if (c.compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, c.options);
}

TEST(Ccitt, LibtiffAndWeReadEachOther) {
    TIFFSetWarningHandler(nullptr);
    for (const TiffCase& c : kTiffCases)
        for (int width : {13, 1728, 2900}) {
            SCOPED_TRACE(testing::Message() << "compression " << c.compression << " options "
                                            << c.options << " width " << width);
            Page page = MakePage(width, 31, 7u + unsigned(width));
            // Theirs to ours.
            MemTiff m;
            TIFF* t = OpenMem(m, "w");
            ASSERT_NE(t, nullptr);
            SetFields(t, page, c);
            for (int y = 0; y < page.height; ++y)
                ASSERT_EQ(TIFFWriteScanline(t, page.Row(y), y, 0), 1);
            TIFFClose(t);
            t = OpenMem(m, "r");
            ASSERT_NE(t, nullptr);
            std::vector<uint8_t> raw(size_t(TIFFRawStripSize(t, 0)));
            ASSERT_GT(TIFFReadRawStrip(t, 0, raw.data(), tmsize_t(raw.size())), 0);
            TIFFClose(t);
            Page back;
            EXPECT_EQ(DecodePage(raw, width, page.height, c.ours, back).rows, page.height);
            EXPECT_EQ(back.bits, page.bits);

            // Ours to theirs.
            MemTiff mine;
            t = OpenMem(mine, "w");
            SetFields(t, page, c);
            const std::vector<uint8_t> coded = EncodePage(page, c.ours);
            ASSERT_GT(
                TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(coded.data()), tmsize_t(coded.size())),
                0);
            TIFFClose(t);
            t = OpenMem(mine, "r");
            ASSERT_NE(t, nullptr);
            std::vector<uint8_t> line(page.RowBytes());
            for (int y = 0; y < page.height; ++y) {
                ASSERT_EQ(TIFFReadScanline(t, line.data(), uint32_t(y), 0), 1);
                ASSERT_EQ(std::memcmp(line.data(), page.Row(y), line.size()), 0) << "row " << y;
            }
            TIFFClose(t);
        }
}

TEST(Ccitt, BrokenStreamsEndOrFailWithinTheRow) {
    const Params mh{Coding::MH, BitOrder::MsbFirst, RowStart::Plain, 4, false};
    const Params mmr{Coding::MMR, BitOrder::MsbFirst, RowStart::Eol, 4, true};
    Page back;
    // A white run of 64 + 8 in a row of 64: refused, nothing written past the row.
    EXPECT_EQ(DecodePage({0b11011100, 0b11000000}, 64, 1, mh, back).status, Status::Corrupt);
    // Horizontal mode whose second run overshoots: white 8 then black 2 on a 9-pixel row.
    EXPECT_EQ(DecodePage({0b00110011, 0b11000000}, 9, 2, mmr, back).status, Status::Corrupt);
    // A vertical code right of the row's end: VR3 from b1 = width.
    EXPECT_EQ(DecodePage({0b00000110}, 4, 1, mmr, back).status, Status::Corrupt);
    // Group 4 rows cut off halfway: the rows before the cut are delivered.
    const Page page = MakePage(300, 40, 3);
    std::vector<uint8_t> coded = EncodePage(page, mmr);
    coded.resize(coded.size() / 2);
    DecodeResult r = DecodePage(coded, 300, 40, mmr, back);
    EXPECT_EQ(r.status, Status::Ended);
    EXPECT_GT(r.rows, 0);
    EXPECT_LT(r.rows, 40);
    EXPECT_EQ(std::memcmp(back.bits.data(), page.bits.data(), size_t(r.rows) * back.RowBytes()), 0);
    // The end-of-page marker before the last row asked for.
    coded = EncodePage(MakePage(50, 5, 1), mmr);
    EXPECT_EQ(DecodePage(coded, 50, 9, mmr, back).status, Status::Ended);
    EXPECT_EQ(DecodePage(coded, 50, 9, mmr, back).rows, 5);
    // A group 3 page ends at its RTC.
    const Params g3{Coding::MR, BitOrder::MsbFirst, RowStart::Eol, 2, true};
    coded = EncodePage(MakePage(50, 5, 1), g3);
    EXPECT_EQ(DecodePage(coded, 50, 900, g3, back).rows, 5);
}

} // namespace
