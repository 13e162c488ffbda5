// A multi-line edit box floating over a view's client area, as a text tool types into it.
// The box keeps the text and the caret and takes the keyboard; the view draws the text
// itself (the box's own text is invisible), so what the user sees while typing is what
// is committed. The desktop host gives a real edit widget; TTextEditModel is the same
// behaviour without a window, for tests and the script runner.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LeadDC.h"

// What the box tells its owner. Handlers may destroy the box (OnEscape does), so a box
// calls them last.
class ITextEditEvents {
public:
    virtual ~ITextEditEvents() = default;
    virtual void OnTextChanged() = 0;
    // Esc was pressed; nothing is inserted.
    virtual void OnEscape() = 0;
    // An insertion would pass the box's limit and was refused; pasted: it was a paste.
    virtual void OnMaxText(bool pasted) = 0;
    // The mouse on the box's border (client coordinates of the view): press, drag, release.
    enum class TBorder { Press, Drag, Release };
    virtual void OnBorderMouse(TBorder /*phase*/, POINT /*client*/) {}
    // What the border does at a point: 0 nothing, 1 moves the box, 2 to 9 size it from the
    // left, right, top, bottom, top-left, top-right, bottom-left, bottom-right.
    virtual int BorderHit(POINT /*client*/) const { return 0; }
};

struct TEditFont {
    std::string Family;
    int PixelHeight = 12; // the em
    int LineHeight = 0;   // the distance between lines the view lays out; 0: the font's own
    bool Bold = false, Italic = false;
};

class ITextEdit {
public:
    virtual ~ITextEdit() = default;
    // The box's outer rectangle in client coordinates; the text area is inset by border.
    virtual void SetGeometry(const RECT& frame, int border) = 0;
    virtual void SetFont(const TEditFont& font) = 0;
    // 0 left, 0x40 centred, 0x80 right.
    virtual void SetAlignment(int align) = 0;
    // The caret's colour.
    virtual void SetColor(COLORREF color) = 0;
    virtual void SetText(const std::string& utf8) = 0;
    virtual std::string Text() const = 0;
    // The most characters (code points) the box holds.
    virtual void SetLimit(int chars) = 0;
    virtual void Focus() = 0;
    // Types text at the caret as the keyboard would ("\n" a new line), replacing the
    // selection; true when it went in.
    virtual bool Type(std::string_view utf8) = 0;
    // Pastes text at the caret; false (and OnMaxText) when it does not fit.
    virtual bool Paste(std::string_view utf8) = 0;
    // A key the box handles itself: VK_BACK, VK_ESCAPE.
    virtual void Key(int vk) = 0;
    // Where the view's layout starts lines that no line end starts (byte offsets into
    // Text(), ascending). The box breaks its lines there and nowhere else, so its caret and
    // selection sit on the lines the view draws.
    virtual void SetLineStarts(const std::vector<size_t>& starts) = 0;
};

// The box without a window: text, caret at the end, limit.
class TTextEditModel : public ITextEdit {
public:
    explicit TTextEditModel(ITextEditEvents* events) : events_(events) {}
    void SetGeometry(const RECT& frame, int border) override {
        Frame = frame;
        Border = border;
    }
    void SetFont(const TEditFont& font) override { Font = font; }
    void SetAlignment(int align) override { Align = align; }
    void SetColor(COLORREF color) override { Color = color; }
    void SetText(const std::string& utf8) override;
    std::string Text() const override { return text_; }
    void SetLimit(int chars) override { limit_ = chars; }
    void Focus() override { Focused = true; }
    bool Type(std::string_view utf8) override;
    bool Paste(std::string_view utf8) override;
    void Key(int vk) override;
    void SetLineStarts(const std::vector<size_t>& starts) override { LineStarts = starts; }

    RECT Frame{};
    int Border = 0;
    TEditFont Font;
    int Align = 0;
    COLORREF Color = 0;
    bool Focused = false;
    std::vector<size_t> LineStarts;

private:
    bool Insert(std::string_view utf8, bool pasted);
    ITextEditEvents* events_;
    std::string text_;
    int limit_ = 32767;
};

// Characters (code points) in UTF-8 text.
size_t Utf8Length(std::string_view s);
// The index after the character at i.
size_t Utf8Next(std::string_view s, size_t i);
