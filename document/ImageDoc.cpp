#include "ImageDoc.h"

#include <cstdint>
#include <limits>

#include "ErrorDisplay.h"
#include "MessageBox.h"
#include "Options.h"
#include "WaitCursor.h"

namespace {

constexpr const char* kLowerDepthText =
    "You choose to save an image\n\rwith lower bits per pixel value\n\rthen the image has.\n\r"
    "Are you sure to save the file with this format?";
constexpr const char* kLowerDepthCaption = "Warning";
constexpr const char* kSaveFailedText = "Unable to save the file. Maybe the file is read-only.";
constexpr const char* kTruncatedText = "The file ends early; the missing part is shown in gray.";

// After a load: a file that ended early opened in part, and the user must know that
// saving it over the original keeps only that part.
void WarnIfTruncated() {
    if (L_GetLoadWarnings() & LOADWARN_TRUNCATED)
        MessageBoxHost().Show(kTruncatedText, kAppName, TMbButtons::Ok, TMbIcon::Exclamation);
}

// Progress of the file being loaded, kept across callback calls.
struct TLoadProgress {
    int64_t rows = 0;
    int pass = 0;
    int passes = 1;
    int lastShown = -10;
    IProgressGauge* gauge = nullptr;
} g_progress;

bool StartsWithNativeMagic(const std::string& path) {
    return TLayeredImage::IsNativeFile(path.c_str());
}

int ClampPercent(int v) { return v < 0 ? 0 : v > 100 ? 100 : v; }

} // namespace

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const int64_t num = int64_t(a) * int64_t(b);
    int64_t q = num / c;
    const int64_t rem = num % c;
    // Round halves away from zero: compare twice the remainder with the divisor.
    if (2 * (rem < 0 ? -rem : rem) >= (c < 0 ? -int64_t(c) : int64_t(c)))
        q += ((num < 0) != (c < 0)) ? -1 : 1;
    if (q > std::numeric_limits<int>::max() || q < std::numeric_limits<int>::min()) return -1;
    return int(q);
}

TImageDoc::TImageDoc() {
    // Files that carry no resolution of their own get 72 dots per inch.
    EXTFILEOPTIONS options;
    if (L_GetExtFileOption(&options) == SUCCESS) {
        options.XResolution = 72;
        options.YResolution = 72;
        L_SetExtFileOption(&options);
    }
}

TImageDoc::~TImageDoc() = default;

void TImageDoc::SetProgressGauge(IProgressGauge* gauge) { g_progress.gauge = gauge; }

L_INT TImageDoc::LoadProgressCallback(FILEINFO* info, pBITMAPHANDLE bitmap, uint8_t*, L_UINT flags,
                                      L_INT, L_INT lines, void*) {
    TLoadProgress& p = g_progress;
    const bool firstPass = flags & FILEREAD_FIRSTPASS, lastPass = flags & FILEREAD_LASTPASS;
    const bool firstRow = flags & FILEREAD_FIRSTROW, lastRow = flags & FILEREAD_LASTROW;
    if (firstPass && firstRow) {
        p.rows = 0;
        p.pass = 0;
        p.lastShown = -10;
        // A single-pass file says so on its first call; otherwise assume two passes and
        // add one whenever a pass beyond them begins.
        p.passes = lastPass ? 1 : 2;
    } else if (firstRow) {
        if (++p.pass == p.passes) ++p.passes;
        p.rows = 0;
    }
    p.rows += lines;

    IProgressGauge* gauge = p.gauge;
    if (!(lastPass && lastRow)) {
        const int64_t height = bitmap && bitmap->Height > 0 ? bitmap->Height
                               : info                       ? info->Height
                                                            : 0;
        if (height <= 0) return SUCCESS;
        int percent = int((p.rows * 100 / height + int64_t(p.pass) * 100) / p.passes);
        percent -= percent % 10;
        if (percent != p.lastShown) {
            p.lastShown = percent;
            if (gauge) {
                gauge->SetValue(percent);
                gauge->Repaint();
            }
        }
    } else if (gauge) {
        gauge->SetValue(100);
        gauge->Repaint();
        gauge->SetValue(0);
    }
    return SUCCESS;
}

bool TImageDoc::Open(int mode, const std::string& path) {
    if (!path.empty()) {
        if (Image.Count() > 0) return false;
        FILEINFO info;
        if (StartsWithNativeMagic(path)) {
            info.Format = FORMAT_NATIVE;
        } else if (L_INT rc = L_FileInfo(path.c_str(), &info); rc != SUCCESS) {
            throw TXLeadLib(path, rc);
        }
        {
            TWaitCursor wait;
            L_INT rc = Image.Load(path.c_str(), LoadProgressCallback, nullptr);
            if (rc != SUCCESS) throw TXLeadLib(path, rc);
        }
        WarnIfTruncated();
        if (const char* type = FileTypeForFormat(info.Format); type && Templates) {
            for (const auto& t : *Templates)
                if (t->GetDescription() == type) {
                    SetTemplate(t.get());
                    break;
                }
        }
        SetDocPath(path);
        RebuildPalette();
    }
    SetOpenMode(mode);
    NotifyViews(TDocEvent::Opened);
    return true;
}

bool TImageDoc::Close() {
    if (!TDocument::Close()) return false;
    NotifyViews(TDocEvent::Closed);
    Image.CommitChannels(true);
    Image.Layers.Clear();
    RebuildPalette();
    return true;
}

bool TImageDoc::IsGrayscale() {
    TLayer* background = Image.Layers.At(0);
    return background && background->IsGrayscale();
}

TSaveFormat TImageDoc::ChooseSaveFormat() {
    const TLayer* background = Image.Layers.At(0);
    const TDocTemplate* t = GetTemplate();
    const TFileType* type = t ? FindFileType(t->GetDescription()) : nullptr;
    if (!background || !type) return {};
    const TOptions& o = Options();
    return ::ChooseSaveFormat(*type, background->LogicalBpp, IsGrayscale(), o.TiffCompressionType,
                              o.TiffColorSpace);
}

L_INT TImageDoc::WriteFile(const TSaveFormat& format) {
    const std::string& path = GetDocPath();
    if (format.Code == FORMAT_NATIVE) return Image.SaveNative(path.c_str());

    int quality = 0;
    switch (format.Code) {
        case 10:
        case 11:
        case 21:
        case 22:
        case 23:
        case 24: quality = 255 - MulDiv(ClampPercent(Options().JpegCompression), 255, 100); break;
        case 20:
        case 26: quality = 255 - MulDiv(ClampPercent(Options().CmpCompression), 255, 100); break;
        default: break;
    }
    // SaveFlat flattens a copy when there are several layers, hidden ones included.
    L_INT rc = Image.CommitChannels(false);
    if (rc != SUCCESS) return rc;
    return Image.SaveFlat(path.c_str(), format.Code, format.Bpp, quality);
}

bool TImageDoc::FallBackToSaveAs() {
    // A Save As that fails again must not start yet another Save As from inside itself.
    if (inSaveAs_) return false;
    inSaveAs_ = true;
    // Whether the user saved somewhere else: a clean document whose write failed is not
    // saved just because it had no changes.
    const bool saved = SaveAs();
    inSaveAs_ = false;
    return saved;
}

bool TImageDoc::Commit(bool force) {
    if (!TDocument::Commit(force)) return false;
    TWaitCursor wait;
    const TLayer* background = Image.Layers.At(0);
    if (!background) return false; // nothing to save

    const TSaveFormat format = ChooseSaveFormat();
    // A type we cannot write (open only) or a document without a file: there is nothing
    // to report, only a place and type to ask for.
    if (format.Code == 0 || GetDocPath().empty()) return FallBackToSaveAs();

    if (format.Bpp < background->LogicalBpp &&
        MessageBoxHost().Show(kLowerDepthText, kLowerDepthCaption, TMbButtons::YesNo,
                              TMbIcon::Exclamation) != TMbResult::Yes)
        return false;

    L_ClearLastWriteError();
    lastSaveError_ = WriteFile(format);
    if (lastSaveError_ == SUCCESS) {
        Checkpoint(false, std::string());
        return true;
    }
    // Codecs that do not exist yet answer "Feature not supported!" and end up here too.
    // When the file system refused the write, its reason follows on a line of its own.
    std::string text = kSaveFailedText;
    if (const L_INT cause = L_GetLastWriteError())
        text += std::string("\n") + L_WriteErrorText(cause);
    MessageBoxHost().Show(text, kAppName, TMbButtons::Ok, TMbIcon::Stop);
    return FallBackToSaveAs();
}

bool TImageDoc::Revert(bool clear) {
    if (clear) {
        if (!TDocument::Revert(clear)) return false;
        Checkpoint(false, std::string());
        return true;
    }
    // A document that never had a file has nothing to go back to.
    const std::string path = GetDocPath();
    if (path.empty()) return false;
    // Read the file before letting go of anything: when it has gone or been damaged, the
    // user keeps the image and its history, and learns why (TXLeadLib, as on open).
    TLayeredImage fresh;
    {
        TWaitCursor wait;
        const L_INT rc = fresh.Load(path.c_str(), LoadProgressCallback, nullptr);
        if (rc != SUCCESS) throw TXLeadLib(path, rc);
    }
    WarnIfTruncated();
    if (!TDocument::Revert(clear)) return false;
    Checkpoint(false, std::string());
    NotifyViews(TDocEvent::Closed);
    Image.Swap(fresh);
    RebuildPalette();
    NotifyViews(TDocEvent::Opened);
    return true;
}

bool TImageDoc::InitFromBitmap(BITMAPHANDLE& bitmap) {
    auto layer = std::make_unique<TLayer>();
    layer->Adopt(bitmap);
    if (layer->NormalizeDepth() != SUCCESS) return false;
    layer->Name = "Background";
    Image.CommitChannels(true);
    Image.Layers.Clear();
    Image.Layers.Append(std::move(layer));
    Image.Layers.Seek(0);
    RebuildPalette();
    NotifyViews(TDocEvent::Opened);
    SetDirty(true);
    NotifyViews(TDocEvent::Changed);
    return true;
}

bool TImageDoc::Resize(L_INT width, L_INT height, L_UINT resampling) {
    if (Image.Count() == 0 || width <= 0 || height <= 0) return false;
    if (!Checkpoint(true, "Resize", TWrites::NewBlocks)) return false;
    L_INT rc = Image.CommitChannels(false);
    if (rc == SUCCESS) rc = Image.ResizeAll(width, height, resampling);
    RebuildPalette();
    return rc == SUCCESS;
}

bool TImageDoc::ConvertToGrayscale() {
    if (Image.Count() == 0) return false;
    if (!Checkpoint(true, "Convert To Grayscale")) return false;
    L_INT rc = Image.CommitChannels(false);
    if (rc == SUCCESS) rc = Image.ConvertToGrayscale();
    RebuildPalette();
    return rc == SUCCESS;
}
