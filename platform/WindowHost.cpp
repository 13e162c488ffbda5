#include "WindowHost.h"

#include <algorithm>

int TScrollState::MaxPosX(int clientWidth) const {
    const int page = UnitX > 0 ? clientWidth / UnitX : 0;
    return std::max(0, RangeX - page);
}

int TScrollState::MaxPosY(int clientHeight) const {
    const int page = UnitY > 0 ? clientHeight / UnitY : 0;
    return std::max(0, RangeY - page);
}

bool TScrollState::Clamp(TSize client) {
    const int x = std::clamp(PosX, 0, MaxPosX(client.cx));
    const int y = std::clamp(PosY, 0, MaxPosY(client.cy));
    const bool changed = x != PosX || y != PosY;
    PosX = x;
    PosY = y;
    return changed;
}

bool TScrollState::NeedsBar(TScrollBar bar, TSize client) const {
    if (bar == TScrollBar::Horizontal) return int64_t(RangeX) * UnitX > client.cx;
    return int64_t(RangeY) * UnitY > client.cy;
}

TBackingStore::~TBackingStore() { Release(); }

void TBackingStore::Release() {
    if (dc_) L_DeleteLeadDC(dc_);
    dc_ = nullptr;
    if (bitmap_.Flags.Allocated) L_FreeBitmap(&bitmap_);
}

L_INT TBackingStore::Resize(TSize size) {
    if (bitmap_.Flags.Allocated && bitmap_.Width == size.cx && bitmap_.Height == size.cy)
        return SUCCESS;
    Release();
    if (size.cx <= 0 || size.cy <= 0) return SUCCESS;
    L_INT rc =
        L_CreateBitmap(&bitmap_, TYPE_CONV, size.cx, size.cy, 32, ORDER_BGR, nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    L_FillBitmap(&bitmap_, RGB(255, 255, 255));
    dc_ = L_CreateLeadDC(&bitmap_);
    return dc_ ? SUCCESS : ERROR_NO_MEMORY;
}
