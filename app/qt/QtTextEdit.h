// The text tool's edit box on the desktop: a borderless, transparent QTextEdit inside a
// frame widget over the view's viewport. The view draws the text itself, so the widget's
// own glyphs are invisible; it shows the caret and the selection and takes the keys.
// Mouse drags on the frame's border move or size it through the owner.
#pragma once

#include <QPointer>
#include <QTextEdit>

#include "TextEdit.h"

class QtTextEditWidget;
class QtTextEditFrame;

class QtTextEdit : public ITextEdit {
public:
    QtTextEdit(QWidget* viewport, ITextEditEvents* events);
    ~QtTextEdit() override;

    void SetGeometry(const RECT& frame, int border) override;
    void SetFont(const TEditFont& font) override;
    void SetAlignment(int align) override;
    void SetColor(COLORREF color) override;
    void SetText(const std::string& utf8) override;
    std::string Text() const override;
    void SetLimit(int chars) override;
    void Focus() override;
    bool Type(std::string_view utf8) override;
    bool Paste(std::string_view utf8) override;
    void Key(int vk) override;
    void SetLineStarts(const std::vector<size_t>& starts) override;

    // The widget that takes the keys (for tests).
    QTextEdit* Widget() const;

private:
    QPointer<QtTextEditFrame> frame_;
    QPointer<QtTextEditWidget> edit_;
    QPointer<QWidget> viewport_;
};
