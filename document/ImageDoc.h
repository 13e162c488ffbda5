// The image document: one open image with its history, loaded from and saved to a file of
// one of the registered file types.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DocTemplate.h"
#include "Document.h"
#include "FileTypes.h"
#include "ImageData.h"
#include "ProgressGauge.h"

// The application's name: the caption of its own error boxes.
inline constexpr const char* kAppName = "Quillo Professional";

class TImageDoc : public TDocument, public TImageData {
public:
    TImageDoc();
    ~TImageDoc() override;

    // Loads the file (native or any toolkit format) into an empty document; an empty path
    // makes a new, empty document. False when the document already holds an image.
    // Throws TXLeadLib (path and toolkit code) when the file cannot be read.
    bool Open(int mode, const std::string& path) override;
    bool Close() override;
    // Saves under the document's path in its type's format (see ChooseSaveFormat). On a
    // failed write tells the user and falls back to Save As; true only if the document
    // ends up saved.
    bool Commit(bool force = false) override;
    // Forgets the history; unless `clear`, reloads the file (false for a document without
    // one). A file that cannot be read throws TXLeadLib and leaves image and history alone.
    bool Revert(bool clear = false) override;
    bool IsDirty() override { return TImageData::IsDirty(); }
    bool IsOpen() override { return Image.Count() > 0; }

    // Makes the bitmap the document's only layer, taking over its content (the record is
    // left empty). Used for new, scanned and pasted images; the document is then dirty.
    virtual bool InitFromBitmap(BITMAPHANDLE& bitmap);

    // Whether the background is an 8-bit grayscale bitmap (asked once, then cached).
    bool IsGrayscale();
    // The format code and depth this document is saved with; code 0 when its type cannot
    // be saved (open-only types, or no type yet).
    TSaveFormat ChooseSaveFormat();

    // Whole-image commands, each undoable as one step.
    // resampling: a SIZE_ flag of the toolkit.
    bool Resize(L_INT width, L_INT height, L_UINT resampling = SIZE_RESAMPLE);
    bool ConvertToGrayscale();

    // The toolkit's row callback while a file loads: drives the progress gauge. Its state
    // is shared by all loads (they never overlap).
    static L_INT LoadProgressCallback(FILEINFO* info, pBITMAPHANDLE bitmap, uint8_t* buffer,
                                      L_UINT flags, L_INT row, L_INT lines, void* user);
    // The gauge the callback drives (null: none).
    static void SetProgressGauge(IProgressGauge* gauge);

    // The registered templates, in registration order, from which an opened file's type
    // is picked. Set by the document manager; without them the type stays as it is.
    const std::vector<std::unique_ptr<TDocTemplate>>* Templates = nullptr;

    // The toolkit code of the last failed save (SUCCESS after a good one).
    L_INT LastSaveError() const { return lastSaveError_; }

    // The document's dirty flag is the framework's.
    bool DocumentDirty() const override { return GetDirtyFlag(); }
    void SetDocumentDirty(bool dirty) override { SetDirty(dirty); }
    // The windows learn of it, to mark the title of a changed document.
    void HistoryChanged() override { NotifyViews(TDocEvent::Changed); }

private:
    L_INT WriteFile(const TSaveFormat& format);
    bool FallBackToSaveAs();

    L_INT lastSaveError_ = SUCCESS;
    bool inSaveAs_ = false;
};

// a * b / c rounded to the nearest integer (halves away from zero); -1 when c is 0 or the
// result does not fit.
int MulDiv(int a, int b, int c);
