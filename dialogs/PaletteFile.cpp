// The RIFF palette file: "RIFF", length, "PAL ", a "data" chunk with its length, then the
// version 0x0300, the entry count and count entries of red, green, blue and flags, all
// little-endian. The length fields are not trusted (writers disagree about them); the count
// is, but only as far as the bytes that follow really hold that many entries.
#include "PaletteFile.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 24;

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
void PutWord(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLong(uint8_t* p, uint32_t v) {
    PutWord(p, v & 0xFFFFu);
    PutWord(p + 2, v >> 16);
}

RGBQUAD Quad(int r, int g, int b) { return RGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0}; }

// Full saturation and value at a hue in degrees.
RGBQUAD Hue(double degrees) {
    const double h = std::fmod(degrees, 360.0) / 60.0;
    const int sector = int(h);
    const int rise = int(std::lround((h - sector) * 255.0)), fall = 255 - rise;
    switch (sector) {
        case 0: return Quad(255, rise, 0);
        case 1: return Quad(fall, 255, 0);
        case 2: return Quad(0, 255, rise);
        case 3: return Quad(0, fall, 255);
        case 4: return Quad(rise, 0, 255);
        default: return Quad(255, 0, fall);
    }
}

std::array<RGBQUAD, 256> BuildSierra() {
    std::array<RGBQUAD, 256> t{};
    static constexpr uint8_t kGray[17] = {255, 240, 222, 207, 191, 176, 158, 143, 127,
                                          112, 94,  79,  64,  48,  31,  15,  0};
    for (int i = 0; i < 17; ++i) t[size_t(i)] = Quad(kGray[i], kGray[i], kGray[i]);
    // Six ramps from a pale tint to the full colour: blue, cyan, green, yellow, red, magenta.
    static constexpr int kTint[6][3] = {{0, 0, 1}, {0, 1, 1}, {0, 1, 0},
                                        {1, 1, 0}, {1, 0, 0}, {1, 0, 1}};
    for (int ramp = 0; ramp < 6; ++ramp)
        for (int k = 0; k < 16; ++k) {
            const int pale = 240 - 16 * k;
            const int* c = kTint[ramp];
            t[size_t(17 + ramp * 16 + k)] =
                Quad(c[0] ? 255 : pale, c[1] ? 255 : pale, c[2] ? 255 : pale);
        }
    // The same six colours at half and quarter strength.
    for (int ramp = 0; ramp < 6; ++ramp) {
        const int* c = kTint[ramp];
        t[size_t(113 + ramp)] = Quad(c[0] * 128, c[1] * 128, c[2] * 128);
        t[size_t(119 + ramp)] = Quad(c[0] * 64, c[1] * 64, c[2] * 64);
    }
    for (int k = 0; k < 83; ++k) t[size_t(125 + k)] = Hue(360.0 * k / 83.0);
    // Skin, earth and foliage.
    static constexpr uint8_t kTones[28][3] = {
        {255, 207, 217}, {255, 192, 160}, {240, 176, 144}, {224, 160, 128}, {208, 144, 112},
        {184, 105, 97},  {160, 96, 64},   {128, 80, 48},   {112, 64, 32},   {96, 48, 16},
        {76, 25, 0},     {200, 168, 112}, {176, 144, 96},  {152, 120, 72},  {224, 208, 160},
        {192, 176, 128}, {144, 160, 96},  {112, 144, 64},  {80, 128, 48},   {64, 96, 32},
        {48, 80, 16},    {32, 64, 0},     {96, 112, 80},   {160, 176, 128}, {255, 224, 192},
        {255, 176, 96},  {255, 160, 64},  {255, 127, 0}};
    for (int k = 0; k < 28; ++k)
        t[size_t(208 + k)] = Quad(kTones[k][0], kTones[k][1], kTones[k][2]);
    return t;
}

} // namespace

int ReadPaletteMemory(const uint8_t* data, size_t size, RGBQUAD* entries, int capacity) {
    if (!data || size < kHeaderBytes) return -1;
    if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "PAL ", 4) != 0 ||
        std::memcmp(data + 12, "data", 4) != 0 || Word(data + 20) != 0x0300)
        return -1;
    int count = Word(data + 22);
    if (count == 0) return -1;
    if (count > kMaxPaletteEntries) count = kMaxPaletteEntries;
    // A file cut short is damaged: its count cannot be believed either.
    if ((size - kHeaderBytes) / 4 < size_t(count)) return -1;
    if (!entries || capacity < count) return count;
    const uint8_t* p = data + kHeaderBytes;
    for (int i = 0; i < count; ++i, p += 4) entries[i] = Quad(p[0], p[1], p[2]);
    return count;
}

int ReadPaletteFile(const char* fileName, RGBQUAD* entries, int capacity) {
    if (!fileName || !*fileName) return -1;
    // Nothing past the 256th entry is ever used, so a huge file costs no more than a small one.
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return -1;
    std::vector<uint8_t> bytes(kHeaderBytes + 4 * size_t(kMaxPaletteEntries));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (in.bad()) return -1;
    return ReadPaletteMemory(bytes.data(), size_t(in.gcount()), entries, capacity);
}

bool WritePaletteFile(const char* fileName, const RGBQUAD* entries, int count) {
    if (!fileName || !entries || count < 1 || count > kMaxPaletteEntries) return false;
    std::vector<uint8_t> out(kHeaderBytes + 4 * size_t(count));
    std::memcpy(out.data(), "RIFF", 4);
    PutLong(out.data() + 4, uint32_t(4 * count + 16));
    std::memcpy(out.data() + 8, "PAL data", 8);
    PutLong(out.data() + 16, uint32_t(4 * count + 4));
    PutWord(out.data() + 20, 0x0300);
    PutWord(out.data() + 22, unsigned(count));
    uint8_t* p = out.data() + kHeaderBytes;
    for (int i = 0; i < count; ++i, p += 4) {
        p[0] = entries[i].rgbRed;
        p[1] = entries[i].rgbGreen;
        p[2] = entries[i].rgbBlue;
        p[3] = 0;
    }
    return L_WriteFileAtomically(fileName, out.data(), out.size()) == SUCCESS;
}

const RGBQUAD* SierraPalette() {
    static const std::array<RGBQUAD, 256> table = BuildSierra();
    return table.data();
}
