#include "Stroke.h"

#include <algorithm>
#include <cmath>

#include "Effects.h"
#include "ImageData.h"
#include "ImageView.h"
#include "PaintToolFactory.h"

namespace {

constexpr double kEpsilon = 0.0001;

int RingSizeFor(int smooth) {
    int n = 1;
    while (n < 2 * smooth + 1) n *= 2;
    return n;
}

} // namespace

TInstantPaintTool::TInstantPaintTool(const TPaintToolSetup& setup, const TStrokeSettings& s)
    : TXPaintTool(setup.Zoom, setup.OriginX, setup.OriginY, setup.Data, setup.View),
      size_(std::clamp(s.Size, 1, kMaxBrushSize)),
      smooth_(std::clamp(s.Smooth, 0, kMaxSmooth)),
      spacing_(std::max(1.0, size_ * s.SpacingPercent * 0.01)),
      subPixel_(s.SubPixel) {
    // A NaN spacing (from a broken option) would stop the stroke from ever putting a dab.
    if (!(spacing_ >= 1.0)) spacing_ = 1.0;
    ring_.resize(size_t(RingSizeFor(smooth_)));
    ringMask_ = int(ring_.size()) - 1;
    layer_ = Data ? Data->Image.GetCurrentLayer() : nullptr;
    if (!layer_ || !layer_->IsAllocated()) {
        layer_ = nullptr;
        return;
    }
    gray_ = layer_->BitsPerPixel == 8 && layer_->IsGrayscale();
    // The mask is built once: every dab of the stroke reuses it.
    mask_.resize(size_t(size_) * size_t(size_));
    if (CreateAntialiasedBrush(std::clamp(s.Transparency, 0, 255), 255, 255, size_, size_,
                               mask_.data(), s.Flag, s.Softness) != SUCCESS)
        mask_.clear();
}

bool TInstantPaintTool::Same(TPt a, TPt b) {
    return std::fabs(a.x - b.x) < kEpsilon && std::fabs(a.y - b.y) < kEpsilon;
}

bool TInstantPaintTool::Track(int x, int y, bool, int) {
    if (!Ready()) return false;
    x -= layer_->X;
    y -= layer_->Y;
    if (x == last_.x && y == last_.y) return true;
    TrackLayerPoint(x, y);
    return true;
}

void TInstantPaintTool::Insert(TPt p) {
    const TPt h = ring_[size_t(head_)];
    const TPt e = Entry(1);
    const double dot = (e.x - h.x) * (p.x - h.x) + (e.y - h.y) * (p.y - h.y);
    // A step at a right angle to the last one (a pixel staircase) replaces the newest point
    // instead of adding a corner.
    if (dot == 0 && (std::fabs(p.x - h.x) >= kEpsilon || std::fabs(p.y - h.y) >= kEpsilon)) {
        ring_[size_t(head_)] = p;
        return;
    }
    head_ = (head_ + 1) & ringMask_;
    ring_[size_t(head_)] = p;
    ++historyCount_;
}

TInstantPaintTool::TPt TInstantPaintTool::Smoothed() const {
    if (smooth_ == 0) return ring_[size_t(head_)];
    const TPt m = Entry(smooth_);
    double sx = m.x, sy = m.y, sw = 1;
    // M itself is at distance 0 and so left out with every other entry on it.
    for (int i = 0; i <= 2 * smooth_; ++i) {
        const TPt p = Entry(i);
        const double d = std::hypot(p.x - m.x, p.y - m.y);
        if (d == 0) continue;
        const double w = 1.0 / (2.0 * d);
        sx += w * p.x;
        sy += w * p.y;
        sw += w;
    }
    return TPt{sx / sw, sy / sw};
}

void TInstantPaintTool::PutDab(TPt p) {
    const double r = size_ * 0.5;
    double x = p.x - r + 0.5, y = p.y - r + 0.5;
    if (!subPixel_) {
        x = Lx_Round(x);
        y = Lx_Round(y);
    }
    Dab(x, y);
}

void TInstantPaintTool::InvalidateSpan(TPt a, TPt b) {
    if (!View) return;
    const RECT image{int(std::floor(std::min(a.x, b.x))) + layer_->X,
                     int(std::floor(std::min(a.y, b.y))) + layer_->Y,
                     int(std::ceil(std::max(a.x, b.x))) + 1 + layer_->X,
                     int(std::ceil(std::max(a.y, b.y))) + 1 + layer_->Y};
    RECT rc = View->ImageToClientRect(image, true);
    const int grow = Lx_Round((size_ * 0.5 + 1) * Zoom) + 2;
    rc.left -= grow;
    rc.top -= grow;
    rc.right += grow;
    rc.bottom += grow;
    View->InvalidateClientRect(rc);
}

void TInstantPaintTool::TrackLayerPoint(int x, int y) {
    const POINT from = last_.x == kNoPoint ? POINT{x, y} : last_;
    last_ = POINT{x, y};
    if (Segment(from, last_)) {
        InvalidateSpan(TPt{double(from.x), double(from.y)}, TPt{double(x), double(y)});
        return;
    }
    const TPt p{double(x), double(y)};
    bool first = false;
    if (historyCount_ == 0) {
        std::fill(ring_.begin(), ring_.end(), p);
        historyCount_ = int(ring_.size());
        curDab_ = prevDab_ = p;
        carry_ = 0;
        first = true;
    }
    Insert(p);
    next_ = Smoothed();

    double cosA = 0;
    if (!Same(prevDab_, curDab_) && !Same(next_, curDab_)) {
        const double ax = prevDab_.x - curDab_.x, ay = prevDab_.y - curDab_.y;
        const double bx = next_.x - curDab_.x, by = next_.y - curDab_.y;
        cosA = (ax * bx + ay * by) / (std::hypot(bx, by) * std::hypot(ax, ay));
    }
    // The distance along the new piece at which a dab lies exactly one spacing away from
    // the last dab (which sits `carry_` back along the previous piece).
    double s = carry_ * cosA +
               std::sqrt(std::max(0.0, spacing_ * spacing_ + (cosA * cosA - 1) * carry_ * carry_));
    const double len = std::hypot(next_.x - curDab_.x, next_.y - curDab_.y);
    if (s <= len) {
        do {
            const double t = s / len;
            PutDab(
                TPt{curDab_.x + (next_.x - curDab_.x) * t, curDab_.y + (next_.y - curDab_.y) * t});
            carry_ = len - s;
            s += spacing_;
        } while (s < len);
    } else if (first) {
        PutDab(prevDab_);
    } else {
        // Too short for a dab: the path point stays, so the next move measures from it.
        return;
    }
    prevDab_ = curDab_;
    curDab_ = next_;
    InvalidateSpan(prevDab_, curDab_);
    idleTicks_ = 0;
}

void TInstantPaintTool::Tick(bool released) {
    // After more than two ticks at rest, and always at the release, the lagging smoothed
    // path is brought up to the pointer by feeding the resting point again.
    if (Ready() && historyCount_ > 0 && (idleTicks_ > 1 || released)) {
        flushing_ = true;
        for (int i = 0; i < smooth_ && !Same(Entry(smooth_), TPt{double(last_.x), double(last_.y)});
             ++i)
            TrackLayerPoint(last_.x, last_.y);
        flushing_ = false;
    }
    ++idleTicks_;
}
