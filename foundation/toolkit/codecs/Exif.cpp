#include "Exif.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ByteReader.h"

namespace lt::codec::exif {
namespace {

enum : uint16_t { kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

enum : uint16_t {
    kCompression = 0x0103,
    kXResolution = 0x011A,
    kYResolution = 0x011B,
    kResolutionUnit = 0x0128,
    kJpegOffset = 0x0201,
    kJpegLength = 0x0202,
    kYCbCrPositioning = 0x0213,
    kExifIfd = 0x8769,
};

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

} // namespace

int MakeThumbnail(const BITMAPHANDLE* b, BITMAPHANDLE* thumb) {
    L_InitBitmap(thumb, 0, 0, 0);
    // Shrink first where it is cheap: a palette picture keeps its depth until it is small.
    const double scale =
        std::min({1.0, double(kThumbWidth) / b->Width, double(kThumbHeight) / b->Height});
    const int w = std::max(1, int(std::lround(b->Width * scale)));
    const int h = std::max(1, int(std::lround(b->Height * scale)));
    int rc = L_ColorResBitmap(b, thumb, 24, CRF_BYTEORDERBGR, nullptr, 0);
    if (rc == SUCCESS && (w != thumb->Width || h != thumb->Height))
        rc = L_ResampleBitmap(thumb, w, h);
    if (rc != SUCCESS) {
        L_FreeBitmap(thumb);
        L_InitBitmap(thumb, 0, 0, 0);
    }
    return rc;
}

void IfdBuilder::Add(Entry e) {
    auto at = std::lower_bound(entries_.begin(), entries_.end(), e.tag,
                               [](const Entry& x, uint16_t tag) { return x.tag < tag; });
    entries_.insert(at, std::move(e));
}

void IfdBuilder::Short(uint16_t tag, uint16_t v) {
    Entry e{tag, kShort, 1, {}, {}};
    Put16(e.inline_, v);
    Add(std::move(e));
}

void IfdBuilder::Long(uint16_t tag, uint32_t v) {
    Entry e{tag, kLong, 1, {}, {}};
    Put32(e.inline_, v);
    Add(std::move(e));
}

void IfdBuilder::Rational(uint16_t tag, uint32_t num, uint32_t den) {
    Entry e{tag, kRational, 1, {}, std::vector<uint8_t>(8)};
    Put32(e.extra.data(), num);
    Put32(e.extra.data() + 4, den);
    Add(std::move(e));
}

void IfdBuilder::Undefined(uint16_t tag, const char (&four)[5]) {
    Entry e{tag, kUndefined, 4, {}, {}};
    std::memcpy(e.inline_, four, 4);
    Add(std::move(e));
}

uint32_t IfdBuilder::Write(std::vector<uint8_t>& o, size_t base, uint32_t next) {
    if ((o.size() - base) & 1) o.push_back(0);
    const size_t start = o.size();
    const size_t dirBytes = 2 + 12 * entries_.size() + 4;
    o.resize(start + dirBytes);
    Put16(&o[start], uint32_t(entries_.size()));
    size_t p = start + 2;
    for (Entry& e : entries_) {
        Put16(&o[p], e.tag);
        Put16(&o[p + 2], e.type);
        Put32(&o[p + 4], e.count);
        e.valuePos = p + 8;
        if (e.extra.empty()) {
            std::memcpy(&o[p + 8], e.inline_, 4);
        } else {
            const size_t at = o.size();
            o.insert(o.end(), e.extra.begin(), e.extra.end());
            Put32(&o[p + 8], uint32_t(at - base));
        }
        p += 12;
    }
    Put32(&o[p], next);
    return uint32_t(start - base);
}

size_t IfdBuilder::ValueAt(uint16_t tag) const {
    for (const Entry& e : entries_)
        if (e.tag == tag) return e.valuePos;
    return 0;
}

IfdBuilder ExifDirectory(int width, int height, bool compressed) {
    IfdBuilder d;
    d.Undefined(0x9000, "0232"); // ExifVersion
    d.Undefined(0xA000, "0100"); // FlashpixVersion
    d.Short(0xA001, 1);          // ColorSpace: sRGB
    if (compressed) {
        d.Undefined(0x9101, "\1\2\3\0"); // ComponentsConfiguration: Y, Cb, Cr
        d.Long(0xA002, uint32_t(width)); // PixelXDimension
        d.Long(0xA003, uint32_t(height));
    }
    return d;
}

std::vector<uint8_t> JpegApp1(int width, int height, int xdpi, int ydpi,
                              const std::vector<uint8_t>& thumbnail) {
    std::vector<uint8_t> o = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    const size_t base = 6;
    auto resolution = [&](IfdBuilder& d) {
        d.Rational(kXResolution, uint32_t(std::max(1, xdpi)), 1);
        d.Rational(kYResolution, uint32_t(std::max(1, ydpi)), 1);
        d.Short(kResolutionUnit, 2);
    };
    IfdBuilder ifd0;
    resolution(ifd0);
    ifd0.Short(kYCbCrPositioning, 1);
    ifd0.Long(kExifIfd, 0);
    ifd0.Write(o, base, 0);
    const size_t nextOfIfd0 = ifd0.ValueAt(kExifIfd) + 4;
    IfdBuilder sub = ExifDirectory(width, height, true);
    Put32(&o[ifd0.ValueAt(kExifIfd)], sub.Write(o, base, 0));
    IfdBuilder ifd1;
    ifd1.Short(kCompression, 6);
    resolution(ifd1);
    ifd1.Long(kJpegOffset, 0);
    ifd1.Long(kJpegLength, uint32_t(thumbnail.size()));
    // IFD0's entries are in tag order and EXIFIFD is its last, so the next-directory
    // field follows its entry.
    Put32(&o[nextOfIfd0], ifd1.Write(o, base, 0));
    Put32(&o[ifd1.ValueAt(kJpegOffset)], uint32_t(o.size() - base));
    o.insert(o.end(), thumbnail.begin(), thumbnail.end());
    return o;
}

bool AttachToTiff(std::vector<uint8_t>& file, int width, int height) {
    ByteReader r(file.data(), file.size());
    if (r.u16le() != 0x4949 || r.u16le() != 42 || !r.seek(r.u32le())) return false;
    const uint16_t count = r.u16le();
    for (unsigned i = 0; i < count && r.ok(); ++i) {
        const size_t entry = r.pos();
        const uint16_t tag = r.u16le();
        r.skip(10);
        if (tag != kExifIfd || !r.ok()) continue;
        IfdBuilder sub = ExifDirectory(width, height, false);
        const uint32_t at = sub.Write(file, 0, 0);
        Put32(&file[entry + 8], at);
        return true;
    }
    return false;
}

bool Resolution(const uint8_t* tiff, size_t size, int* xdpi, int* ydpi) {
    ByteReader r(tiff, size);
    const uint16_t order = r.u16le();
    const bool le = order == 0x4949;
    if (!le && order != 0x4D4D) return false;
    auto u16 = [&] { return le ? r.u16le() : r.u16be(); };
    auto u32 = [&] { return le ? r.u32le() : r.u32be(); };
    if (u16() != 42 || !r.seek(u32())) return false;
    const uint16_t count = u16();
    double x = 0, y = 0;
    uint16_t unit = 2;
    for (unsigned i = 0; i < count && r.ok(); ++i) {
        const uint16_t tag = u16(), type = u16();
        r.skip(4);
        const size_t next = r.pos() + 4;
        if (tag == kResolutionUnit && type == kShort) unit = u16();
        if ((tag == kXResolution || tag == kYResolution) && type == kRational) {
            const size_t back = r.pos();
            if (r.seek(u32())) {
                const uint32_t num = u32(), den = u32();
                (tag == kXResolution ? x : y) = den ? double(num) / den : 0;
            }
            r.seek(back);
        }
        r.seek(next);
    }
    if (unit != 2 && unit != 3) return false;
    const double scale = unit == 3 ? 2.54 : 1.0;
    auto dpi = [scale](double v) { return v * scale >= 1 && v * scale <= 1e6; };
    if (!dpi(x)) return false;
    if (!dpi(y)) y = x;
    *xdpi = int(std::lround(x * scale));
    *ydpi = int(std::lround(y * scale));
    return true;
}

} // namespace lt::codec::exif
