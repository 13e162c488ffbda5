// The system's common dialogs as the program sees them: choosing files to open, a file to
// save to, and a colour. The desktop shows Qt's dialogs; tests queue the answers.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "Toolkit.h"

// One line of a file dialog's type list.
struct TFileFilter {
    std::string Description; // "JPEG File Interchange Format"
    std::string Patterns;    // "*.jpg;*.jff"
    // Added by a save dialog to a name typed without one while this type is selected
    // (without the dot; empty: none).
    std::string DefaultExt;
};

struct TFileDialogRequest {
    std::string Caption;
    std::vector<TFileFilter> Filters;
    int FilterIndex = 0;    // 0-based index of the type selected at first
    std::string InitialDir; // empty: the current folder
    std::string FileName;   // the name proposed (save) or selected (open)
    std::string DefaultExt; // without the dot; added when the name typed has none
    bool MultipleSelection = false;
    bool OverwritePrompt = false;
    // Open dialogs: show the picture and attributes of the file under the cursor beside
    // the list (TImageOpenPreview).
    bool ImagePreview = false;
};

struct TFileDialogResult {
    std::vector<std::string> Paths; // absolute; one unless several were chosen
    int FilterIndex = 0;            // the type chosen
};

// 16 custom colours shared by every colour chooser of the run.
using TCustomColors = std::array<COLORREF, 16>;

class ICommonDialogs {
public:
    virtual ~ICommonDialogs() = default;
    // False when the user cancelled.
    virtual bool GetOpenFileNames(const TFileDialogRequest& request, TFileDialogResult& result) = 0;
    virtual bool GetSaveFileName(const TFileDialogRequest& request, TFileDialogResult& result) = 0;
    // color holds the initial colour and receives the choice; false when cancelled.
    virtual bool ChooseColor(COLORREF& color, TCustomColors& custom) = 0;
};

// The dialogs every part of the program uses. Without one installed, a headless instance
// that cancels everything is used.
ICommonDialogs& CommonDialogs();
// Installs dialogs (null restores the default); returns the previous ones.
ICommonDialogs* SetCommonDialogs(ICommonDialogs* dialogs);

// Scripted dialogs for tests: answers from queues (empty queue: cancel); every request is
// recorded.
class THeadlessCommonDialogs : public ICommonDialogs {
public:
    bool GetOpenFileNames(const TFileDialogRequest& request, TFileDialogResult& result) override;
    bool GetSaveFileName(const TFileDialogRequest& request, TFileDialogResult& result) override;
    bool ChooseColor(COLORREF& color, TCustomColors& custom) override;

    void QueueOpen(TFileDialogResult r) { open_.push_back(std::move(r)); }
    void QueueSave(TFileDialogResult r) { save_.push_back(std::move(r)); }
    void QueueColor(COLORREF c) { colors_.push_back(c); }

    std::vector<TFileDialogRequest> OpenRequests, SaveRequests;
    std::vector<COLORREF> ColorRequests;

private:
    std::deque<TFileDialogResult> open_, save_;
    std::deque<COLORREF> colors_;
};
