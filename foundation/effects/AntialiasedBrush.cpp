// The brush tools' coverage masks: a round (or squarer) shape filling the mask, fully covered
// in its core and fading to nothing at its rim over the soft part.
//
// Each mask byte is the mean coverage over the pixel's square. Where the profile is constant
// (core, outside) that is exact without sampling; along the fade a 4 x 4 grid suffices, its
// error falling with the square of the sample spacing; pixels that hold a crease of the
// profile (the rim, the edge of the core, the centre point) are sampled 32 x 32. A square's
// diagonals crease the fade too, but too gently to need more than the 4 x 4 grid.
#include <algorithm>
#include <cmath>

#include "Effects.h"

namespace {

struct Profile {
    double cx, cy, rx, ry; // centre and half-axes in pixels
    double round;          // 1 round, 0 square, in between a mix of both distances
    double core;           // distance (1 = rim) up to which coverage is full
    bool smooth;           // an S-shaped fade instead of a straight one

    // Distance 0 at the centre, 1 at the rim.
    double Dist(double x, double y) const {
        const double u = std::fabs(x - cx) / rx, v = std::fabs(y - cy) / ry;
        const double euclid = std::sqrt(u * u + v * v), cheb = std::max(u, v);
        return round * euclid + (1 - round) * cheb;
    }
    double Coverage(double x, double y) const {
        const double d = Dist(x, y);
        if (d >= 1) return 0;
        if (d <= core) return 1;
        const double t = (1 - d) / (1 - core);
        return smooth ? t * t * (3 - 2 * t) : t;
    }
    double Mean(int px, int py, int n) const {
        double sum = 0;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) sum += Coverage(px + (i + 0.5) / n, py + (j + 0.5) / n);
        return sum / (n * n);
    }
};

} // namespace

L_INT CreateAntialiasedBrush(L_INT transparency, L_INT peak, L_INT roundness, L_INT width,
                             L_INT height, uint8_t* mask, L_INT flag, double softness) {
    if (!mask) return ERROR_INV_PARAMETER;
    if (width <= 0 || height <= 0 || width > LX_BRUSH_MAX || height > LX_BRUSH_MAX)
        return ERROR_INV_RANGE;
    if (transparency < 0 || transparency > 255 || peak < 0 || peak > 255 || roundness < 0 ||
        roundness > 255 || !std::isfinite(softness))
        return ERROR_INV_PARAMETER;
    const double soft = std::clamp(softness, 0.0, 100.0) / 100;
    Profile p{width / 2.0,       height / 2.0, width / 2.0, height / 2.0,
              roundness / 255.0, 1 - soft,     flag != 0};
    const double scale = peak * (255 - transparency) / 255.0;
    // How far the distance can change from a pixel's centre to its corners.
    const double reach = 0.75 / std::min(p.rx, p.ry);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double cx = x + 0.5, cy = y + 0.5, d = p.Dist(cx, cy);
            double c;
            if (d - reach >= 1) {
                c = 0;
            } else if (d + reach <= p.core) {
                c = 1;
            } else {
                const auto near = [&](double k) { return std::fabs(d - k) < reach; };
                const bool crease = near(1) || near(p.core) || d < reach;
                c = p.Mean(x, y, crease ? 32 : 4);
            }
            mask[size_t(y) * size_t(width) + size_t(x)] = uint8_t(std::lround(c * scale));
        }
    return SUCCESS;
}
