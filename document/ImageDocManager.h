// The program's document manager: every document is a TImageDoc, every registered file
// type one template. Adds new blank images, the open dialog's memory of the last folder and
// type, and the question before reverting.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DocManager.h"
#include "ImageDoc.h"

class TImageDocManager : public TDocManager {
public:
    // Program strings of the manager.
    static constexpr int IDS_SELECTSOURCE = 801;   // "Select Source"
    static constexpr int IDS_ACQUIRE = 802;        // "Acquire"
    static constexpr int IDS_PREFERENCES = 806;    // "Preferences"
    static constexpr int IDS_REVERTQUESTION = 807; // "Revert %s to last saved version?"

    // Registers the file types, in their order. The last manager made is the process's.
    TImageDocManager();
    ~TImageDocManager() override;

    // The manager of the process (the status bar finds the current document through it),
    // or null.
    static TImageDocManager* Instance();

    // Asks for a new image's size in pixels and bits per pixel (1, 4, 8, 16, 24 or 32),
    // starting from the values passed in; false when cancelled. Unset: New makes nothing.
    std::function<bool(int& width, int& height, int& bpp)> AskNewImage;
    // The colour a new image is filled with. Unset: white.
    std::function<COLORREF()> BackgroundColor;
    // The colour the paint tools draw with (the background colour is their second one).
    // Unset: black.
    std::function<COLORREF()> ForegroundColor;
    // Told when the eyedropper picks a colour: the background one when `background`.
    std::function<void(bool background, COLORREF color)> ColorPicked;

    // A new document without a file (first template) holding the bitmap, whose content it
    // takes over; dirty. Null when the bitmap cannot be taken.
    TImageDoc* CreateFromBitmap(BITMAPHANDLE& bitmap);
    // A document brought back from an autosave: it takes over image's layers, gets the
    // path, title and file type (by description; the first one when unknown) it had, and
    // is dirty. A path already open elsewhere is left out, so the two never save over
    // each other. Null when there is nothing to show.
    TImageDoc* OpenRecovered(TLayeredImage& image, const std::string& path,
                             const std::string& title, const std::string& type);

    // Told after a document was saved under a path (and after one was opened), and after
    // one closed. The autosaver listens.
    std::function<void(TDocument&)> DocumentSaved, DocumentClosed;

    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;
    void CmFileNew() override;
    void CmFileRevert() override;
    std::string LoadString(int id) const override;

protected:
    std::unique_ptr<TDocument> ConstructDoc(TDocTemplate& t) override;
    void DocPathUsed(TDocument& doc) override;
    void DocClosed(TDocument& doc) override;
    // The open dialog starts in the last folder with the last type (kept in the options,
    // so they also outlive the run).
    bool SelectDocPath(std::vector<std::string>& paths, int& templateIndex) override;
};
