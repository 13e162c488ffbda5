#include <gtest/gtest.h>
#include "Toolkit.h"
TEST(Bitmap, Placeholder) { BITMAPHANDLE b; EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, 3, 2, 24, ORDER_BGR, nullptr, 0), SUCCESS); L_FreeBitmap(&b); }
