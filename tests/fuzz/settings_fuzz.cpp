// Arbitrary bytes as the settings file, which users edit by hand and other versions share:
// parsing, reading every setting and the window placement, and writing a key back must
// neither crash nor lose what the file held.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Options.h"
#include "ProfileFile.h"
#include "StartupRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > TProfileFile::MaxFileSize) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TProfileFile profile(text);

    // Writing the text out and reading it again changes nothing.
    const std::string once = profile.Text();
    if (TProfileFile(once).Text() != once) std::abort();

    TOptions options;
    options.Load(profile);
    if (options.ToolOptX != profile.GetInt("Options", "ToolOptX", 40)) std::abort();
    const TPlacement placement = ReadPlacement(profile, 1024, 768);
    (void)placement;

    // The program's own keys go in and come back exactly; the rest of the file stays.
    options.Save(profile);
    const bool stored = profile.WriteString("Placement", "PlacementBox", "1 2 3 4");
    if (!stored || profile.GetString("Placement", "PlacementBox") != "1 2 3 4") std::abort();
    TOptions again;
    again.Load(TProfileFile(profile.Text()));
    if (again.JpegCompression != options.JpegCompression ||
        again.BackgroundColor != options.BackgroundColor ||
        again.DefaultDirectory != options.DefaultDirectory)
        std::abort();
    return 0;
}
