// The Image menu's colour commands that open a palette dialog: Color Depth, Edit Palette,
// Load Palette and Save Palette.
#pragma once

#include "Commands.h"

class TImageView;

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
