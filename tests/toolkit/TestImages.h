// Helpers the codec and file tests share: whole-file reads and writes, fresh temporary
// folders, the reference pictures ImageMagick wrote next to the fixtures (PGM, PPM, PAM),
// pixel comparisons with a tolerance, and the checks every damaged-file sweep makes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
// Reference pictures: binary PGM (P5), PPM (P6) or PAM (P7), maxval up to 65535 (samples
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

namespace detail {
// A decimal number of at most 9 digits, so it cannot overflow; -1 when there is none.
inline int ParseNumber(const std::string& text, size_t& at) {
    size_t start = at;
    long long n = 0;
    while (at < text.size() && at - start < 9 && text[at] >= '0' && text[at] <= '9')
        n = n * 10 + (text[at++] - '0');
    return at == start ? -1 : int(n);
}

// Skips whitespace and '#' comments between the tokens of a P5 or P6 header.
inline void SkipSpace(const std::string& text, size_t& at) {
    while (at < text.size()) {
        if (text[at] == '#') {
            while (at < text.size() && text[at] != '\n') ++at;
        } else if (std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
        } else {
            break;
        }
    }
}
} // namespace detail

// The reference picture at `path`; not valid() when it is missing or malformed.
inline RefImage ReadReference(const std::filesystem::path& path) {
    const std::vector<uint8_t> d = ReadFile(path);
    // Headers are short; the samples after them are never looked at as text.
    const std::string text(d.begin(), d.begin() + long(std::min<size_t>(d.size(), 4096)));
    RefImage img;
    size_t start = 0;
    if (text.rfind("P7\n", 0) == 0) {
        size_t at = 3;
        for (;;) {
            size_t eol = text.find('\n', at);
            if (eol == std::string::npos) return {};
            const std::string line = text.substr(at, eol - at);
            at = eol + 1;
            if (line == "ENDHDR") break;
            size_t space = line.find(' ');
            const std::string key = line.substr(0, space);
            size_t pos =
                space == std::string::npos ? line.size() : line.find_first_not_of(' ', space);
            if (pos == std::string::npos) pos = line.size();
            if (key == "WIDTH")
                img.width = detail::ParseNumber(line, pos);
            else if (key == "HEIGHT")
                img.height = detail::ParseNumber(line, pos);
            else if (key == "DEPTH")
                img.channels = detail::ParseNumber(line, pos);
            else if (key == "MAXVAL")
                img.maxval = detail::ParseNumber(line, pos);
        }
        start = at;
    } else if (text.rfind("P5", 0) == 0 || text.rfind("P6", 0) == 0) {
        img.channels = text[1] == '5' ? 1 : 3;
        size_t at = 2;
        int* fields[] = {&img.width, &img.height, &img.maxval};
        for (int* field : fields) {
            detail::SkipSpace(text, at);
            *field = detail::ParseNumber(text, at);
        }
        // Exactly one whitespace byte separates the header from the samples.
        if (at >= text.size() || !std::isspace(static_cast<unsigned char>(text[at]))) return {};
        start = at + 1;
    } else {
        return {};
    }
    if (img.width <= 0 || img.height <= 0 || img.channels < 1 || img.channels > 4 ||
        img.maxval < 1 || img.maxval > 65535)
        return {};
    const size_t bytes =
        size_t(img.width) * size_t(img.height) * size_t(img.channels) * (img.maxval > 255 ? 2 : 1);
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

struct PixelDiff {
    struct Sample {
        int x, y;
        lt::BGRA got, want;
    };
    bool sizeMatches = true;
    int gotWidth = 0, gotHeight = 0, wantWidth = 0, wantHeight = 0;
    int tolerance = 0;
    // Pixels with a channel further than the tolerance from the other side; when the sizes
    // differ every pixel counts and `worst` is 256, beyond any 8-bit difference.
    int differing = 0;
    int worst = 0;             // largest difference of any channel compared
    std::vector<Sample> first; // the first few differing pixels, for the message
};

namespace detail {
inline bool HasAlpha(const BITMAPHANDLE& b) { return b.BitsPerPixel == 32 || b.BitsPerPixel == 16; }

// `want(x, y)` gives the expected pixel; the bitmap is read one row at a time.
template <class WantFn>
PixelDiff Compare(const BITMAPHANDLE& got, int wantWidth, int wantHeight, bool wantHasAlpha,
                  int tolerance, Alpha alpha, WantFn want) {
    PixelDiff d;
    d.gotWidth = got.Width;
    d.gotHeight = got.Height;
    d.wantWidth = wantWidth;
    d.wantHeight = wantHeight;
    d.tolerance = tolerance;
    if (got.Width != wantWidth || got.Height != wantHeight) {
        d.sizeMatches = false;
        d.differing = std::max({got.Width * got.Height, wantWidth * wantHeight, 1});
        d.worst = 256;
        return d;
    }
    const bool withAlpha = alpha == Alpha::Compare ||
                           (alpha == Alpha::WhenBothHaveIt && HasAlpha(got) && wantHasAlpha);
    for (int y = 0; y < got.Height; ++y) {
        const uint8_t* row = L_RowPtr(&got, y);
        for (int x = 0; x < got.Width; ++x) {
            const lt::BGRA g = lt::ReadPixel(&got, row, x), w = want(x, y);
            int diff = std::max({std::abs(g.r - w.r), std::abs(g.g - w.g), std::abs(g.b - w.b)});
            if (withAlpha) diff = std::max(diff, std::abs(g.a - w.a));
            d.worst = std::max(d.worst, diff);
            if (diff > tolerance && d.differing++ < 3) d.first.push_back({x, y, g, w});
        }
    }
    return d;
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

// One line for a failed comparison: the sizes when they differ, otherwise how many pixels
// are off, the worst difference and the first few pixels as r,g,b,a.
inline std::string Describe(const PixelDiff& d) {
    std::ostringstream out;
    if (!d.sizeMatches) {
        out << "size " << d.gotWidth << "x" << d.gotHeight << ", expected " << d.wantWidth << "x"
            << d.wantHeight;
        return out.str();
    }
    auto rgba = [&](const lt::BGRA& c) {
        out << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a);
    };
    out << d.differing << " of " << d.gotWidth * d.gotHeight << " pixels differ by more than "
        << d.tolerance << " (worst " << d.worst << ")";
    for (const PixelDiff::Sample& s : d.first) {
        out << "; at " << s.x << "," << s.y << " got ";
        rgba(s.got);
        out << " want ";
        rgba(s.want);
    }
    return out.str();
}

// For EXPECT_TRUE: success when no pixel is beyond the tolerance, else the description.
inline ::testing::AssertionResult Matches(const PixelDiff& d) {
    if (d.differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Describe(d);
}

// ---------------------------------------------------------------------------
// Loading.

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
