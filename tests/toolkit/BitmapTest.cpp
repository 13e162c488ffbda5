// The bitmap record itself: sizes and limits, pixel access at every depth, alpha planes,
// copies and DIB interchange.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Toolkit.h"

namespace {

const int kDepths[] = {1, 4, 8, 16, 24, 32};

struct Bmp {
    BITMAPHANDLE b;
    Bmp() { L_InitBitmap(&b, 0, 0, 0); }
    ~Bmp() { L_FreeBitmap(&b); }
    BITMAPHANDLE* operator->() { return &b; }
    BITMAPHANDLE* get() { return &b; }
};

// A colour every depth can hold exactly: black, white and pure primaries at full intensity
// are in every fixed palette.
const COLORREF kExact[] = {RGB(0, 0, 0), RGB(255, 255, 255)};

} // namespace

TEST(Bitmap, RowsArePaddedToFourBytesAtEveryDepth) {
    for (int bpp : kDepths) {
        for (int w : {1, 2, 3, 5, 7, 9, 33}) {
            Bmp m;
            ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, w, 3, bpp, ORDER_BGR, nullptr, 0),
                      SUCCESS);
            EXPECT_EQ(m->BytesPerLine % 4, 0);
            EXPECT_GE(m->BytesPerLine * 8, w * bpp);
            EXPECT_LT((m->BytesPerLine - 4) * 8, w * bpp) << "row wider than needed";
            EXPECT_EQ(m->Size, size_t(m->BytesPerLine) * 3);
            EXPECT_EQ(m->nColors, bpp <= 8 ? (1u << bpp) : 0u);
        }
    }
}

TEST(Bitmap, ImpossibleSizesAreRefusedBeforeAllocating) {
    Bmp m;
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 65535, 65535, 32, ORDER_BGR, nullptr, 0),
              ERROR_INV_RANGE);
    EXPECT_FALSE(m->Flags.Allocated);
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 0, 10, 24, ORDER_BGR, nullptr, 0),
              ERROR_INV_RANGE);
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, -5, 10, 24, ORDER_BGR, nullptr, 0),
              ERROR_INV_RANGE);
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 10, 10, 12, ORDER_BGR, nullptr, 0),
              ERROR_BITPERPIXEL);

    // The limits are settable: a user may open bigger images deliberately.
    L_LIMITS saved = L_GetLimits();
    L_LIMITS small = saved;
    small.MaxPixels = 100;
    L_SetLimits(small);
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 11, 10, 8, ORDER_BGR, nullptr, 0),
              ERROR_INV_RANGE);
    EXPECT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 10, 10, 8, ORDER_BGR, nullptr, 0), SUCCESS);
    L_SetLimits(saved);

    size_t out = 0;
    EXPECT_FALSE(L_CheckedMul(SIZE_MAX / 2, 3, &out));
    EXPECT_TRUE(L_CheckedMul(1000, 1000, &out));
    EXPECT_EQ(out, 1000000u);
}

TEST(Bitmap, PixelColoursReadBackAtEveryDepthAndPerspective) {
    for (int bpp : kDepths) {
        for (int vp : {TOP_LEFT, BOTTOM_LEFT}) {
            Bmp m;
            ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 9, 4, bpp, ORDER_BGR, nullptr, vp),
                      SUCCESS);
            // A diagonal of white on black: each pixel must come back where it was put,
            // whatever the storage order of the rows.
            for (int y = 0; y < 4; ++y)
                ASSERT_EQ(L_PutPixelColor(m.get(), y, y * 2, kExact[1]), SUCCESS);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 9; ++x)
                    EXPECT_EQ(L_GetPixelColor(m.get(), y, x), x == y * 2 ? kExact[1] : kExact[0])
                        << "bpp " << bpp << " vp " << vp << " at " << x << "," << y;
        }
    }
    Bmp m;
    ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 4, 4, 24, ORDER_BGR, nullptr, 0), SUCCESS);
    EXPECT_EQ(L_PutPixelColor(m.get(), 4, 0, 0), ERROR_INV_RANGE);
    EXPECT_EQ(L_PutPixelColor(m.get(), 0, -1, 0), ERROR_INV_RANGE);
    EXPECT_EQ(L_PutPixelColor(m.get(), 1, 2, RGB(10, 20, 30)), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(m.get(), 1, 2), RGB(10, 20, 30));
    // Blue-green-red byte order in memory.
    const uint8_t* p = L_RowPtr(m.get(), 1) + 6;
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 10);
    // A palette index is stored as is at 8 bits, whatever colour the palette has there;
    // at true colour it names a gray level.
    Bmp p8;
    ASSERT_EQ(L_CreateBitmap(p8.get(), TYPE_CONV, 4, 1, 8, ORDER_BGR, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_PutPixelColor(p8.get(), 0, 1, PALETTEINDEX(200)), SUCCESS);
    EXPECT_EQ(L_RowPtr(p8.get(), 0)[1], 200);
    ASSERT_EQ(L_PutPixelColor(m.get(), 0, 0, PALETTEINDEX(200)), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(m.get(), 0, 0), RGB(200, 200, 200));
}

TEST(Bitmap, RowColumnAccessIsClippedToTheRow) {
    Bmp m;
    ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 5, 2, 24, ORDER_BGR, nullptr, 0), SUCCESS);
    std::vector<uint8_t> buf(100, 0xAB);
    // Asking for more than the row holds copies only the rest of the row.
    EXPECT_EQ(L_PutBitmapRowCol(m.get(), buf.data(), 1, 3, 100), m->BytesPerLine - 9);
    EXPECT_EQ(L_GetPixelColor(m.get(), 1, 3), RGB(0xAB, 0xAB, 0xAB));
    EXPECT_EQ(L_GetPixelColor(m.get(), 0, 3), 0u) << "row 0 untouched";
    EXPECT_EQ(L_GetBitmapRowCol(m.get(), buf.data(), 2, 0, 4), ERROR_INV_RANGE);
}

TEST(Bitmap, AlphaPlanesRoundTripAndOtherDepthsAreOpaque) {
    Bmp m, alpha, back;
    ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 3, 2, 32, ORDER_BGR, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_GetBitmapAlpha(m.get(), alpha.get()), SUCCESS);
    ASSERT_EQ(alpha->BitsPerPixel, 8);
    for (int x = 0; x < 3; ++x) L_RowPtr(alpha.get(), 1)[x] = uint8_t(100 + x);
    ASSERT_EQ(L_SetBitmapAlpha(m.get(), alpha.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(m.get(), 1)[2 * 4 + 3], 102);
    EXPECT_EQ(L_RowPtr(m.get(), 0)[3], 0);
    ASSERT_EQ(L_GetBitmapAlpha(m.get(), back.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(back.get(), 1)[1], 101);
    // A mask with another palette gives the gray level of each index's colour.
    back->pPalette[101] = RGBQUAD{0, 0, 255, 0};
    ASSERT_EQ(L_SetBitmapAlpha(m.get(), back.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(m.get(), 1)[1 * 4 + 3], (255 * 77 + 128) >> 8);

    // 16-bit pixels hold one alpha bit.
    Bmp m16, a16;
    ASSERT_EQ(L_CreateBitmap(m16.get(), TYPE_CONV, 3, 2, 16, ORDER_BGR, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_SetBitmapAlpha(m16.get(), alpha.get()), SUCCESS);
    ASSERT_EQ(L_GetBitmapAlpha(m16.get(), a16.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(a16.get(), 1)[0], 0) << "100 is below half";
    L_RowPtr(alpha.get(), 0)[0] = 200;
    ASSERT_EQ(L_SetBitmapAlpha(m16.get(), alpha.get()), SUCCESS);
    L_FreeBitmap(a16.get());
    ASSERT_EQ(L_GetBitmapAlpha(m16.get(), a16.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(a16.get(), 0)[0], 255);

    Bmp m24, a24;
    ASSERT_EQ(L_CreateBitmap(m24.get(), TYPE_CONV, 3, 2, 24, ORDER_BGR, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_GetBitmapAlpha(m24.get(), a24.get()), SUCCESS);
    EXPECT_EQ(L_RowPtr(a24.get(), 1)[2], 255);
    EXPECT_EQ(L_SetBitmapAlpha(m24.get(), alpha.get()), ERROR_BITPERPIXEL);

    Bmp wrongSize;
    ASSERT_EQ(L_CreateBitmap(wrongSize.get(), TYPE_CONV, 4, 2, 8, ORDER_BGR, nullptr, 0), SUCCESS);
    EXPECT_EQ(L_SetBitmapAlpha(m.get(), wrongSize.get()), ERROR_INV_RANGE);
}

TEST(Bitmap, CopyingARectangleClipsToTheSource) {
    for (int bpp : kDepths) {
        Bmp m, part;
        ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 10, 6, bpp, ORDER_BGR, nullptr, BOTTOM_LEFT),
                  SUCCESS);
        ASSERT_EQ(L_PutPixelColor(m.get(), 3, 7, kExact[1]), SUCCESS);
        ASSERT_EQ(L_CopyBitmapRect(part.get(), m.get(), 5, 2, 20, 20), SUCCESS);
        EXPECT_EQ(part->Width, 5);
        EXPECT_EQ(part->Height, 4);
        EXPECT_EQ(L_GetPixelColor(part.get(), 1, 2), kExact[1]) << bpp;
        EXPECT_EQ(L_GetPixelColor(part.get(), 1, 1), kExact[0]) << bpp;
    }
    Bmp m, part;
    ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 10, 6, 24, ORDER_BGR, nullptr, 0), SUCCESS);
    EXPECT_EQ(L_CopyBitmapRect(part.get(), m.get(), 10, 0, 5, 5), ERROR_INV_RANGE);
    EXPECT_EQ(L_CopyBitmapRect(part.get(), m.get(), 0, 0, 0, 5), ERROR_INV_RANGE);
}

TEST(Bitmap, DeviceIndependentBitmapsRoundTripAtEveryDepth) {
    for (int bpp : kDepths) {
        Bmp m, back;
        ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 7, 3, bpp, ORDER_BGR, nullptr, 0), SUCCESS);
        ASSERT_EQ(L_PutPixelColor(m.get(), 0, 6, kExact[1]), SUCCESS);
        ASSERT_EQ(L_PutPixelColor(m.get(), 2, 1, kExact[1]), SUCCESS);
        size_t size = 0;
        uint8_t* dib = L_ChangeToDIB(m.get(), &size);
        ASSERT_NE(dib, nullptr);
        EXPECT_FALSE(m->Flags.Allocated) << "the bitmap is handed over";
        auto* header = reinterpret_cast<BITMAPINFOHEADER*>(dib);
        size_t table = bpp <= 8 ? sizeof(RGBQUAD) << bpp : 0;
        const uint8_t* bits = dib + sizeof(BITMAPINFOHEADER) + table;
        const size_t bitsBytes = size - sizeof(BITMAPINFOHEADER) - table;
        const size_t infoBytes = sizeof(BITMAPINFOHEADER) + table;
        EXPECT_EQ(L_ConvertFromDIB(back.get(), header, infoBytes, bits, bitsBytes - 1),
                  ERROR_FILE_FORMAT)
            << "short bits";
        if (table) {
            EXPECT_EQ(L_ConvertFromDIB(back.get(), header, infoBytes - 1, bits, bitsBytes),
                      ERROR_FILE_FORMAT)
                << "short colour table";
        }
        EXPECT_FALSE(back->Flags.Allocated) << "nothing allocated for a refused DIB";
        ASSERT_EQ(L_ConvertFromDIB(back.get(), header, infoBytes, bits, bitsBytes), SUCCESS);
        std::free(dib);
        EXPECT_EQ(back->BitsPerPixel, bpp);
        EXPECT_EQ(L_GetPixelColor(back.get(), 0, 6), kExact[1]) << bpp;
        EXPECT_EQ(L_GetPixelColor(back.get(), 2, 1), kExact[1]) << bpp;
        EXPECT_EQ(L_GetPixelColor(back.get(), 1, 1), kExact[0]) << bpp;
    }
}

TEST(Bitmap, BitFieldDibsWith565PixelsConvert) {
    struct {
        BITMAPINFOHEADER h;
        uint32_t masks[3];
    } dib;
    dib.h.biWidth = 2;
    dib.h.biHeight = -1; // top-down
    dib.h.biBitCount = 16;
    dib.h.biCompression = 3;
    dib.masks[0] = 0xF800;
    dib.masks[1] = 0x07E0;
    dib.masks[2] = 0x001F;
    const uint8_t bits[4] = {0x00, 0xF8, 0xE0, 0x07}; // pure red, pure green
    Bmp m;
    EXPECT_EQ(L_ConvertFromDIB(m.get(), &dib.h, sizeof dib - 1, bits, sizeof bits),
              ERROR_FILE_FORMAT)
        << "masks cut short";
    ASSERT_EQ(L_ConvertFromDIB(m.get(), &dib.h, sizeof dib, bits, sizeof bits), SUCCESS);
    EXPECT_EQ(L_GetPixelColor(m.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(L_GetPixelColor(m.get(), 0, 1), RGB(0, 255, 0));
}

TEST(Bitmap, DibResolutionOfAnySizeConverts) {
    for (L_INT dpi : {1'000'000, INT32_MAX}) {
        Bmp m;
        ASSERT_EQ(L_CreateBitmap(m.get(), TYPE_CONV, 1, 1, 24, ORDER_BGR, nullptr, 0), SUCCESS);
        m->XResolution = m->YResolution = dpi;
        size_t size = 0;
        uint8_t* dib = L_ChangeToDIB(m.get(), &size);
        ASSERT_NE(dib, nullptr);
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
        EXPECT_EQ(h->biXPelsPerMeter, dpi == INT32_MAX ? INT32_MAX : 39'370'078);
        std::free(dib);
    }
}

// Photo-sized blocks are reused once freed: a new bitmap still starts cleared, and a copy
// holds exactly its source whatever the reused block held.
TEST(Bitmap, ReusedBlocksStartClearedOrAsTheirSource) {
    const auto fill = [](BITMAPHANDLE* b, uint8_t v) { std::memset(b->Addr, v, b->Size); };
    const auto all = [](const BITMAPHANDLE* b, uint8_t v) {
        for (size_t i = 0; i < b->Size; ++i)
            if (b->Addr[i] != v) return false;
        return true;
    };
    BITMAPHANDLE a, b, c;
    ASSERT_EQ(L_CreateBitmap(&a, TYPE_CONV, 2000, 1500, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    fill(&a, 0xAB);
    L_FreeBitmap(&a);
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 2000, 1500, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    EXPECT_TRUE(all(&b, 0));
    ASSERT_EQ(L_CreateBitmap(&a, TYPE_CONV, 2000, 1500, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    fill(&a, 0xCD);
    fill(&b, 0x11);
    L_FreeBitmap(&a);
    ASSERT_EQ(L_CopyBitmap(&c, &b), SUCCESS);
    EXPECT_TRUE(all(&c, 0x11));
    L_FreeBitmap(&b);
    L_FreeBitmap(&c);
}

// Work on a background thread neither reaches the window's callback nor is cancelled by it.
TEST(Bitmap, StatusCallbackReachesOnlyItsOwnThread) {
    static int calls = 0;
    auto cancel = [](L_INT, void*) -> L_INT {
        ++calls;
        return 0;
    };
    STATUSCALLBACK old = nullptr;
    void* oldUser = nullptr;
    L_SetStatusCallBack(cancel, nullptr, &old, &oldUser);
    EXPECT_EQ(L_ReportStatus(60), ERROR_USER_ABORT);
    L_INT elsewhere = 0;
    std::thread([&] { elsewhere = L_ReportStatus(60); }).join();
    EXPECT_EQ(elsewhere, SUCCESS);
    EXPECT_EQ(calls, 1);
    L_SetStatusCallBack(old, oldUser);
}
