// The commands that change sizes and shapes: Resize, Resize Canvas and Crop of the Image
// menu, New, Resize and Rotate of the Layer menu. Each asks its dialog (Crop asks nothing),
// records one undo step under its name, keeps the layers in the background's colour class
// and repaints.
#pragma once

#include "Commands.h"
#include "Toolkit.h"

class TImageView;
class TLayeredImage;

// Crops the current layer to `keep` (a region in its own coordinates, not empty): the
// layer shrinks to the region's bounds and what lies outside the region takes `fill`
// (upper 32-bit layers: becomes transparent). On the background the canvas becomes those
// bounds, and every layer moves so that it stays over the same picture.
L_INT CropCurrentLayer(TLayeredImage& image, HRGN keep, COLORREF fill);

class TGeometryCommands : public ICommandTarget {
public:
    explicit TGeometryCommands(TImageView& view) : view_(view) {}
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;

    // The work after each dialog, for callers that already have the answers. Sizes are in
    // pixels; anchors are 0, 1, 2 (left/top, centre, right/bottom); angles in tenths of a
    // degree clockwise; resampling is a SIZE_ flag of the toolkit. Each returns the toolkit
    // status (SUCCESS when there was nothing to do).
    L_INT ResizeImage(int width, int height, L_UINT resampling = SIZE_RESAMPLE);
    L_INT ResizeCanvas(int width, int height, int horizontalAnchor, int verticalAnchor);
    L_INT Crop();
    L_INT NewLayer(int width, int height);
    L_INT ResizeLayer(int width, int height, L_UINT resampling = SIZE_RESAMPLE);
    L_INT RotateLayer(int tenths);

private:
    bool HasImage() const;
    void Refresh();
    // The aggregated mode, so that the commands see whole layers.
    void LeaveChannelMode();

    TImageView& view_;
};
