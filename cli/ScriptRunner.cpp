#include "ScriptRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliCommon.h"
#include "ColorPalette.h"
#include "CommonDialogs.h"
#include "Dialog.h"
#include "EffectCommands.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "LayerListWnd.h"
#include "MessageBox.h"
#include "Options.h"
#include "ResizeDialog.h"
#include "TextTool.h"
#include "ToolOptBar.h"
#include "ViewInteraction.h"

namespace {

// The client area every document window gets, as on a large screen with the window
// maximised.
constexpr TSize kClientSize{1280, 1024};
// Tall enough for ten rows; the runner scrolls the list to the row it clicks.
constexpr int kLayerListHeight = 10 * TLayerListWnd::kRowHeight;

// A line that cannot run; thrown to the loop, which reports it and stops.
struct TLineError {
    int Line;
    std::string Reason;
};

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits a line into words. Double quotes group words with their spaces (and are
// dropped); a word starting with '#' outside quotes starts a comment.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        if (c == '#' && !inWord) break;
        inWord = true;
        if (c == '"')
            quoted = true;
        else
            word += c;
    }
    if (quoted) throw std::string("a quote is not closed");
    if (inWord) words.push_back(word);
    return words;
}

// What a `dialog` line does to a running dialog: sets a control (CONTROL=VALUE, or a list
// entry chosen by its data), writes what the preview pane shows (preview=PATH), or clicks
// the middle of the original pane (zoom=in|out).
enum class TDialogAction { Set, Preview, Zoom };

struct TSetting {
    int Id = 0;
    std::string Value;
    std::optional<std::intptr_t> ItemData;
    TDialogAction Action = TDialogAction::Set;
};

// The panes of the effect dialogs.
constexpr int kOriginalPane = 501;
constexpr int kPreviewPane = 502;

std::string WritePreview(TDialog& d, const std::string& path) {
    const TControlState* s = d.State(kPreviewPane);
    if (!s) return "it has no preview pane";
    if (!s->Bitmap) return "its preview is empty";
    BITMAPHANDLE file = *s->Bitmap; // a view of the pixels, not owning them
    const L_INT rc =
        L_SaveBitmap(path.c_str(), &file, FILE_PNG, file.BitsPerPixel == 32 ? 24 : 0, 0);
    if (rc != SUCCESS) return "preview " + path + ": " + L_ErrorMessage(rc);
    std::printf("preview: %s %dx%d\n", path.c_str(), file.Width, file.Height);
    return "";
}

std::string ClickOriginalPane(TDialog& d, const std::string& how) {
    const TControlTemplate* t = d.Template().Find(kOriginalPane);
    if (!t) return "it has no original pane";
    if (how != "in" && how != "out") return "zoom is in or out";
    const POINT middle{(t->Rect.right - t->Rect.left) / 2, (t->Rect.bottom - t->Rect.top) / 2};
    if (!d.ClickPane(kOriginalPane, how == "out", middle)) return "its original pane is disabled";
    return "";
}

struct TDialogAnswer {
    int Line = 0;
    int ResourceId = 0;
    std::vector<TSetting> Settings;
    bool Ok = true;
};

// What a control of a running dialog is set to, through the user's entry points; an
// empty answer when it took the value, else why not.
std::string Apply(TDialog& d, const TSetting& s) {
    if (s.Action == TDialogAction::Preview) return WritePreview(d, s.Value);
    if (s.Action == TDialogAction::Zoom) return ClickOriginalPane(d, s.Value);
    const TControlTemplate* t = d.Template().Find(s.Id);
    if (!t) return "it has no control " + std::to_string(s.Id);
    const std::string control = "control " + std::to_string(s.Id);
    const std::string refused = control + " does not take \"" + s.Value + "\"";
    switch (t->Kind) {
        case TControlKind::Edit: return d.TypeText(s.Id, s.Value) ? "" : refused;
        case TControlKind::CheckBox:
            if (s.Value != "0" && s.Value != "1") return control + " is a check box: 0 or 1";
            if (d.IsDlgButtonChecked(s.Id) == (s.Value == "1")) return "";
            return d.Click(s.Id) ? "" : refused;
        case TControlKind::RadioButton:
            if (s.Value != "1") return control + " is a radio button: only 1 chooses it";
            return d.Click(s.Id) ? "" : refused;
        case TControlKind::PushButton:
            if (s.Value != "click") return control + " is a button: click";
            return d.Click(s.Id) ? "" : refused;
        case TControlKind::ListBox:
        case TControlKind::DropDownList: {
            int index = -1;
            for (int i = 0; i < d.GetCount(s.Id) && index < 0; ++i)
                if (s.ItemData ? d.GetItemData(s.Id, i) == *s.ItemData
                               : d.GetString(s.Id, i) == s.Value)
                    index = i;
            if (index < 0 && !s.ItemData && !ParseInt(s.Value.c_str(), 0, 1 << 20, &index))
                return refused;
            return d.Select(s.Id, index) ? "" : refused;
        }
        case TControlKind::Slider:
        case TControlKind::SpinScrollBar: {
            int pos;
            if (!ParseInt(s.Value.c_str(), -1000000, 1000000, &pos)) return refused;
            // The thumb let go at the position: dialogs that wait for the release follow.
            if (!d.Scroll(s.Id, SB_THUMBPOSITION, pos)) return refused;
            if (t->Kind == TControlKind::Slider) d.Scroll(s.Id, SB_ENDSCROLL);
            return "";
        }
        case TControlKind::ColorGrid: {
            // A click in the middle of the entry's cell, as the user would choose it.
            int index;
            const TControlState* g = d.State(s.Id);
            if (!ParseInt(s.Value.c_str(), 0, 255, &index) || !g || index >= int(g->Colors.size()))
                return refused;
            const RECT c =
                ColorGridCell(index, t->Rect.right - t->Rect.left, t->Rect.bottom - t->Rect.top);
            const POINT middle{(c.left + c.right) / 2, (c.top + c.bottom) / 2};
            return d.ClickGrid(s.Id, middle, false) ? "" : refused;
        }
        default: return control + " cannot be set";
    }
}

class TScriptRunner;

// Dialogs: each one that opens takes the next `dialog` answer, which must name it.
class TScriptDialogHost : public THeadlessDialogHost {
public:
    explicit TScriptDialogHost(TScriptRunner& runner) : runner_(runner) {}
    int Execute(TDialog& dialog, IWindowHost* parent) override;
    std::deque<TDialogAnswer> Answers;

private:
    TScriptRunner& runner_;
};

struct TMessageAnswer {
    int Line = 0;
    TMbResult Result = TMbResult::Ok;
};

// Message boxes: printed as they come, answered by the `answer` lines.
class TScriptMessageBoxes : public IMessageBoxHost {
public:
    explicit TScriptMessageBoxes(TScriptRunner& runner) : runner_(runner) {}
    TMbResult Show(const std::string& text, const std::string& caption, TMbButtons buttons,
                   TMbIcon icon) override;
    std::deque<TMessageAnswer> Answers;

private:
    TScriptRunner& runner_;
    // Without an answer a box gets the choice that neither writes nor deletes anything.
    THeadlessMessageBoxes defaults_;
};

struct TFileAnswer {
    int Line = 0;
    std::string Path;
    std::optional<std::string> Type; // save: the description of the type chosen
};

// The file dialogs answer with the path of an `open` or `save` line.
class TScriptFileDialogs : public ICommonDialogs {
public:
    explicit TScriptFileDialogs(TScriptRunner& runner) : runner_(runner) {}
    bool GetOpenFileNames(const TFileDialogRequest& request, TFileDialogResult& result) override;
    bool GetSaveFileName(const TFileDialogRequest& request, TFileDialogResult& result) override;
    // The colour of a `pick` line; without one the chooser is cancelled.
    bool ChooseColor(COLORREF& color, TCustomColors&) override {
        if (!Pick) return false;
        color = *Pick;
        Pick.reset();
        return true;
    }
    std::optional<TFileAnswer> Open, Save;
    std::optional<COLORREF> Pick;

private:
    TScriptRunner& runner_;
};

// One document window: the host the view paints into, and the view.
struct TWindow {
    TImageDoc* Doc = nullptr;
    std::unique_ptr<THeadlessWindowHost> Host;
    std::unique_ptr<TImageView> View;
};

class TScriptRunner : public IDocViewFactory {
public:
    TScriptRunner();
    ~TScriptRunner() override;
    TScriptRunner(const TScriptRunner&) = delete;
    TScriptRunner& operator=(const TScriptRunner&) = delete;

    int Run(std::istream& in);

    // A fault found while the editor runs (in a dialog or box answered wrongly): kept until
    // the line's work is done, then reported for the line that gave the answer.
    void Fail(int line, const std::string& reason) {
        if (!failure_) failure_ = TLineError{line, reason};
    }

    // IDocViewFactory.
    void CreateView(TDocument& doc) override;
    void DestroyViews(TDocument& doc) override;
    TDocument* ActiveDocument() const override {
        return windows_.empty() ? nullptr : windows_.back()->Doc;
    }
    void ActivateView(TDocument& doc) override;

private:
    void RunLine(const std::vector<std::string>& w);
    // After every line: every answer given for the line must have been taken.
    void Settle();
    [[noreturn]] void Error(const std::string& reason) const { throw TLineError{line_, reason}; }
    TWindow& Active() const;
    int Int(const std::string& word, int lo, int hi, const char* what) const;
    void Command(int id);
    // A client point of the active view showing image pixel (x, y) at its zoom and scroll.
    POINT ClientPoint(int x, int y) const;
    void Mouse(const std::vector<std::string>& w);
    void Key(const std::vector<std::string>& w);
    void Text(const std::vector<std::string>& w);
    TTextFrame* OpenTextFrame();
    void Dialog(const std::vector<std::string>& w);
    void Print(const std::string& what);
    void PrintPixel(int x, int y);
    void Export(const std::string& path);
    void Option(const std::string& name, const std::string& value);
    void OptionBar(const std::string& field, const std::string& text);
    void PrintOptions() const;
    void Mask(const std::string& path);
    // Scrolls the layer list to the row of layer index and returns the row's middle.
    int LayerRowY(int index);
    void OnActiveChanged();

    TScriptMessageBoxes boxes_{*this};
    TScriptDialogHost dialogs_{*this};
    TScriptFileDialogs files_{*this};
    IMessageBoxHost* oldBoxes_ = nullptr;
    IDialogHost* oldDialogs_ = nullptr;
    ICommonDialogs* oldFiles_ = nullptr;
    TOptions oldOptions_;

    TRecentFiles recent_{""};
    TColorPalette palette_;
    TImageDocManager manager_;
    TCommandRouter router_;
    TLayerListWnd layerList_;
    TToolOptBar optionsBar_;
    std::vector<std::unique_ptr<TWindow>> windows_; // the active one last
    unsigned heldKeys_ = 0;
    int line_ = 0;
    std::optional<TLineError> failure_;
};

int TScriptDialogHost::Execute(TDialog& dialog, IWindowHost* parent) {
    const int id = dialog.Template().ResourceId;
    if (Answers.empty()) {
        const int result = THeadlessDialogHost::Execute(dialog, parent);
        std::printf("dialog: %d \"%s\": not answered, cancelled\n", id, dialog.Caption().c_str());
        return result;
    }
    const TDialogAnswer answer = Answers.front();
    Answers.pop_front();
    bool applied = true;
    QueueScript([&](TDialog& d) {
        if (id != answer.ResourceId) {
            runner_.Fail(answer.Line, "dialog " + std::to_string(answer.ResourceId) +
                                          " was answered, but dialog " + std::to_string(id) +
                                          " \"" + d.Caption() + "\" opened");
            applied = false;
            return int(IDCANCEL);
        }
        for (const TSetting& s : answer.Settings) {
            const std::string why = Apply(d, s);
            if (why.empty()) continue;
            runner_.Fail(answer.Line, "dialog " + std::to_string(id) + ": " + why);
            applied = false;
            return int(IDCANCEL);
        }
        return answer.Ok ? int(IDOK) : int(IDCANCEL);
    });
    const int result = THeadlessDialogHost::Execute(dialog, parent);
    // The dialog refused to close (it told the user why); the user gives up.
    if (applied && answer.Ok && result != IDOK)
        std::printf("dialog: %d \"%s\": stayed open after OK, cancelled\n", id,
                    dialog.Caption().c_str());
    return result;
}

bool Offers(TMbButtons buttons, TMbResult r) {
    switch (buttons) {
        case TMbButtons::Ok: return r == TMbResult::Ok;
        case TMbButtons::YesNo: return r == TMbResult::Yes || r == TMbResult::No;
        case TMbButtons::YesNoCancel:
        case TMbButtons::RecoverDiscardLater: return r != TMbResult::Ok;
    }
    return false;
}

TMbResult TScriptMessageBoxes::Show(const std::string& text, const std::string& caption,
                                    TMbButtons buttons, TMbIcon icon) {
    // One box, one line of output.
    std::string flat = text;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    std::printf("message: %s: %s\n", caption.c_str(), flat.c_str());
    if (Answers.empty()) return defaults_.Show(text, caption, buttons, icon);
    const TMessageAnswer a = Answers.front();
    Answers.pop_front();
    if (!Offers(buttons, a.Result)) {
        runner_.Fail(a.Line, "the message box \"" + caption + "\" does not offer that answer");
        return defaults_.Show(text, caption, buttons, icon);
    }
    return a.Result;
}

bool TScriptFileDialogs::GetOpenFileNames(const TFileDialogRequest& request,
                                          TFileDialogResult& result) {
    if (!Open) return false;
    result.Paths = {Open->Path};
    // The type list stays where it was: a file opens as what its content is.
    result.FilterIndex = request.FilterIndex;
    Open.reset();
    return true;
}

bool TScriptFileDialogs::GetSaveFileName(const TFileDialogRequest& request,
                                         TFileDialogResult& result) {
    if (!Save) return false;
    const TFileAnswer a = *Save;
    Save.reset();
    result.Paths = {a.Path};
    result.FilterIndex = request.FilterIndex;
    if (a.Type) {
        const auto it =
            std::find_if(request.Filters.begin(), request.Filters.end(),
                         [&](const TFileFilter& f) { return f.Description == *a.Type; });
        if (it == request.Filters.end()) {
            runner_.Fail(a.Line, "no savable type is called \"" + *a.Type + "\"");
            return false;
        }
        result.FilterIndex = int(it - request.Filters.begin());
    }
    return true;
}

TScriptRunner::TScriptRunner() : oldOptions_(Options()) {
    // The run starts from the program's defaults and leaves the user's settings alone.
    Options() = TOptions();
    oldBoxes_ = SetMessageBoxHost(&boxes_);
    oldDialogs_ = SetDialogHost(&dialogs_);
    oldFiles_ = SetCommonDialogs(&files_);
    manager_.SetRecentFiles(&recent_);
    manager_.SetViewFactory(this);
    manager_.AskNewImage = [](int& w, int& h, int& bpp) { return RunNewImageDialog(w, h, bpp); };
    manager_.BackgroundColor = [this] { return palette_.BackgroundColor(); };
    manager_.ForegroundColor = [this] { return palette_.ForegroundColor(); };
    manager_.ColorPicked = [this](bool background, COLORREF c) {
        if (background)
            palette_.SetBackgroundColor(c);
        else
            palette_.SetForegroundColor(c);
    };
    layerList_.SetClientHeight(kLayerListHeight);
    OnActiveChanged();
}

TScriptRunner::~TScriptRunner() {
    // Whatever the script left unsaved goes without a question.
    layerList_.SetView(nullptr);
    windows_.clear();
    manager_.SetViewFactory(nullptr);
    SetCommonDialogs(oldFiles_);
    SetDialogHost(oldDialogs_);
    SetMessageBoxHost(oldBoxes_);
    Options() = oldOptions_;
}

void TScriptRunner::CreateView(TDocument& doc) {
    auto* imageDoc = dynamic_cast<TImageDoc*>(&doc);
    if (!imageDoc) return;
    auto w = std::make_unique<TWindow>();
    w->Doc = imageDoc;
    w->Host = std::make_unique<THeadlessWindowHost>(kClientSize);
    w->View = std::make_unique<TImageView>(*imageDoc, *w->Host);
    AttachTools(*w->View);
    AttachEffectCommands(*w->View);
    TImageView* view = w->View.get();
    view->OnToolChanged = [this, view] { optionsBar_.ShowFor(view); };
    w->View->UpdateScrollRanges();
    w->Host->SetFocus(true);
    windows_.push_back(std::move(w));
    OnActiveChanged();
}

void TScriptRunner::DestroyViews(TDocument& doc) {
    for (auto it = windows_.begin(); it != windows_.end();) {
        if ((*it)->Doc != &doc) {
            ++it;
            continue;
        }
        if (layerList_.GetView() == (*it)->View.get()) layerList_.SetView(nullptr);
        it = windows_.erase(it);
    }
    OnActiveChanged();
}

void TScriptRunner::ActivateView(TDocument& doc) {
    const auto it = std::find_if(windows_.begin(), windows_.end(),
                                 [&](const auto& w) { return w->Doc == &doc; });
    if (it == windows_.end()) return;
    std::rotate(it, it + 1, windows_.end());
    OnActiveChanged();
}

void TScriptRunner::OnActiveChanged() {
    TImageView* view = windows_.empty() ? nullptr : windows_.back()->View.get();
    router_.Chain = {view, &manager_};
    layerList_.SetView(view);
    // The view that gets the focus shows its own tool's panel.
    optionsBar_.ShowFor(view);
}

TWindow& TScriptRunner::Active() const {
    if (windows_.empty()) Error("no document is open");
    return *windows_.back();
}

int TScriptRunner::Int(const std::string& word, int lo, int hi, const char* what) const {
    int v;
    if (!ParseInt(word.c_str(), lo, hi, &v))
        Error(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi) + ", not \"" + word + "\"");
    return v;
}

int TScriptRunner::Run(std::istream& in) {
    std::string text;
    try {
        while (std::getline(in, text)) {
            ++line_;
            std::vector<std::string> words;
            try {
                words = Words(text);
            } catch (const std::string& why) {
                Error(why);
            }
            if (words.empty()) continue;
            RunLine(words);
            // Answers wait for the line that brings their dialog or box up.
            if (words[0] != "dialog" && words[0] != "answer" && words[0] != "file" &&
                words[0] != "savefile" && words[0] != "pick")
                Settle();
            std::fflush(stdout);
        }
    } catch (const TLineError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "quillo-tool script: line %d: %s\n", e.Line, e.Reason.c_str());
        return 2;
    }
    return 0;
}

void TScriptRunner::Settle() {
    if (failure_) throw *failure_;
    // Answers are for what the line itself brings up; one left over means the editor
    // did not do what the script expected.
    if (!dialogs_.Answers.empty())
        throw TLineError{
            dialogs_.Answers.front().Line,
            "dialog " + std::to_string(dialogs_.Answers.front().ResourceId) + " was not opened"};
    if (!boxes_.Answers.empty())
        throw TLineError{boxes_.Answers.front().Line, "no message box was shown to answer"};
    if (files_.Open || files_.Save) Error("the editor asked for no file name");
    if (files_.Pick) Error("the editor showed no colour chooser");
}

void TScriptRunner::Command(int id) {
    const TCommandEnabler state = router_.State(id);
    if (!state.Handled) Error("no part of the editor knows command " + std::to_string(id));
    if (!state.Enabled) Error("command " + std::to_string(id) + " is disabled");
    router_.Execute(id);
}

void TScriptRunner::RunLine(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    const size_t n = w.size();
    const auto need = [&](size_t lo, size_t hi, const char* usage) {
        if (n < lo || n > hi) Error(std::string("usage: ") + usage);
    };
    if (verb == "open") {
        need(2, 2, "open PATH");
        const TFileAnswer a{line_, w[1], std::nullopt};
        files_.Open = a;
        Command(CM_FILEOPEN);
    } else if (verb == "file") {
        // For open dialogs a dialog brings up (Underlay's Browse...), not File Open.
        need(2, 2, "file PATH");
        files_.Open = TFileAnswer{line_, w[1], std::nullopt};
    } else if (verb == "new") {
        need(4, 4, "new WIDTH HEIGHT BPP");
        const int width = Int(w[1], 1, 1 << 20, "WIDTH"), height = Int(w[2], 1, 1 << 20, "HEIGHT");
        const int bpp = Int(w[3], 1, 32, "BPP");
        static constexpr int kDepths[] = {1, 4, 8, 16, 24, 32};
        const int* depth = std::find(std::begin(kDepths), std::end(kDepths), bpp);
        if (depth == std::end(kDepths)) Error("BPP must be 1, 4, 8, 16, 24 or 32");
        TDialogAnswer a{line_, IDD_NEWIMAGE, {}, true};
        a.Settings.push_back(TSetting{IDC_UNITS, "", std::intptr_t(UNITS_PIXELS)});
        a.Settings.push_back(TSetting{IDC_WIDTH, std::to_string(width), std::nullopt});
        a.Settings.push_back(TSetting{IDC_HEIGHT, std::to_string(height), std::nullopt});
        a.Settings.push_back(TSetting{IDC_BPP1 + int(depth - kDepths), "1", std::nullopt});
        dialogs_.Answers.push_back(a);
        Command(CM_FILENEW);
    } else if (verb == "window") {
        need(2, 2, "window N");
        const auto& docs = manager_.Documents();
        if (docs.empty()) Error("no document is open");
        const int index = Int(w[1], 1, int(docs.size()), "N");
        ActivateView(*docs[size_t(index - 1)]);
    } else if (verb == "command") {
        need(2, 2, "command ID");
        Command(Int(w[1], 1, 65535, "ID"));
    } else if (verb == "savefile") {
        // For save dialogs a command brings up other than File Save As (Save Palette).
        need(2, 2, "savefile PATH");
        files_.Save = TFileAnswer{line_, w[1], std::nullopt};
    } else if (verb == "pick") {
        need(2, 2, "pick RRGGBB");
        const std::string& hex = w[1];
        char* end = nullptr;
        const unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        if (hex.size() != 6 || *end) Error("the colour must be six hex digits RRGGBB");
        files_.Pick = RGB(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
    } else if (verb == "color") {
        need(3, 3, "color fg|bg RRGGBB");
        const std::string& hex = w[2];
        char* end = nullptr;
        const unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        if (hex.size() != 6 || *end) Error("the colour must be six hex digits RRGGBB");
        const COLORREF c = RGB(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
        if (w[1] == "fg") {
            palette_.SetForegroundColor(c);
            if (!windows_.empty()) Active().View->TextColorChanged();
        } else if (w[1] == "bg")
            palette_.SetBackgroundColor(c);
        else
            Error("usage: color fg|bg RRGGBB");
    } else if (verb == "dialog") {
        Dialog(w);
    } else if (verb == "answer") {
        need(2, 2, "answer yes|no|cancel|ok");
        const std::string a = Lower(w[1]);
        TMbResult r;
        if (a == "yes")
            r = TMbResult::Yes;
        else if (a == "no")
            r = TMbResult::No;
        else if (a == "cancel")
            r = TMbResult::Cancel;
        else if (a == "ok")
            r = TMbResult::Ok;
        else
            Error("usage: answer yes|no|cancel|ok");
        boxes_.Answers.push_back(TMessageAnswer{line_, r});
    } else if (verb == "save") {
        if (n < 2) Error("usage: save PATH [TYPE DESCRIPTION]");
        TFileAnswer a{line_, std::filesystem::absolute(w[1]).string(), std::nullopt};
        if (n > 2) {
            std::string type = w[2];
            for (size_t i = 3; i < n; ++i) type += " " + w[i];
            a.Type = type;
        }
        files_.Save = a;
        Command(CM_FILESAVEAS);
    } else if (verb == "export") {
        need(2, 2, "export PATH");
        Export(w[1]);
    } else if (verb == "option") {
        need(3, 3, "option \"NAME\" VALUE");
        Option(w[1], w[2]);
    } else if (verb == "optionbar" && n == 2 && (w[1] == "collapse" || w[1] == "expand")) {
        // The caption button: it toggles, so it is clicked only when the state differs.
        if (optionsBar_.Collapsed() != (w[1] == "collapse")) optionsBar_.ToggleCollapsed();
    } else if (verb == "optionbar") {
        need(3, 3, "optionbar \"FIELD\" TEXT|collapse|expand");
        OptionBar(w[1], w[2]);
    } else if (verb == "mask") {
        need(2, 2, "mask PATH");
        Mask(w[1]);
    } else if (verb == "print") {
        if (w.size() > 1 && w[1] == "pixel") {
            need(4, 4, "print pixel X Y");
            PrintPixel(Int(w[2], -1000000, 1000000, "X"), Int(w[3], -1000000, 1000000, "Y"));
        } else {
            need(2, 2, "print layers|status|undo|selection|colors|tool|options|pixel");
            Print(w[1]);
        }
    } else if (verb == "visible") {
        need(3, 3, "visible INDEX 0|1");
        TLayeredImageHandler& layers = Active().View->LayerHandler();
        const int index = Int(w[1], 0, std::max(0, layers.Count() - 1), "INDEX");
        const int want = Int(w[2], 0, 1, "the visibility");
        const int y = LayerRowY(index);
        // The eye shows the state already; a click on it toggles.
        if (layers.IsVisible(index) != (want == 1)) layerList_.Click(10, y);
    } else if (verb == "rename") {
        if (n < 3) Error("usage: rename INDEX NAME");
        TLayeredImageHandler& layers = Active().View->LayerHandler();
        const int index = Int(w[1], 0, std::max(0, layers.Count() - 1), "INDEX");
        std::string name = w[2];
        for (size_t i = 3; i < n; ++i) name += " " + w[i];
        // A double click on the name opens the editor; Enter gives the layer what was typed.
        const int y = LayerRowY(index), x = TLayerListWnd::kNameLeft + 10;
        layerList_.Click(x, y);
        layerList_.Click(x, y);
        if (!layerList_.DoubleClick(x, y)) Error("the layer list did not start renaming");
        layerList_.SetRenameText(name);
        layerList_.CommitRename();
    } else if (verb == "press" || verb == "move" || verb == "release" || verb == "drag") {
        Mouse(w);
    } else if (verb == "key") {
        Key(w);
    } else if (verb == "type" || verb == "font" || verb == "commit") {
        Text(w);
    } else if (verb == "tick") {
        need(2, 3, "tick TIMERID [COUNT]");
        const int id = Int(w[1], 1, 65535, "TIMERID");
        const int count = n > 2 ? Int(w[2], 1, 100000, "COUNT") : 1;
        TWindow& win = Active();
        for (int i = 0; i < count; ++i)
            if (!win.Host->FireTimer(id)) Error("timer " + w[1] + " is not running");
    } else {
        Error("unknown command \"" + verb + "\"");
    }
}

void TScriptRunner::Dialog(const std::vector<std::string>& w) {
    if (w.size() < 3) Error("usage: dialog ID CONTROL=VALUE ... ok|cancel");
    TDialogAnswer a{line_, Int(w[1], 1, 65535, "ID"), {}, true};
    const std::string last = Lower(w.back());
    if (last != "ok" && last != "cancel") Error("a dialog line ends with ok or cancel");
    a.Ok = last == "ok";
    for (size_t i = 2; i + 1 < w.size(); ++i) {
        const size_t eq = w[i].find('=');
        if (eq == std::string::npos) Error("\"" + w[i] + "\" is not CONTROL=VALUE");
        const std::string name = Lower(w[i].substr(0, eq)), value = w[i].substr(eq + 1);
        if (name == "preview" || name == "zoom") {
            if (value.empty()) Error(name + "= needs a value");
            TSetting s{0, name == "zoom" ? Lower(value) : value, {}, TDialogAction::Preview};
            if (name == "zoom") s.Action = TDialogAction::Zoom;
            a.Settings.push_back(s);
            continue;
        }
        a.Settings.push_back(TSetting{Int(name, -1, 65535, "CONTROL"), value, {}});
    }
    dialogs_.Answers.push_back(a);
}

int TScriptRunner::LayerRowY(int index) {
    layerList_.Scroll(TLayerListWnd::TScroll::Thumb, index);
    return layerList_.RowTop(index) + TLayerListWnd::kRowHeight / 2;
}

POINT TScriptRunner::ClientPoint(int x, int y) const {
    const TWindow& win = Active();
    const TImageView& view = *win.View;
    const TScrollState& s = win.Host->Scroller();
    // The client pixel where the image pixel begins: below 1:1 several image pixels share
    // one client pixel, and this is the one a user pointing at the pixel would hit (the
    // view's own ImageToClient rounds, which lands on the next pixel there).
    const auto axis = [&](int q, int origin, int scroll) {
        return int(std::floor(q * view.Zoom)) + origin - scroll;
    };
    return POINT{axis(x, view.OriginX, s.PosX * s.UnitX), axis(y, view.OriginY, s.PosY * s.UnitY)};
}

void TScriptRunner::Mouse(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    const size_t coords = verb == "drag" ? 4 : 2;
    if (w.size() < 1 + coords) Error("usage: " + verb + " X Y ...");
    std::vector<POINT> points;
    for (size_t i = 0; i < coords; i += 2)
        points.push_back(
            POINT{Int(w[1 + i], -1000000, 1000000, "X"), Int(w[2 + i], -1000000, 1000000, "Y")});
    TMouseButton button = TMouseButton::Left;
    unsigned keys = heldKeys_;
    int steps = 8;
    for (size_t i = 1 + coords; i < w.size(); ++i) {
        const std::string o = Lower(w[i]);
        if (o == "left")
            button = TMouseButton::Left;
        else if (o == "middle")
            button = TMouseButton::Middle;
        else if (o == "right")
            button = TMouseButton::Right;
        else if (o == "shift")
            keys |= MK_SHIFT;
        else if (o == "ctrl")
            keys |= MK_CONTROL;
        else if (o == "alt")
            keys |= MK_ALT;
        else if (verb == "drag" && i == 1 + coords && ParseInt(o.c_str(), 1, 10000, &steps))
            continue;
        else
            Error("\"" + w[i] + "\" is no button or modifier");
    }
    THeadlessWindowHost& host = *Active().Host;
    const auto client = [&](POINT q) { return ClientPoint(q.x, q.y); };
    const auto press = [&](POINT q) {
        const POINT p = client(q);
        if (p.x < 0 || p.y < 0 || p.x >= kClientSize.cx || p.y >= kClientSize.cy)
            Error("pixel " + std::to_string(q.x) + "," + std::to_string(q.y) +
                  " is not in the view (scroll or zoom first)");
        host.ButtonDown(button, keys, p);
    };
    if (verb == "press") {
        press(points[0]);
    } else if (verb == "move") {
        host.MouseMove(keys, client(points[0]));
    } else if (verb == "release") {
        host.ButtonUp(button, keys, client(points[0]));
    } else {
        press(points[0]);
        const POINT a = points[0], b = points[1];
        for (int i = 1; i <= steps; ++i)
            host.MouseMove(
                keys, client(POINT{a.x + (b.x - a.x) * i / steps, a.y + (b.y - a.y) * i / steps}));
        host.ButtonUp(button, keys, client(b));
    }
}

TTextFrame* TScriptRunner::OpenTextFrame() {
    auto* tools = dynamic_cast<TViewInteraction*>(Active().View->Tools());
    auto* text = tools ? dynamic_cast<TTextPaintTool*>(tools->PaintTool()) : nullptr;
    return text ? text->Frame() : nullptr;
}

void TScriptRunner::Text(const std::vector<std::string>& w) {
    TImageView& view = *Active().View;
    if (w[0] == "font") {
        if (w.size() < 3) Error("usage: font \"FAMILY\" SIZE [bold] [italic] [underline]");
        if (w[1].empty() || w[1].size() > 255) Error("a font face has 1 to 255 characters");
        TToolOptions& o = view.ToolOptions;
        int style = o.TextStyle & ~(TEXT_BOLD | TEXT_ITALIC | TEXT_UNDERLINE);
        for (size_t i = 3; i < w.size(); ++i) {
            const std::string flag = Lower(w[i]);
            if (flag == "bold")
                style |= TEXT_BOLD;
            else if (flag == "italic")
                style |= TEXT_ITALIC;
            else if (flag == "underline")
                style |= TEXT_UNDERLINE;
            else
                Error("a font is bold, italic or underline, not \"" + w[i] + "\"");
        }
        o.TextSize = Int(w[2], 1, 1000, "SIZE");
        o.TextFace = w[1];
        o.TextStyle = style;
        view.TextOptionsChanged();
        return;
    }
    TTextFrame* frame = OpenTextFrame();
    if (!frame) Error("no text frame is open (drag one with the text tool first)");
    if (w[0] == "commit") {
        if (w.size() != 1) Error("usage: commit");
        // A press outside the frame commits; it starts nothing.
        const RECT r = frame->ContentRect();
        const TScrollState& s = Active().Host->Scroller();
        POINT p{r.right - s.PosX * s.UnitX + 1, r.bottom - s.PosY * s.UnitY + 1};
        THeadlessWindowHost& host = *Active().Host;
        host.ButtonDown(TMouseButton::Left, heldKeys_, p);
        host.ButtonUp(TMouseButton::Left, heldKeys_, p);
        return;
    }
    if (w.size() < 2) Error("usage: type TEXT");
    std::string text = w[1];
    for (size_t i = 2; i < w.size(); ++i) text += " " + w[i];
    std::string typed;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            typed += '\n';
            ++i;
        } else {
            typed += text[i];
        }
    }
    if (!frame->Edit().Type(typed)) Error("the text box is full");
}

void TScriptRunner::Key(const std::vector<std::string>& w) {
    if (w.size() < 2 || w.size() > 3) Error("usage: key NAME [down|up]");
    static const std::pair<const char*, int> kNames[] = {
        {"esc", VK_ESCAPE},    {"escape", VK_ESCAPE},  {"delete", VK_DELETE}, {"space", VK_SPACE},
        {"shift", VK_SHIFT},   {"ctrl", VK_CONTROL},   {"alt", VK_MENU},      {"pageup", VK_PRIOR},
        {"pagedown", VK_NEXT}, {"home", VK_HOME},      {"end", VK_END},       {"left", VK_LEFT},
        {"right", VK_RIGHT},   {"up", VK_UP},          {"down", VK_DOWN},     {"enter", VK_RETURN},
        {"tab", VK_TAB},       {"backspace", VK_BACK},
    };
    const std::string name = Lower(w[1]);
    int key = 0;
    for (const auto& [n, code] : kNames)
        if (name == n) key = code;
    if (!key && name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        key = std::toupper(static_cast<unsigned char>(name[0]));
    if (!key) Error("unknown key \"" + w[1] + "\"");
    const std::string how = w.size() > 2 ? Lower(w[2]) : "";
    if (!how.empty() && how != "down" && how != "up") Error("usage: key NAME [down|up]");
    // An open text frame has the keyboard: Esc and Backspace are the edit box's.
    if (TTextFrame* frame = OpenTextFrame(); frame && (key == VK_ESCAPE || key == VK_BACK)) {
        if (how != "up") frame->Edit().Key(key);
        return;
    }
    const unsigned flag = key == VK_SHIFT     ? unsigned(MK_SHIFT)
                          : key == VK_CONTROL ? MK_CONTROL
                          : key == VK_MENU    ? MK_ALT
                                              : 0u;
    THeadlessWindowHost& host = *Active().Host;
    // A modifier held down stays held for the keys and the mouse until it is let go.
    if (how != "up") {
        heldKeys_ |= flag;
        host.KeyDown(key, heldKeys_);
    }
    if (how != "down") {
        heldKeys_ &= ~flag;
        host.KeyUp(key, heldKeys_);
    }
}

void TScriptRunner::Print(const std::string& what) {
    TWindow& win = Active();
    TImageView& view = *win.View;
    TImageData* data = view.GetImageData();
    if (what == "layers") {
        if (data) PrintLayers(data->Image);
    } else if (what == "status") {
        const TScrollState& s = win.Host->Scroller();
        std::printf("title: %s\nmodified: %d\nzoom: %g\nscroll: %d,%d\n",
                    win.Doc->GetTitle().c_str(), win.Doc->IsDirty() ? 1 : 0, view.Zoom,
                    s.PosX * s.UnitX, s.PosY * s.UnitY);
        std::printf("size: %s\nbpp: %s\nlayer: %s\ncursor: %s\n", view.StatusSize().c_str(),
                    view.StatusBpp().c_str(), view.StatusLayerRect().c_str(),
                    view.StatusCursor().c_str());
    } else if (what == "undo") {
        // Newest first, as Undo and Redo take them.
        const int undo = data ? data->UndoCount() : 0, redo = data ? data->RedoCount() : 0;
        std::printf("history: %d undo, %d redo\n", undo, redo);
        for (int i = undo - 1; i >= 0; --i)
            std::printf("undo: %s\n", data->UndoItem(i)->Name.c_str());
        for (int i = redo - 1; i >= 0; --i)
            std::printf("redo: %s\n", data->RedoItem(i)->Name.c_str());
    } else if (what == "selection") {
        RECT r;
        if (view.HasSelection && SelectionBounds(view.SelectionMask, &r))
            std::printf("selection: (%d,%d) - (%d,%d)\n", r.left, r.top, r.right, r.bottom);
        else
            std::printf("selection: none\n");
    } else if (what == "colors") {
        const COLORREF fg = palette_.ForegroundColor(), bg = palette_.BackgroundColor();
        std::printf("colors: fg %02X%02X%02X bg %02X%02X%02X\n", GetRValue(fg), GetGValue(fg),
                    GetBValue(fg), GetRValue(bg), GetGValue(bg), GetBValue(bg));
    } else if (what == "tool") {
        // What the status bar shows for the tool (or the selection) now.
        std::printf("tool: %s\n", view.StatusSelection().c_str());
    } else if (what == "options") {
        PrintOptions();
    } else {
        Error("usage: print layers|status|undo|selection|colors|tool|options|pixel");
    }
}

void TScriptRunner::PrintPixel(int x, int y) {
    TImageData* data = Active().View->GetImageData();
    TLayer* layer = data && data->Image.Count() > 0 ? data->Image.GetCurrentLayer() : nullptr;
    COLORREF c = 0;
    if (!layer || !layer->ReadPixel(x - layer->X, y - layer->Y, &c))
        Error("the pixel is outside the current layer");
    std::printf("pixel %d,%d: %02X%02X%02X", x, y, GetRValue(c), GetGValue(c), GetBValue(c));
    if (layer->BitsPerPixel == 32)
        std::printf(" alpha %u",
                    unsigned(L_RowPtr(layer, y - layer->Y)[size_t(x - layer->X) * 4 + 3]));
    std::printf("\n");
}

void TScriptRunner::Option(const std::string& name, const std::string& value) {
    TToolOptions& o = Active().View->ToolOptions;
    // Names as the options bar labels them, without their units.
    const std::pair<const char*, int*> ints[] = {
        {"retoucher width", &o.RetouchWidth},
        {"tolerance", &o.Tolerance},
        {"color replace", &o.ColorReplace},
        {"line antialiased", &o.LineAntialiased},
        {"rectangle fill style", &o.RectangleFillStyle},
        {"ellipse fill style", &o.EllipseFillStyle},
        {"ellipse antialiased", &o.EllipseAntialiased},
        {"brush width", &o.BrushWidth},
        {"brush smooth", &o.BrushSmooth},
        {"brush antialiased", &o.BrushAntialiased},
        {"clone aligned", &o.CloneAligned},
        {"smudge width", &o.SmudgeWidth},
        {"smudge pressure", &o.SmudgePressure},
        {"airbrush width", &o.AirbrushWidth},
        {"airbrush pressure", &o.AirbrushPressure},
        {"airbrush spacing", &o.AirbrushSpacing},
        {"airbrush dissolve", &o.AirbrushDissolve},
        {"text size", &o.TextSize},
        {"text alignment", &o.TextAlign},
        {"text style flags", &o.TextStyle},
    };
    const std::pair<const char*, double*> doubles[] = {
        {"line width", &o.LineWidth},
        {"rectangle outline width", &o.RectangleWidth},
        {"ellipse outline width", &o.EllipseWidth},
        {"brush soft edge", &o.BrushSoftEdge},
        {"brush spacing", &o.BrushSpacing},
        {"clone spacing", &o.CloneSpacing},
    };
    // The bar shows the same variables: it shows the new value too.
    const std::string key = Lower(name);
    if (key == "text font face") {
        if (value.empty() || value.size() > 255) Error("a font face has 1 to 255 characters");
        o.TextFace = value;
        optionsBar_.Reload();
        Active().View->TextOptionsChanged();
        return;
    }
    for (const auto& [n, field] : ints) {
        if (key == n) {
            *field = Int(value, -1000000, 1000000, "VALUE");
            optionsBar_.Reload();
            // The options bar tells the view of each text change; an open frame follows.
            if (key.rfind("text ", 0) == 0) Active().View->TextOptionsChanged();
            return;
        }
    }
    for (const auto& [n, field] : doubles) {
        if (key == n) {
            char* end = nullptr;
            const double v = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !std::isfinite(v)) Error("VALUE must be a number");
            *field = v;
            optionsBar_.Reload();
            return;
        }
    }
    Error("no tool has the option \"" + name + "\"");
}

void TScriptRunner::PrintOptions() const {
    const TToolOptBar& bar = optionsBar_;
    std::printf("options: %s%s\n", bar.Title().c_str(), bar.Collapsed() ? " (collapsed)" : "");
    // Collapsed, the bar is only its caption.
    if (bar.Collapsed()) return;
    if (bar.FontVisible()) {
        const int font = bar.FontIndex(), align = bar.AlignIndex();
        std::printf("  Font: %s\n", font < 0 ? "" : bar.Fonts()[size_t(font)].c_str());
        std::printf("  Align: %s\n", align < 0 ? "" : TToolOptBar::kAlignNames[align]);
    }
    for (int id : {IDC_OPT_VALUE1, IDC_OPT_VALUE2, IDC_OPT_VALUE3, IDC_OPT_VALUE4}) {
        const TToolOptBar::TField& f = bar.Field(id);
        if (f.Visible)
            std::printf("  %s: %s%s%s\n", f.Label.c_str(), f.Text.c_str(),
                        f.Unit.empty() ? "" : " ", f.Unit.c_str());
    }
    for (int id : {IDC_OPT_FLAG1, IDC_OPT_FLAG2, IDC_OPT_FLAG3, IDC_OPT_FLAG4}) {
        const TToolOptBar::TField& f = bar.Field(id);
        if (f.Visible)
            std::printf("  [%c] %s%s\n", f.Checked ? 'x' : ' ', f.Label.c_str(),
                        f.Enabled ? "" : " (greyed)");
    }
}

void TScriptRunner::OptionBar(const std::string& field, const std::string& text) {
    TToolOptBar& bar = optionsBar_;
    const std::string name = Lower(field);
    if (bar.FontVisible() && name == "font") {
        if (!bar.SelectFont(text)) Error("the font combo does not take \"" + text + "\"");
        return;
    }
    if (bar.FontVisible() && name == "align") {
        for (int i = 0; i < int(std::size(TToolOptBar::kAlignNames)); ++i)
            if (Lower(TToolOptBar::kAlignNames[i]) == Lower(text) && bar.SelectAlign(i)) return;
        Error("Align is Left, Center or Right");
    }
    for (int id : {IDC_OPT_VALUE1, IDC_OPT_VALUE2, IDC_OPT_VALUE3, IDC_OPT_VALUE4}) {
        if (bar.Field(id).Visible && Lower(bar.Field(id).Label) == name) {
            // Typed as a user would: the field's text is replaced by what is typed.
            bar.EditChanged(id, text);
            return;
        }
    }
    for (int id : {IDC_OPT_FLAG1, IDC_OPT_FLAG2, IDC_OPT_FLAG3, IDC_OPT_FLAG4}) {
        const TToolOptBar::TField& f = bar.Field(id);
        if (!f.Visible || Lower(f.Label) != name) continue;
        if (text != "0" && text != "1") Error("\"" + f.Label + "\" is a check box: 0 or 1");
        if (f.Checked == (text == "1")) return;
        if (!f.Enabled) Error("\"" + f.Label + "\" is greyed out");
        bar.Click(id);
        return;
    }
    Error("the panel \"" + bar.Title() + "\" has no field \"" + field + "\"");
}

void TScriptRunner::Mask(const std::string& path) {
    const TImageView& view = *Active().View;
    if (!view.HasSelection || !view.SelectionMask.IsAllocated()) {
        std::printf("mask: no selection, %s not written\n", path.c_str());
        return;
    }
    // A view of the mask's pixels; the file names white as selected.
    BITMAPHANDLE file = view.SelectionMask;
    const L_INT rc = L_SaveBitmap(path.c_str(), &file, FILE_PNG, 1, 0);
    if (rc != SUCCESS) Error("mask " + path + ": " + L_ErrorMessage(rc));
}

void TScriptRunner::Export(const std::string& path) {
    TWindow& win = Active();
    TImageData* data = win.View->GetImageData();
    // The paint brings the display composite up to date; it is what the view shows.
    win.Host->Update();
    BITMAPHANDLE* shown = data ? &data->Image.Composite : nullptr;
    if (!shown || !shown->Flags.Allocated) Error("the view shows no image");
    // A view of the same pixels, not owning them, that carries the image's resolution (the
    // composite is made at the screen's).
    BITMAPHANDLE file = *shown;
    if (const TLayer* bg = data->Image.Layers.At(0)) {
        file.XResolution = bg->XResolution;
        file.YResolution = bg->YResolution;
    }
    // The composite is opaque: the file gets its colours, without an alpha channel.
    const int bpp = shown->BitsPerPixel == 32 ? 24 : 0;
    const L_INT rc = L_SaveBitmap(path.c_str(), &file, FILE_PNG, bpp, 0);
    if (rc != SUCCESS) Error("export " + path + ": " + L_ErrorMessage(rc));
}

} // namespace

int RunScript(std::istream& in) {
    TScriptRunner runner;
    return runner.Run(in);
}

int RunScriptFile(const char* path) {
    if (std::string(path) == "-") return RunScript(std::cin);
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "quillo-tool script: cannot read %s\n", path);
        return 2;
    }
    return RunScript(in);
}
