// Unit conversions of the size dialogs.
#include <gtest/gtest.h>

#include "Options.h"

namespace {

TEST(Options, UnitConversions) {
    TOptions o;
    EXPECT_EQ(o.MeasurementUnits, UNITS_PIXELS);
    EXPECT_EQ(o.ToUnits(300, 150), 300);
    EXPECT_EQ(o.ToPixels(12.5, 150), 12.5);
    o.MeasurementUnits = UNITS_INCHES;
    EXPECT_DOUBLE_EQ(o.ToUnits(300, 150), 2.0);
    EXPECT_DOUBLE_EQ(o.ToPixels(2.0, 150), 300.0);
    o.MeasurementUnits = UNITS_CENTIMETRES;
    EXPECT_DOUBLE_EQ(o.ToUnits(300, 150), 5.08);
    EXPECT_NEAR(o.ToPixels(o.ToUnits(1234, 72), 72), 1234.0, 1e-9);
    EXPECT_EQ(o.ToUnits(300, 0), -1.0); // without a resolution there is nothing to convert by
    o.MeasurementUnits = 3;
    EXPECT_EQ(o.ToUnits(300, 150), -1.0);
    EXPECT_EQ(o.ToPixels(2, 150), -1.0);
}

} // namespace
