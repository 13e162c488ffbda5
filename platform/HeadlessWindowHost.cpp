#include "HeadlessWindowHost.h"

#include <algorithm>

namespace {
RECT Union(const RECT& a, const RECT& b) {
    if (a.left >= a.right || a.top >= a.bottom) return b;
    if (b.left >= b.right || b.top >= b.bottom) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}
} // namespace

THeadlessWindowHost::THeadlessWindowHost(TSize client) : client_size_(client) {
    store_.Resize(client);
}

void THeadlessWindowHost::SetUnits(int unitX, int unitY) {
    scroll_.UnitX = std::max(1, unitX);
    scroll_.UnitY = std::max(1, unitY);
    if (scroll_.Clamp(client_size_)) InvalidateAll();
}

void THeadlessWindowHost::SetRange(int rangeX, int rangeY) {
    scroll_.RangeX = std::max(0, rangeX);
    scroll_.RangeY = std::max(0, rangeY);
    if (scroll_.Clamp(client_size_)) InvalidateAll();
}

void THeadlessWindowHost::ScrollTo(int posX, int posY) {
    const TScrollState old = scroll_;
    scroll_.PosX = posX;
    scroll_.PosY = posY;
    scroll_.Clamp(client_size_);
    // A real window moves the pixels and repaints only the uncovered strip; repainting
    // everything gives the same picture.
    if (scroll_.PosX != old.PosX || scroll_.PosY != old.PosY) InvalidateAll();
}

bool THeadlessWindowHost::IsScrollBarShown(TScrollBar bar) const {
    return scroll_.NeedsBar(bar, client_size_);
}

int THeadlessWindowHost::ScrollBarThickness(TScrollBar) const { return bar_thickness_; }

void THeadlessWindowHost::Invalidate(const RECT& rc) {
    if (!redraw_) return;
    const RECT clipped{std::max(rc.left, 0), std::max(rc.top, 0),
                       std::min(rc.right, client_size_.cx), std::min(rc.bottom, client_size_.cy)};
    if (clipped.left >= clipped.right || clipped.top >= clipped.bottom) return;
    Invalidated.push_back(clipped);
    invalid_ = Union(invalid_, clipped);
}

void THeadlessWindowHost::InvalidateAll() {
    Invalidate(RECT{0, 0, client_size_.cx, client_size_.cy});
}

void THeadlessWindowHost::Update() {
    if (!IsInvalid() || !redraw_) return;
    const RECT rc = invalid_;
    invalid_ = RECT{};
    Painted.push_back(rc);
    if (client_) client_->OnPaint(rc);
}

void THeadlessWindowHost::Resize(TSize client) {
    client_size_ = client;
    store_.Resize(client);
    scroll_.Clamp(client_size_);
    invalid_ = RECT{};
    InvalidateAll();
    if (client_) client_->OnSize();
}

void THeadlessWindowHost::SetFocus(bool focus) {
    const bool gained = focus && !focus_;
    focus_ = focus;
    if (gained && client_) client_->OnSetFocus();
}

bool THeadlessWindowHost::FireTimer(int id) {
    if (!timers_.count(id)) return false;
    if (client_) client_->OnTimer(id);
    return true;
}

int THeadlessWindowHost::TimerPeriod(int id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second;
}

void THeadlessWindowHost::Wheel(int delta, unsigned keys, POINT client) {
    if (client_) client_->OnMouseWheel(delta, keys, client);
}

bool THeadlessWindowHost::Inside(POINT p) const {
    return p.x >= 0 && p.y >= 0 && p.x < client_size_.cx && p.y < client_size_.cy;
}

void THeadlessWindowHost::ButtonDown(TMouseButton button, unsigned keys, POINT client) {
    MoveCursor(client, Inside(client));
    if (client_) client_->OnButtonDown(button, keys, client);
}

void THeadlessWindowHost::ButtonUp(TMouseButton button, unsigned keys, POINT client) {
    MoveCursor(client, Inside(client));
    if (client_) client_->OnButtonUp(button, keys, client);
}

void THeadlessWindowHost::MouseMove(unsigned keys, POINT client) {
    MoveCursor(client, Inside(client));
    if (client_) client_->OnMouseMove(keys, client);
}

void THeadlessWindowHost::KeyDown(int key, unsigned keys) {
    if (client_) client_->OnKeyDown(key, keys);
}

void THeadlessWindowHost::KeyUp(int key, unsigned keys) {
    if (client_) client_->OnKeyUp(key, keys);
}

COLORREF THeadlessWindowHost::Pixel(int x, int y) const {
    auto* self = const_cast<THeadlessWindowHost*>(this);
    BITMAPHANDLE* b = self->store_.Bitmap();
    if (!b || x < 0 || y < 0 || x >= b->Width || y >= b->Height) return CLR_INVALID;
    const uint8_t* p = L_RowPtr(b, y) + size_t(x) * 4;
    return RGB(p[2], p[1], p[0]);
}
