// The stroke sampler shared by the brush-like tools: the mouse path is smoothed over a small
// ring of recent points and dabs are laid along it at an even spacing measured from the
// last dab, so corners and slow or fast moves keep the same rhythm. Each tool only says how
// one dab is put onto the layer.
#pragma once

#include <cstdint>
#include <vector>

#include "PaintTool.h"

struct TPaintToolSetup;
class TLayer;

// How a stroke is sampled and what brush mask it uses.
struct TStrokeSettings {
    int Size = 10;             // brush diameter in pixels; cut to 1..kMaxBrushSize
    int Smooth = 0;            // smoothing half-window in points; cut to 0..kMaxSmooth
    double SpacingPercent = 1; // of the size; the spacing is never below one pixel
    bool SubPixel = false;     // dabs at fractional positions
    // The brush mask: CreateAntialiasedBrush's transparency, flag and softness.
    int Transparency = 0;
    int Flag = 0;
    double Softness = 100.0;
};

inline constexpr int kMaxBrushSize = 300;
inline constexpr int kMaxSmooth = 10;
// "No point yet".
inline constexpr int kNoPoint = 100000000;

class TInstantPaintTool : public TXPaintTool {
public:
    // Takes the current layer of setup's image; Ready() is false when there is none or
    // the brush mask could not be built.
    TInstantPaintTool(const TPaintToolSetup& setup, const TStrokeSettings& settings);

    bool Track(int x, int y, bool constrain, int button) override;
    bool IsFinished() override { return true; }
    // Catches the smoothed path up with a pointer at rest (and at the release).
    void Tick(bool released) override;

    bool Ready() const { return layer_ != nullptr && !mask_.empty(); }
    int Size() const { return size_; }
    double Spacing() const { return spacing_; }
    // The current layer is 8-bit gray: colours are gray levels.
    bool Gray() const { return gray_; }

protected:
    // Puts one dab with its top-left corner at (x, y), layer coordinates; whole numbers
    // unless the stroke is sub-pixel.
    virtual void Dab(double x, double y) = 0;
    // Draws the piece of path from `from` to `to` (layer coordinates) itself, without
    // smoothing or dabs; true when it did. The first point of a stroke comes as a piece
    // from the point to itself.
    virtual bool Segment(POINT /*from*/, POINT /*to*/) { return false; }

    // Feeds one point in layer coordinates through smoothing and spacing.
    void TrackLayerPoint(int x, int y);
    // Forgets the smoothing ring, so the next point starts the path anew with one dab.
    void RestartPath() { historyCount_ = 0; }

    TLayer* Layer() const { return layer_; }
    const uint8_t* Mask() const { return mask_.data(); }
    bool Flushing() const { return flushing_; }
    void SetFlushing(bool on) { flushing_ = on; }
    POINT LastPoint() const { return last_; }

private:
    struct TPt {
        double x = kNoPoint, y = kNoPoint;
    };
    static bool Same(TPt a, TPt b);
    void Insert(TPt p);
    TPt Smoothed() const;
    TPt Entry(int behindHead) const { return ring_[size_t((head_ - behindHead) & ringMask_)]; }
    void PutDab(TPt p);
    void InvalidateSpan(TPt a, TPt b);

    TLayer* layer_ = nullptr;
    bool gray_ = false;
    int size_;
    int smooth_;
    double spacing_;
    bool subPixel_;
    std::vector<uint8_t> mask_;

    POINT last_{kNoPoint, kNoPoint};
    std::vector<TPt> ring_;
    int head_ = 0, historyCount_ = 0, ringMask_ = 0;
    TPt prevDab_, curDab_, next_;
    int idleTicks_ = 0;
    double carry_ = 0;
    bool flushing_ = false;
};
