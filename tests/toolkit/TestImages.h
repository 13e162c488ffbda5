// Helpers the codec and file tests share: whole-file reads and writes, fresh temporary
// folders, the reference pictures ImageMagick wrote next to the fixtures (PGM, PPM, PAM),
// pixel comparisons with a tolerance, random pictures to save, row callbacks, and the
// checks every damaged-file sweep makes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "PixelAccess.h"
#include "Toolkit.h"

namespace testimg {

// The whole file, or nothing when it cannot be read.
inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Integers written into file bytes: appended, or stored at `at`.
inline void Append(std::vector<uint8_t>& v, uint32_t x, int bytes, bool bigEndian = false) {
    for (int i = 0; i < bytes; ++i)
        v.push_back(uint8_t(x >> (8 * (bigEndian ? bytes - 1 - i : i))));
}
inline void Store32(std::vector<uint8_t>& v, size_t at, uint32_t x, bool bigEndian = false) {
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * (bigEndian ? 3 - i : i)));
}

namespace detail {
// Folders made by TempDir, removed when the test program ends so runs leave nothing behind.
// A forked child leaves through _exit and so never removes its parent's folders.
struct TempDirs {
    std::vector<std::filesystem::path> made;
    ~TempDirs() {
        std::error_code ignored;
        for (const auto& dir : made) std::filesystem::remove_all(dir, ignored);
    }
};
inline TempDirs& Made() {
    static TempDirs dirs;
    return dirs;
}
} // namespace detail

// A new empty folder named after `prefix`, under $QUILLO_TEST_TMP when it is set, else
// under the system's temporary folder. Each call gives a different folder.
inline std::string TempDir(const std::string& prefix) {
    const char* base = std::getenv("QUILLO_TEST_TMP");
    std::error_code ec;
    std::filesystem::path root =
        base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path(ec);
    if (ec) root = "/tmp";
    std::filesystem::create_directories(root, ec);
    std::string tmpl = (root / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) {
        ADD_FAILURE() << "cannot make a temporary folder like " << tmpl;
        return root.string();
    }
    detail::Made().made.emplace_back(tmpl);
    return tmpl;
}

// ---------------------------------------------------------------------------
// Reference pictures: binary PBM (P4), PGM (P5), PPM (P6) or PAM (P7), maxval up to 65535 (samples
// of two bytes are big-endian). PAM depth 1 is gray, 2 gray and alpha, 3 RGB, 4 RGBA.

struct RefImage {
    int width = 0, height = 0, channels = 0, maxval = 0;
    std::vector<uint8_t> samples;

    bool valid() const { return width > 0 && height > 0 && channels > 0; }
    bool hasAlpha() const { return channels == 2 || channels == 4; }

    // Pixel (x, y) with samples scaled to 8 bits, rounding; opaque when there is no alpha.
    lt::BGRA At(int x, int y) const {
        const int bytes = maxval > 255 ? 2 : 1;
        const uint8_t* s =
            &samples[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels * bytes)];
        auto v = [&](int i) {
            unsigned raw = bytes == 2 ? unsigned(s[2 * i] << 8 | s[2 * i + 1]) : s[i];
            return uint8_t((raw * 255 + unsigned(maxval) / 2) / unsigned(maxval));
        };
        switch (channels) {
            case 1: return {v(0), v(0), v(0), 255};
            case 2: return {v(0), v(0), v(0), v(1)};
            case 3: return {v(2), v(1), v(0), 255};
            default: return {v(2), v(1), v(0), v(3)};
        }
    }
};

// The reference picture at `path`; not valid() when it is missing or malformed.
inline RefImage ReadReference(const std::filesystem::path& path) {
    const std::vector<uint8_t> d = ReadFile(path);
    // Headers are short; the samples after them are never looked at as text.
    std::istringstream in(
        std::string(d.begin(), d.begin() + long(std::min<size_t>(d.size(), 4096))));
    RefImage img;
    std::string magic, key;
    in >> magic;
    if (magic == "P7") {
        while (in >> key && key != "ENDHDR") {
            int* field = key == "WIDTH"    ? &img.width
                         : key == "HEIGHT" ? &img.height
                         : key == "DEPTH"  ? &img.channels
                         : key == "MAXVAL" ? &img.maxval
                                           : nullptr;
            if (field) in >> *field;
            std::getline(in, key);
        }
    } else if (magic == "P4" || magic == "P5" || magic == "P6") {
        img.channels = magic == "P6" ? 3 : 1;
        img.maxval = 1;
        for (int* field : {&img.width, &img.height, &img.maxval}) {
            if (field == &img.maxval && magic == "P4") break;
            while (in >> std::ws && in.peek() == '#') std::getline(in, key);
            in >> *field;
        }
    }
    // Exactly one whitespace byte separates the header from the samples.
    if (!in || !std::isspace(in.get()) || img.width <= 0 || img.height <= 0 || img.channels < 1 ||
        img.channels > 4 || img.maxval < 1 || img.maxval > 65535)
        return {};
    const size_t start = size_t(in.tellg()), bytes = size_t(img.width) * size_t(img.height) *
                                                     size_t(img.channels) *
                                                     (img.maxval > 255 ? 2 : 1);
    if (magic == "P4") {
        // Packed bits, 1 black, rows padded to bytes: unpacked to gray samples.
        const size_t rowBytes = (size_t(img.width) + 7) / 8;
        if (d.size() - start < rowBytes * size_t(img.height)) return {};
        img.samples.resize(bytes);
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                img.samples[size_t(y) * size_t(img.width) + size_t(x)] =
                    (d[start + size_t(y) * rowBytes + size_t(x / 8)] >> (7 - x % 8) & 1) ? 0 : 1;
        return img;
    }
    if (d.size() - start < bytes) return {};
    img.samples.assign(d.begin() + long(start), d.begin() + long(start + bytes));
    return img;
}

// ---------------------------------------------------------------------------
// Comparing pixels.

enum class Alpha {
    Compare,        // alpha as read on both sides (opaque where a side has none)
    WhenBothHaveIt, // alpha only when the bitmap (16 or 32 bits) and the other side both carry it
    Ignore,         // colour only
};

// How far a bitmap is from what was expected: a message naming the first pixels further
// than the tolerance (or the sizes, when they differ), empty when all is well.
struct PixelDiff {
    std::string message;
};

namespace detail {
inline bool HasAlpha(const BITMAPHANDLE& b) { return b.BitsPerPixel == 32 || b.BitsPerPixel == 16; }

// `want(x, y)` gives the expected pixel.
template <class WantFn>
PixelDiff Compare(const BITMAPHANDLE& got, int wantWidth, int wantHeight, bool wantHasAlpha,
                  int tolerance, Alpha alpha, WantFn want) {
    std::ostringstream out;
    if (got.Width != wantWidth || got.Height != wantHeight) {
        out << "size " << got.Width << "x" << got.Height << ", expected " << wantWidth << "x"
            << wantHeight;
        return {out.str()};
    }
    const bool withAlpha = alpha == Alpha::Compare ||
                           (alpha == Alpha::WhenBothHaveIt && HasAlpha(got) && wantHasAlpha);
    int differing = 0;
    for (int y = 0; y < got.Height; ++y)
        for (int x = 0; x < got.Width; ++x) {
            const lt::BGRA g = lt::ReadPixel(&got, L_RowPtr(&got, y), x), w = want(x, y);
            int diff = std::max({std::abs(g.r - w.r), std::abs(g.g - w.g), std::abs(g.b - w.b)});
            if (withAlpha) diff = std::max(diff, std::abs(g.a - w.a));
            if (diff > tolerance && differing++ < 3)
                out << "; at " << x << "," << y << " got " << int(g.r) << "," << int(g.g) << ","
                    << int(g.b) << "," << int(g.a) << " want " << int(w.r) << "," << int(w.g) << ","
                    << int(w.b) << "," << int(w.a);
        }
    if (differing == 0) return {};
    return {std::to_string(differing) + " pixels differ by more than " + std::to_string(tolerance) +
            out.str()};
}
} // namespace detail

// How far `got` is from the reference picture.
inline PixelDiff Compare(const BITMAPHANDLE& got, const RefImage& want, int tolerance,
                         Alpha alpha) {
    return detail::Compare(got, want.width, want.height, want.hasAlpha(), tolerance, alpha,
                           [&](int x, int y) { return want.At(x, y); });
}

// How far `got` is from another bitmap, compared by colour (not by palette index).
inline PixelDiff Compare(const BITMAPHANDLE& got, const BITMAPHANDLE& want, int tolerance,
                         Alpha alpha) {
    return detail::Compare(
        got, want.Width, want.Height, detail::HasAlpha(want), tolerance, alpha,
        [&](int x, int y) { return lt::ReadPixel(&want, L_RowPtr(&want, y), x); });
}

// For EXPECT_TRUE: success when no pixel is beyond the tolerance, else the description.
inline ::testing::AssertionResult Matches(const PixelDiff& d) {
    if (d.message.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << d.message;
}

// Same stored pixels (padding aside) and the same palette colours.
inline void ExpectSameBitmap(const BITMAPHANDLE& a, const BITMAPHANDLE& b) {
    ASSERT_TRUE(a.Width == b.Width && a.Height == b.Height && a.BitsPerPixel == b.BitsPerPixel);
    const size_t used = (size_t(a.Width) * size_t(a.BitsPerPixel) + 7) / 8;
    for (int y = 0; y < a.Height; ++y)
        ASSERT_EQ(std::memcmp(L_RowPtr(&a, y), L_RowPtr(&b, y), used), 0) << "row " << y;
    for (int i = 0; a.BitsPerPixel <= 8 && i < (1 << a.BitsPerPixel); ++i) {
        const RGBQUAD &p = a.pPalette[i], &q = b.pPalette[i];
        EXPECT_TRUE(p.rgbRed == q.rgbRed && p.rgbGreen == q.rgbGreen && p.rgbBlue == q.rgbBlue)
            << i;
    }
}

// ---------------------------------------------------------------------------
// Saving and loading.

// Random pixels and palette (or the gray ramp), stored bottom-up when asked so that rows
// are found through the view perspective; a few repeats give run-length coders runs to
// find. Bits past the last pixel of a row stay zero, 16-bit pixels are opaque (as a plain
// file reads them back), and the resolution is 150 x 75.
inline BITMAPHANDLE RandomPicture(int width, int height, int bpp, uint32_t seed,
                                  int perspective = TOP_LEFT, bool grayRamp = false) {
    std::mt19937 rng(seed);
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) {
        const uint8_t g = bpp <= 8 ? uint8_t(i * 255 / ((1 << bpp) - 1)) : 0;
        pal[i] = grayRamp ? RGBQUAD{g, g, g, 0}
                          : RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    }
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, width, height, bpp, ORDER_BGR, bpp <= 8 ? pal : nullptr,
                             perspective),
              SUCCESS);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = L_RowPtr(&b, y);
        const size_t used = (size_t(width) * size_t(bpp) + 7) / 8;
        for (size_t i = 0; i < used; ++i) row[i] = uint8_t(rng());
        std::memset(row, row[0], used / 3);
        if (int spare = int(used * 8 - size_t(width) * size_t(bpp)))
            row[used - 1] &= uint8_t(0xFF << spare);
        for (int x = 0; bpp == 16 && x < width; ++x) row[2 * x + 1] |= 0x80;
    }
    b.XResolution = 150;
    b.YResolution = 75;
    return b;
}

// The file L_SaveBitmapMemory writes; empty, with the code in *rc, when it fails (a
// failure is a test failure when rc is null).
inline std::vector<uint8_t> SaveToMemory(BITMAPHANDLE* b, int format, int bpp = 0, int qfactor = 0,
                                         int* rc = nullptr) {
    uint8_t* buffer = nullptr;
    size_t size = 0;
    const int r = L_SaveBitmapMemory(&buffer, b, format, bpp, qfactor, &size);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, SUCCESS);
    std::vector<uint8_t> bytes(buffer, buffer + (r == SUCCESS ? size : 0));
    std::free(buffer);
    return bytes;
}

// Records each row callback as (row, lines, flags); returns ERROR_USER_ABORT on call
// number `stopAfter`.
struct RowLog {
    std::vector<std::tuple<int, int, unsigned>> calls;
    int stopAfter = -1;
};

inline L_INT LogRows(FILEINFO*, pBITMAPHANDLE, uint8_t*, L_UINT flags, L_INT row, L_INT lines,
                     void* user) {
    auto* log = static_cast<RowLog*>(user);
    log->calls.emplace_back(row, lines, flags);
    return int(log->calls.size()) == log->stopAfter ? ERROR_USER_ABORT : SUCCESS;
}

// Checks the bands of each pass (each starts at row 0 and runs to the bottom) and that only
// the first pass says FIRSTPASS and only the last LASTPASS; returns the number of passes.
inline int CountPasses(const RowLog& log, int height) {
    int passes = 0, next = 0;
    for (auto [row, lines, flags] : log.calls) {
        if (next == 0) ++passes;
        EXPECT_EQ(row, next);
        EXPECT_GT(lines, 0);
        EXPECT_EQ(bool(flags & FILEREAD_FIRSTROW), row == 0);
        EXPECT_EQ(bool(flags & FILEREAD_LASTROW), row + lines == height);
        next = row + lines == height ? 0 : row + lines;
    }
    EXPECT_EQ(next, 0) << "the last pass ended early";
    int pass = 0;
    for (auto [row, lines, flags] : log.calls) {
        EXPECT_EQ(bool(flags & FILEREAD_FIRSTPASS), pass == 0);
        EXPECT_EQ(bool(flags & FILEREAD_LASTPASS), pass == passes - 1);
        if (row + lines == height) ++pass;
    }
    return passes;
}

// Loads damaged bytes: either a bitmap of the size the header promised, or a clean error
// that leaves nothing allocated.
inline void ExpectLoadsOrFails(const std::vector<uint8_t>& bytes, const std::string& what) {
    FILEINFO info;
    int infoRc = L_FileInfoMemory(bytes.data(), bytes.size(), &info);
    BITMAPHANDLE b;
    int rc = L_LoadBitmapMemory(bytes.data(), &b, 0, ORDER_BGR, bytes.size());
    if (rc == SUCCESS) {
        ASSERT_EQ(infoRc, SUCCESS) << what;
        EXPECT_EQ(b.Width, info.Width) << what;
        EXPECT_EQ(b.Height, info.Height) << what;
        EXPECT_EQ(b.BitsPerPixel, info.BitsPerPixel) << what;
        L_FreeBitmap(&b);
    } else {
        EXPECT_LT(rc, 0) << what;
        EXPECT_FALSE(b.Flags.Allocated) << what;
    }
}

} // namespace testimg
