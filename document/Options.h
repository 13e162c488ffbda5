// The program's settings. A plain object: the application loads it from the settings file
// at start-up and stores it at exit; everything else reads and changes the fields directly.
#pragma once

#include <string>

#include "Toolkit.h"

class TProfileFile;

// Measurement units of the size dialogs.
enum : int { UNITS_CENTIMETRES = 0, UNITS_INCHES = 1, UNITS_PIXELS = 2 };

struct TOptions {
    int PrinterOptimization = 1;
    int JpegCompression = 75;    // percent, 0..100
    int CmpCompression = 75;     // percent, 0..100
    int TiffCompressionType = 2; // 0 none, 1 LZW, 2 PackBits
    int TiffColorSpace = 0;      // 0 RGB, 1 CMYK, 2 YCbCr
    int MeasurementUnits = UNITS_PIXELS;
    std::string DefaultDirectory = "."; // where the open dialog starts
    int DefaultFileType = 0;            // the open dialog's last file type
    bool OverrideBkgndColor = false;
    COLORREF BackgroundColor = 0x808080;
    bool EnablePhotoshopPlugins = false;
    std::string PhotoshopPluginDirectory;
    int ToolOptX = 40;
    int ToolOptY = 40;
    int LayerListX = 40;
    int LayerListY = 140;
    int LayerListW = 200;
    int LayerListH = 100;
    // Minutes between autosaves of documents with unsaved changes; 0 turns autosave off.
    int AutosaveMinutes = 5;

    // Pixels to the current unit and back, at `resolution` dots per inch. An unknown unit
    // gives -1.0, and so does ToUnits in centimetres or inches without a positive resolution.
    double ToUnits(double pixels, double resolution) const;
    double ToPixels(double units, double resolution) const;

    // Reads section "Options" of a settings file. Every key missing from it (or the whole file
    // when it is missing, unreadable or not a settings file) takes its default value.
    void Load(const std::string& path);
    // Writes every key into section "Options", keeping whatever else the file holds, and
    // creates the file's folder when needed. SUCCESS or a toolkit error code.
    L_INT Save(const std::string& path) const;
    // The same on a profile already in memory (other sections share the file).
    void Load(const TProfileFile& profile);
    void Save(TProfileFile& profile) const;
};

// Where the settings live: $XDG_CONFIG_HOME/quillo/Quillo32.ini, or ~/.config/quillo/Quillo32.ini
// when that variable is unset or not an absolute path. Empty when there is no home either.
std::string DefaultSettingsPath();

// The process-wide settings.
TOptions& Options();
