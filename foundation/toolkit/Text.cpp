// Fonts for the device context. fontconfig finds a face file for a family name, FreeType
// renders its glyphs to 8-bit coverage. Everything that costs is cached: a face name's
// resolution, one FreeType face per file and pixel size, and every glyph rendered at that
// size, so redrawing a paragraph while the user types is a walk over cached coverage.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include "LeadDCInternal.h"
#include "Rasterize.h"
#include "TextRender.h"

namespace {

constexpr int kMaxEm = 2048;
// Beyond these the caches start over; a long session with many sizes stays bounded.
constexpr size_t kMaxFaces = 48;
constexpr size_t kMaxGlyphsPerFace = 4096;

struct Glyph {
    int advance = 0;
    int left = 0, top = 0; // the coverage's top-left corner from the pen, y up
    int width = 0, height = 0;
    std::vector<uint8_t> coverage; // width x height
};

// One face file opened at one pixel size.
struct SizedFace {
    FT_Face face = nullptr;
    bool emboldened = false, slanted = false;
    int em = 0, ascent = 0, descent = 0;
    int underlineOffset = 0, underlineThickness = 1;
    std::unordered_map<uint32_t, Glyph> glyphs;

    ~SizedFace() {
        if (face) FT_Done_Face(face);
    }
    const Glyph& Get(uint32_t cp);
};

const Glyph& SizedFace::Get(uint32_t cp) {
    auto it = glyphs.find(cp);
    if (it != glyphs.end()) return it->second;
    if (glyphs.size() >= kMaxGlyphsPerFace) glyphs.clear();
    Glyph g;
    FT_UInt index = FT_Get_Char_Index(face, cp);
    if (index == 0 && cp != 0xFFFD) index = FT_Get_Char_Index(face, 0xFFFD);
    if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP) == 0) {
        FT_GlyphSlot slot = face->glyph;
        if (emboldened) FT_GlyphSlot_Embolden(slot);
        if (slanted) FT_GlyphSlot_Oblique(slot);
        g.advance = int((slot->advance.x + 32) >> 6);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0 &&
            slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            const FT_Bitmap& bm = slot->bitmap;
            g.left = slot->bitmap_left;
            g.top = slot->bitmap_top;
            g.width = int(bm.width);
            g.height = int(bm.rows);
            g.coverage.resize(size_t(g.width) * size_t(g.height));
            for (int y = 0; y < g.height; ++y)
                std::memcpy(&g.coverage[size_t(y) * size_t(g.width)],
                            bm.buffer + std::ptrdiff_t(y) * bm.pitch, size_t(g.width));
        }
    }
    return glyphs.emplace(cp, std::move(g)).first->second;
}

struct Resolved {
    std::string file, family;
    int index = 0;
    bool synthBold = false, synthItalic = false;
};

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The families tried for a face name, best first. The Windows core fonts have
// metric-compatible Liberation families, so text laid out for them keeps its line breaks.
std::vector<std::string> Candidates(const std::string& face) {
    const std::string f = Lower(face);
    std::vector<std::string> out;
    if (!face.empty()) out.push_back(face);
    static const std::pair<const char*, const char*> kMap[] = {
        {"ms sans serif", "Liberation Sans"},
        {"ms shell dlg", "Liberation Sans"},
        {"microsoft sans serif", "Liberation Sans"},
        {"arial", "Liberation Sans"},
        {"helvetica", "Liberation Sans"},
        {"tahoma", "DejaVu Sans"},
        {"verdana", "DejaVu Sans"},
        {"times new roman", "Liberation Serif"},
        {"times", "Liberation Serif"},
        {"ms serif", "Liberation Serif"},
        {"courier new", "Liberation Mono"},
        {"courier", "Liberation Mono"},
    };
    for (const auto& [from, to] : kMap)
        if (f == from) out.push_back(to);
    const bool serif = f.find("serif") != std::string::npos && f.find("sans") == std::string::npos;
    out.push_back(serif || f.find("times") != std::string::npos ? "DejaVu Serif" : "DejaVu Sans");
    return out;
}

struct Library {
    std::mutex mutex;
    FT_Library ft = nullptr;
    bool fcReady = false;
    std::map<std::tuple<std::string, bool, bool>, Resolved> resolved;
    std::map<std::tuple<std::string, int, int, bool, bool>, std::shared_ptr<SizedFace>> faces;

    Library() {
        if (FT_Init_FreeType(&ft) != 0) ft = nullptr;
        fcReady = FcInit() == FcTrue;
    }
    // Never torn down: fonts may be freed by static destructors of other files.

    bool Resolve(const std::string& face, bool bold, bool italic, Resolved* out);
    std::shared_ptr<SizedFace> Open(const Resolved& r, int height);
};

Library& Lib() {
    static Library* lib = new Library;
    return *lib;
}

// One fontconfig match for a family; false when fontconfig offers nothing usable.
bool MatchFamily(const std::string& family, bool bold, bool italic, Resolved* out, bool* exact) {
    FcPattern* pat = FcPatternCreate();
    if (!pat) return false;
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    if (!match) return false;
    FcChar8* file = nullptr;
    FcChar8* fam = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    if (ok) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        out->file = reinterpret_cast<const char*>(file);
        out->index = index;
        out->family = family;
        if (FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
            out->family = reinterpret_cast<const char*>(fam);
        out->synthBold = bold && weight < FC_WEIGHT_DEMIBOLD;
        out->synthItalic = italic && slant == FC_SLANT_ROMAN;
        // fontconfig always answers with something; only a family of that name counts as
        // found, so the next candidate gets its turn otherwise.
        *exact = false;
        for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &fam) == FcResultMatch; ++i)
            if (fam && Lower(reinterpret_cast<const char*>(fam)) == Lower(family)) {
                out->family = reinterpret_cast<const char*>(fam);
                *exact = true;
            }
    }
    FcPatternDestroy(match);
    return ok;
}

bool Library::Resolve(const std::string& face, bool bold, bool italic, Resolved* out) {
    const auto key = std::make_tuple(Lower(face), bold, italic);
    if (auto it = resolved.find(key); it != resolved.end()) {
        *out = it->second;
        return true;
    }
    if (!fcReady) return false;
    Resolved first;
    bool haveFirst = false;
    for (const std::string& family : Candidates(face)) {
        Resolved r;
        bool exact = false;
        if (!MatchFamily(family, bold, italic, &r, &exact)) continue;
        if (exact) {
            resolved[key] = r;
            *out = r;
            return true;
        }
        if (!haveFirst) first = r, haveFirst = true;
    }
    if (!haveFirst) return false;
    resolved[key] = first;
    *out = first;
    return true;
}

std::shared_ptr<SizedFace> Library::Open(const Resolved& r, int height) {
    if (!ft) return nullptr;
    const auto key = std::make_tuple(r.file, r.index, height, r.synthBold, r.synthItalic);
    if (auto it = faces.find(key); it != faces.end()) return it->second;
    auto sf = std::make_shared<SizedFace>();
    if (FT_New_Face(ft, r.file.c_str(), r.index, &sf->face) != 0) {
        sf->face = nullptr;
        return nullptr;
    }
    FT_Face f = sf->face;
    if (!FT_IS_SCALABLE(f) || f->units_per_EM == 0) return nullptr;
    int em = 12;
    if (height < 0) {
        em = -height;
    } else if (height > 0) {
        // A cell height: the em that gives the face's ascent plus descent that many pixels.
        const long cell = long(f->ascender) - long(f->descender);
        em = cell > 0 ? int((long(height) * f->units_per_EM + cell / 2) / cell) : height;
    }
    em = std::clamp(em, 1, kMaxEm);
    if (FT_Set_Pixel_Sizes(f, 0, FT_UInt(em)) != 0) return nullptr;
    sf->em = em;
    sf->emboldened = r.synthBold;
    sf->slanted = r.synthItalic;
    const FT_Size_Metrics& m = f->size->metrics;
    sf->ascent = int((m.ascender + 63) >> 6);
    sf->descent = int((-m.descender + 63) >> 6);
    sf->underlineOffset = std::max(1, int((-FT_MulFix(f->underline_position, m.y_scale)) >> 6));
    sf->underlineThickness =
        std::max(1, int((FT_MulFix(f->underline_thickness, m.y_scale) + 32) >> 6));
    if (faces.size() >= kMaxFaces) {
        // Drop the faces no font object uses any more.
        for (auto it = faces.begin(); it != faces.end();)
            it = it->second.use_count() == 1 ? faces.erase(it) : std::next(it);
    }
    faces[key] = sf;
    return sf;
}

// The next code point of UTF-8 text; a malformed sequence gives U+FFFD for one byte.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    int n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
        ++i;
        return c;
    }
    if ((c & 0xE0) == 0xC0)
        n = 1, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        n = 2, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        n = 3, cp = c & 0x07;
    else {
        ++i;
        return 0xFFFD;
    }
    if (i + size_t(n) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= n; ++k) {
        if ((b(i + size_t(k)) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b(i + size_t(k)) & 0x3F);
    }
    i += size_t(n) + 1;
    return cp;
}

} // namespace

struct LFONT {
    std::shared_ptr<SizedFace> face;
    std::string family;
    bool underline = false;
};

HFONT CreateFontIndirect(const LOGFONT& lf) {
    Library& lib = Lib();
    std::lock_guard lock(lib.mutex);
    Resolved r;
    if (!lib.Resolve(lf.lfFaceName, lf.lfWeight >= FW_BOLD, lf.lfItalic, &r)) return nullptr;
    const int height = std::clamp(lf.lfHeight, -kMaxEm, kMaxEm);
    std::shared_ptr<SizedFace> sf = lib.Open(r, height);
    if (!sf) return nullptr;
    return new LFONT{std::move(sf), r.family, lf.lfUnderline};
}

void DeleteFont(HFONT font) {
    if (!font) return;
    std::lock_guard lock(Lib().mutex);
    delete font; // the face may go with it, so under the lock
}

std::string GetFontFamily(HFONT font) { return font ? font->family : std::string(); }

TEXTMETRIC GetFontMetrics(HFONT font) {
    TEXTMETRIC tm;
    if (!font) return tm;
    tm.tmAscent = font->face->ascent;
    tm.tmDescent = font->face->descent;
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    tm.tmEmHeight = font->face->em;
    return tm;
}

namespace lt {

HFONT DefaultFont() {
    static HFONT font = [] {
        LOGFONT lf;
        lf.lfHeight = -12;
        lf.lfFaceName = "DejaVu Sans";
        return CreateFontIndirect(lf);
    }();
    return font;
}

bool MeasureText(HFONT font, std::string_view text, TextLine* line) {
    if (!font) return false;
    std::lock_guard lock(Lib().mutex);
    SizedFace& f = *font->face;
    int width = 0;
    for (size_t i = 0; i < text.size();) width += f.Get(NextCodePoint(text, i)).advance;
    line->width = width;
    line->ascent = f.ascent;
    line->descent = f.descent;
    line->underlineOffset = f.underlineOffset;
    line->underlineThickness = f.underlineThickness;
    line->underline = font->underline;
    return true;
}

namespace {

// Blends coverage into [x0, x1) of one row.
void BlendRow(int bpp, uint8_t* row, int x0, int x1, const uint8_t* cov, uint32_t value,
              uint32_t keep, uint32_t flip) {
    const uint8_t cb = uint8_t(value), cg = uint8_t(value >> 8), cr = uint8_t(value >> 16);
    auto mix = [](uint8_t d, uint8_t c, unsigned a) {
        return uint8_t((d * (255u - a) + c * a + 127u) / 255u);
    };
    if (bpp == 32 || bpp == 24) {
        const int step = bpp / 8;
        for (int x = x0; x < x1; ++x, ++cov) {
            const unsigned a = *cov;
            if (!a) continue;
            uint8_t* p = row + size_t(x) * size_t(step);
            p[0] = mix(p[0], cb, a);
            p[1] = mix(p[1], cg, a);
            p[2] = mix(p[2], cr, a);
        }
        return;
    }
    if (bpp == 16) {
        const BGRA c = Unpack16(uint16_t(value));
        for (int x = x0; x < x1; ++x, ++cov) {
            const unsigned a = *cov;
            if (!a) continue;
            uint8_t* p = row + size_t(x) * 2;
            const uint16_t old = uint16_t(p[0] | (p[1] << 8));
            BGRA d = Unpack16(old);
            d.b = mix(d.b, c.b, a);
            d.g = mix(d.g, c.g, a);
            d.r = mix(d.r, c.r, a);
            const uint16_t v = uint16_t((Pack16(d) & 0x7FFF) | (old & 0x8000));
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
        }
        return;
    }
    // Palette targets cannot mix: the colour goes where the glyph covers at least half.
    int run = -1;
    for (int x = x0; x <= x1; ++x) {
        const bool on = x < x1 && cov[x - x0] >= 128;
        if (on && run < 0) run = x;
        if (!on && run >= 0) {
            ApplySpan(bpp, row, run, x, keep, flip);
            run = -1;
        }
    }
}

} // namespace

void BlendGlyphs(const LDEVICE& dc, HFONT font, int x, int baseline, std::string_view text,
                 COLORREF color) {
    BITMAPHANDLE* t = dc.Target();
    if (!font || !IsDrawable(t)) return;
    const RECT bounds = DrawableBounds(&dc);
    if (IsEmptyRect(bounds)) return;
    const LRegion* clip = dc.ClipRegion();
    const int bpp = t->BitsPerPixel;
    const uint32_t value = ColorToValue(t, color);
    uint32_t keep = 0, flip = 0;
    raster::Rop2Masks(R2_COPYPEN, value, ColorMask(bpp), &keep, &flip);

    std::lock_guard lock(Lib().mutex);
    SizedFace& f = *font->face;
    int64_t pen = x;
    for (size_t i = 0; i < text.size();) {
        const Glyph& g = f.Get(NextCodePoint(text, i));
        const int64_t gx = pen + g.left, gy = int64_t(baseline) - g.top;
        pen += g.advance;
        if (g.coverage.empty() || gx >= bounds.right || gx + g.width <= bounds.left ||
            gy >= bounds.bottom || gy + g.height <= bounds.top)
            continue;
        const int y0 = int(std::max<int64_t>(gy, bounds.top));
        const int y1 = int(std::min<int64_t>(gy + g.height, bounds.bottom));
        const int x0 = int(std::max<int64_t>(gx, bounds.left));
        const int x1 = int(std::min<int64_t>(gx + g.width, bounds.right));
        for (int y = y0; y < y1; ++y) {
            const uint8_t* cov = &g.coverage[size_t(y - gy) * size_t(g.width)];
            uint8_t* row = L_RowPtr(t, y);
            if (!clip) {
                BlendRow(bpp, row, x0, x1, cov + (x0 - gx), value, keep, flip);
                continue;
            }
            auto [c, ce] = clip->Row(y);
            for (; c != ce; ++c) {
                const int a = std::max(x0, c->x0), b = std::min(x1, c->x1);
                if (a < b) BlendRow(bpp, row, a, b, cov + (a - gx), value, keep, flip);
            }
        }
    }
}

} // namespace lt
