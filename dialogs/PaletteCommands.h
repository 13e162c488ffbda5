// The Image menu's colour commands that open a palette dialog: Color Depth, Edit Palette,
// Load Palette and Save Palette.
#pragma once

#include "Commands.h"
#include "LayeredImage.h"

class TImageView;

// What Color Resolution asks for.
struct TDepthChoice {
    int Bpp = 8;
    bool Gray = false;
    L_UINT Dither = 0, Palette = 0;
    const RGBQUAD* UserPalette = nullptr;
    L_UINT UserColors = 0;
};

// Converts every layer of `image`. At 8 bits or less `flat` (the image merged, as the user
// sees it) is converted first and its palette then given to every layer, so that the
// layers share the one palette the whole picture calls for; `flat` is changed.
L_INT ChangeLayeredDepth(TLayeredImage& image, TLayeredImage& flat, const TDepthChoice& choice);

class TPaletteCommands : public ICommandTarget {
public:
    explicit TPaletteCommands(TImageView& view) : view_(view) {}
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;

private:
    void ColorDepth();
    void EditPalette(bool load);
    TImageView& view_;
};
