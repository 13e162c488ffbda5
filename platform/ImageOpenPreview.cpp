#include "ImageOpenPreview.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "WaitCursor.h"

namespace {

// a * b / c rounded to nearest, for the positive sizes here.
L_INT MulDiv(L_INT a, L_INT b, L_INT c) {
    return static_cast<L_INT>((static_cast<long long>(a) * b + c / 2) / c);
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

} // namespace

bool& TImageOpenPreview::Enabled() {
    static bool on = true;
    return on;
}

TImageOpenPreview::TImageOpenPreview(TSize area) : area_(area) { Clear(); }

void TImageOpenPreview::Clear() {
    picture_.Reset();
    path_.clear();
    attributes_.fill(kNotAvailable);
}

void TImageOpenPreview::SetEnabled(bool on, const std::string& currentPath) {
    Enabled() = on;
    Update(currentPath);
}

void TImageOpenPreview::Update(const std::string& currentPath) {
    if (!Enabled() || currentPath.empty()) {
        Clear();
        return;
    }
    if (currentPath == path_) return;
    TWaitCursor wait;
    Clear();
    path_ = currentPath;
    FILEINFO info;
    L_INT rc = ERROR_FILE_OPEN;
    if (IsRegularFile(currentPath)) {
        ++Loads;
        rc = L_FileInfo(currentPath.c_str(), &info);
    }
    if (rc == SUCCESS) {
        if (L_GetCompressFileStamp(currentPath.c_str(), picture_.get(), 0) != SUCCESS) {
            picture_.Reset();
            rc = L_LoadBitmap(currentPath.c_str(), picture_.get(), 0, ORDER_BGR);
        }
    }
    const int w = picture_->Width, h = picture_->Height;
    if (rc == SUCCESS && (w <= 0 || h <= 0)) rc = ERROR_NO_BITMAP;
    if (rc == SUCCESS && area_.cx > 0 && area_.cy > 0) {
        // The whole picture, as large as the area allows with its aspect ratio.
        const bool tall = int64_t(w) * area_.cy <= int64_t(h) * area_.cx;
        const L_INT fw = tall ? MulDiv(w, area_.cy, h) : area_.cx;
        const L_INT fh = tall ? area_.cy : MulDiv(h, area_.cx, w);
        rc = L_SizeBitmap(picture_.get(), std::max(fw, 1), std::max(fh, 1), SIZE_RESAMPLE);
    }
    if (rc != SUCCESS) {
        // Forgetting the path lets the next look at the file try again.
        Clear();
        return;
    }
    attributes_ = {std::to_string(info.Width), std::to_string(info.Height),
                   std::to_string(info.BitsPerPixel), std::to_string(info.SizeDisk)};
}
