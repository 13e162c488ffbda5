// The machinery behind the processing functions: bands of rows on threads, the working
// format of a bitmap, region-confined stores and the source-row window of the filters.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "ProcessingInternal.h"

namespace {

std::atomic<int> g_threads{0}; // 0: the default

int DefaultThreads() {
    if (const char* env = std::getenv("QUILLO_THREADS")) {
        char* end = nullptr;
        const long v = std::strtol(env, &end, 10);
        if (*env && !*end && v > 0) return int(std::min(v, 64L));
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp(hw ? hw : 1u, 1u, 64u));
}

// Set on the thread that called RunBands: only it talks to the status callback.
thread_local bool tl_caller = false;

} // namespace

void L_SetProcessingThreads(L_INT nThreads) { g_threads = std::clamp(nThreads, 0, 64); }

L_INT L_GetProcessingThreads() {
    const int n = g_threads.load();
    return n > 0 ? n : DefaultThreads();
}

namespace lt::proc {

bool TBandRun::Rows(int n) {
    done_.fetch_add(n, std::memory_order_relaxed);
    if (tl_caller) Report();
    return !Cancelled();
}

void TBandRun::Report() {
    if (Cancelled()) return;
    const int pct = int(int64_t(std::min(done_.load(), total_)) * 100 / total_);
    if (pct == lastPct_ || pct >= 100) return; // 100 % comes once everything is done
    lastPct_ = pct;
    const L_INT rc = L_ReportStatus(pct);
    if (rc != SUCCESS) Fail(rc);
}

std::vector<int> BandEdges(int rows, int minRows) {
    const int threads = L_GetProcessingThreads();
    const int bands = std::clamp(rows / std::max(minRows, 1), 1, threads);
    std::vector<int> edges(size_t(bands) + 1);
    for (int i = 0; i <= bands; ++i) edges[size_t(i)] = int(int64_t(rows) * i / bands);
    return edges;
}

L_INT RunBands(const std::vector<int>& edges, int first, const TBandBody& body) {
    const int bands = int(edges.size()) - 1;
    if (bands <= 0) return SUCCESS;
    TBandRun run(edges.back());
    const bool wasCaller = tl_caller;
    tl_caller = true;

    std::mutex m;
    std::condition_variable cv;
    int running = 0;
    std::vector<std::thread> threads;
    auto runBand = [&](int i) {
        const L_INT rc = body(i, first + edges[size_t(i)], first + edges[size_t(i) + 1], run);
        if (rc != SUCCESS) run.Fail(rc);
    };
    try {
        for (int i = 1; i < bands; ++i) {
            {
                std::lock_guard<std::mutex> lock(m);
                ++running;
            }
            threads.emplace_back([&, i] {
                runBand(i);
                std::lock_guard<std::mutex> lock(m);
                --running;
                cv.notify_all();
            });
        }
    } catch (const std::system_error&) {
        // No more threads: the caller does the bands that did not get one.
        std::lock_guard<std::mutex> lock(m);
        running -= bands - 1 - int(threads.size());
        for (int i = int(threads.size()) + 1; i < bands; ++i) runBand(i);
    }
    runBand(0);
    // While the others finish, keep the progress moving (the callback may keep a window
    // alive meanwhile).
    {
        std::unique_lock<std::mutex> lock(m);
        while (running > 0) {
            cv.wait_for(lock, std::chrono::milliseconds(30));
            lock.unlock();
            run.Report();
            lock.lock();
        }
    }
    for (std::thread& t : threads) t.join();
    tl_caller = wasCaller;
    if (run.Status() != SUCCESS) return run.Status();
    L_ReportStatus(100); // the work is done; a late cancel changes nothing
    return SUCCESS;
}

L_INT RunBands(int first, int last, int minRows, const TBandBody& body) {
    if (first >= last) return SUCCESS;
    return RunBands(BandEdges(last - first, minRows), first, body);
}

bool HasGrayRamp(const BITMAPHANDLE* b) {
    if (b->BitsPerPixel != 8 || !b->pPalette) return false;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = b->pPalette[i];
        if (q.rgbRed != i || q.rgbGreen != i || q.rgbBlue != i) return false;
    }
    return true;
}

void WrittenRows(const BITMAPHANDLE* b, int* y0, int* y1) {
    *y0 = 0;
    *y1 = b->Height;
    if (b->pRgn) {
        if (b->pRgn->Empty()) {
            *y1 = 0;
            return;
        }
        const RECT r = b->pRgn->Bounds();
        *y0 = std::clamp(r.top, 0, b->Height);
        *y1 = std::clamp(r.bottom, *y0, b->Height);
    }
}

// ---------------------------------------------------------------------------

TFormat::TFormat(const BITMAPHANDLE* b, bool allowGray) : b_(b) {
    switch (b->BitsPerPixel) {
        case 32: kind_ = TKind::Bgra, channels_ = 4; break;
        case 24: kind_ = TKind::Bgr, channels_ = 3; break;
        default:
            if (allowGray && HasGrayRamp(b)) {
                kind_ = TKind::Gray, channels_ = 1;
            } else {
                kind_ = TKind::Palette, channels_ = 3;
            }
            break;
    }
    if (kind_ == TKind::Palette && b->BitsPerPixel <= 8 && b->pPalette) {
        const int n = 1 << b->BitsPerPixel;
        for (int i = 0; i < n; ++i) {
            lut_[i][0] = b->pPalette[i].rgbBlue;
            lut_[i][1] = b->pPalette[i].rgbGreen;
            lut_[i][2] = b->pPalette[i].rgbRed;
        }
    }
}

void TFormat::Load(int y, uint8_t* out) const {
    const uint8_t* row = L_RowPtr(b_, y);
    const int w = b_->Width;
    if (kind_ != TKind::Palette) {
        std::memcpy(out, row, size_t(w) * size_t(channels_));
        return;
    }
    switch (b_->BitsPerPixel) {
        case 16:
            for (int x = 0; x < w; ++x) {
                const BGRA c = Unpack16(uint16_t(row[x * 2] | (row[x * 2 + 1] << 8)));
                out[x * 3] = c.b, out[x * 3 + 1] = c.g, out[x * 3 + 2] = c.r;
            }
            break;
        case 8:
            for (int x = 0; x < w; ++x) std::memcpy(out + x * 3, lut_[row[x]], 3);
            break;
        default:
            for (int x = 0; x < w; ++x)
                std::memcpy(out + x * 3, lut_[ReadIndex(row, x, b_->BitsPerPixel)], 3);
            break;
    }
}

TWriter::TWriter(const TFormat& fmt, pBITMAPHANDLE b) : fmt_(fmt), b_(b) {
    if (fmt.Kind() == TKind::Palette && b->BitsPerPixel <= 8)
        nearest_ = std::make_unique<lt::color::InverseMap>(b->pPalette, 1 << b->BitsPerPixel);
}

QUILLO_ROW_KERNEL void StoreKeepingAlpha(uint8_t* dst, const uint8_t* src, int n,
                                         const uint8_t* alpha) {
    if (!alpha) alpha = dst;
    for (int x = 0; x < n; ++x) {
        uint32_t d, s;
        std::memcpy(&d, alpha + 4 * x, 4);
        std::memcpy(&s, src + 4 * x, 4);
        d = (d & 0xFF000000u) | (s & 0x00FFFFFFu);
        std::memcpy(dst + 4 * x, &d, 4);
    }
}

void TWriter::Store(int y, const uint8_t* in, uint8_t* row) {
    if (!row) row = L_RowPtr(b_, y);
    const int bpp = b_->BitsPerPixel;
    ForRowSpans(b_, y, [&](int x0, int x1) {
        switch (fmt_.Kind()) {
            case TKind::Gray: std::memcpy(row + x0, in + x0, size_t(x1 - x0)); break;
            case TKind::Bgr: std::memcpy(row + 3 * x0, in + 3 * x0, size_t(x1 - x0) * 3); break;
            case TKind::Bgra: StoreKeepingAlpha(row + 4 * x0, in + 4 * x0, x1 - x0); break;
            case TKind::Palette:
                if (bpp == 16) {
                    for (int x = x0; x < x1; ++x) {
                        BGRA c{in[x * 3], in[x * 3 + 1], in[x * 3 + 2],
                               uint8_t((row[x * 2 + 1] & 0x80) ? 255 : 0)};
                        const uint16_t v = Pack16(c);
                        row[x * 2] = uint8_t(v), row[x * 2 + 1] = uint8_t(v >> 8);
                    }
                } else {
                    for (int x = x0; x < x1; ++x)
                        WriteIndex(
                            row, x, bpp,
                            unsigned(nearest_->Nearest(in[x * 3 + 2], in[x * 3 + 1], in[x * 3])));
                }
                break;
        }
    });
}

// ---------------------------------------------------------------------------

L_INT MapPaletteColors(pBITMAPHANDLE b, const std::function<BGRA(BGRA)>& map) {
    const int n = 1 << b->BitsPerPixel;
    RGBQUAD mapped[256];
    for (int i = 0; i < n; ++i) {
        const RGBQUAD& q = b->pPalette[i];
        const BGRA c = map(BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255});
        mapped[i] = RGBQUAD{c.b, c.g, c.r, q.rgbReserved};
    }
    if (!b->pRgn) {
        std::memcpy(b->pPalette, mapped, sizeof(RGBQUAD) * size_t(n));
        return SUCCESS;
    }
    // The pixels change inside the region; another holder of the block must not see that.
    if (L_INT rc = L_UnshareBitmap(b); rc != SUCCESS) return rc;
    uint8_t index[256];
    for (int i = 0; i < n; ++i)
        index[i] = uint8_t(NearestPaletteIndex(b->pPalette, n, mapped[i].rgbRed, mapped[i].rgbGreen,
                                               mapped[i].rgbBlue));
    int first, last;
    WrittenRows(b, &first, &last);
    return RunBands(first, last, 64, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = L_RowPtr(b, y);
            ForRowSpans(b, y, [&](int x0, int x1) {
                for (int x = x0; x < x1; ++x)
                    WriteIndex(row, x, b->BitsPerPixel, index[ReadIndex(row, x, b->BitsPerPixel)]);
            });
            if (!run.Rows(1)) break;
        }
        return SUCCESS;
    });
}

// ---------------------------------------------------------------------------

TRowWindow::TRowWindow(const TFormat& fmt, int width, int height, int lo, int hi, int pad)
    : fmt_(fmt),
      width_(width),
      height_(height),
      lo_(lo),
      hi_(hi),
      pad_(pad),
      channels_(fmt.Channels()),
      ring_(hi - lo + 1) {}

void TRowWindow::LoadPadded(int r, uint8_t* dst) const {
    const size_t c = size_t(channels_);
    uint8_t* px = dst + size_t(pad_) * c;
    fmt_.Load(r, px);
    for (int i = 0; i < pad_; ++i) {
        std::memcpy(dst + size_t(i) * c, px, c);
        std::memcpy(px + size_t(width_ + i) * c, px + size_t(width_ - 1) * c, c);
    }
}

void TRowWindow::Snapshot(int y0, int y1) {
    y0_ = y0;
    y1_ = y1;
    next_ = y0;
    const size_t row = PaddedBytes();
    aboveFirst_ = std::max(0, y0 + lo_);
    nAbove_ = std::max(0, y0 - aboveFirst_);
    belowFirst_ = y1;
    nBelow_ = std::max(0, std::min(y1 + hi_, height_) - y1);
    above_.resize(row * size_t(nAbove_));
    below_.resize(row * size_t(nBelow_));
    for (int i = 0; i < nAbove_; ++i) LoadPadded(aboveFirst_ + i, above_.data() + row * size_t(i));
    for (int i = 0; i < nBelow_; ++i) LoadPadded(belowFirst_ + i, below_.data() + row * size_t(i));
    const int slots = std::min(ring_, std::max(y1 - y0, 1));
    ring_ = slots;
    buf_.resize(row * size_t(slots));
    loadedRow_.assign(size_t(slots), -1);
}

void TRowWindow::Advance(int y) {
    const int want = std::min(std::min(y + hi_, height_ - 1), y1_ - 1);
    const size_t row = PaddedBytes();
    while (next_ <= want) {
        const size_t slot = size_t(next_ % ring_);
        LoadPadded(next_, buf_.data() + row * slot);
        loadedRow_[slot] = next_;
        ++next_;
    }
}

const uint8_t* TRowWindow::Row(int r) const {
    r = std::clamp(r, 0, height_ - 1);
    const size_t row = PaddedBytes(), pad = size_t(pad_) * size_t(channels_);
    if (r < y0_) return above_.data() + row * size_t(r - aboveFirst_) + pad;
    if (r >= y1_) return below_.data() + row * size_t(r - belowFirst_) + pad;
    return buf_.data() + row * size_t(r % ring_) + pad;
}

} // namespace lt::proc
