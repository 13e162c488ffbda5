// The system clipboard through Qt.
#pragma once

#include "Clipboard.h"

class QtClipboard : public IClipboard {
public:
    // Puts the formats on the clipboard. The picture also goes on as an image, so that Qt
    // offers it in every type other programs ask for (BMP, JPEG, ...), not only as PNG.
    bool Set(const TFormats& formats) override;
    // The picture counts as there when another program offers any image Qt can read.
    bool Has(const std::string& mime) const override;
    std::vector<uint8_t> Get(const std::string& mime) const override;
};
