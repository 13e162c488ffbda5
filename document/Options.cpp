#include "Options.h"

double TOptions::ToUnits(double pixels, double resolution) const {
    switch (MeasurementUnits) {
    case UNITS_PIXELS: return pixels;
    case UNITS_CENTIMETRES:
    case UNITS_INCHES:
        // Bitmaps without a stored resolution carry 0; dividing by it would give infinity,
        // which turns into garbage once a dialog rounds it to an integer.
        if (!(resolution > 0)) return -1.0;
        return MeasurementUnits == UNITS_INCHES ? pixels / resolution : pixels / resolution * 2.54;
    default: return -1.0;
    }
}

double TOptions::ToPixels(double units, double resolution) const {
    switch (MeasurementUnits) {
    case UNITS_PIXELS: return units;
    case UNITS_INCHES: return units * resolution;
    case UNITS_CENTIMETRES: return units * resolution * 0.3937007874015748;
    default: return -1.0;
    }
}

TOptions& Options() {
    static TOptions options;
    return options;
}
