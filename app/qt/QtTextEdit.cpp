#include "QtTextEdit.h"

#include "WindowHost.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>

// The edit widget: keeps its text invisible, refuses what passes the limit, and hands
// Esc to the owner instead of inserting it.
class QtTextEditWidget : public QTextEdit {
public:
    QtTextEditWidget(QWidget* parent, ITextEditEvents* events)
        : QTextEdit(parent), events_(events) {
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setLineWrapMode(QTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        document()->setDocumentMargin(0);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setAttribute(Qt::WA_TranslucentBackground);
        setStyleSheet("QTextEdit { background: transparent; }");
        Invisible();
        connect(this, &QTextEdit::textChanged, this, [this] {
            if (!events_ || quiet_) return;
            events_->OnTextChanged();
        });
    }

    // Every character, and whatever is typed next, draws in no colour at all.
    void Invisible() {
        quiet_ = true;
        QTextCharFormat f;
        f.setForeground(QBrush(Qt::transparent));
        QTextCursor all(document());
        all.select(QTextCursor::Document);
        all.mergeCharFormat(f);
        mergeCurrentCharFormat(f);
        quiet_ = false;
    }

    int Length() const { return int(toPlainText().toUcs4().size()); }
    // Whether text can replace the selection without passing the limit.
    bool Fits(const QString& text) const {
        const QTextCursor c = textCursor();
        const int selected = int(c.selectedText().toUcs4().size());
        return Length() - selected + int(text.toUcs4().size()) <= limit_;
    }

    ITextEditEvents* events_;
    int limit_ = 32767;
    bool quiet_ = false;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) {
            e->accept();
            if (events_) events_->OnEscape(); // ends the tool: nothing may follow
            return;
        }
        const bool newline = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const QString text = newline ? QStringLiteral("\n") : e->text();
        if (!text.isEmpty() && (newline || text.at(0).isPrint()) && !Fits(text)) {
            e->accept();
            if (events_) events_->OnMaxText(false);
            return;
        }
        QTextEdit::keyPressEvent(e);
    }
    void insertFromMimeData(const QMimeData* source) override {
        if (source->hasText() && !Fits(source->text())) {
            if (events_) events_->OnMaxText(true);
            return;
        }
        QTextEdit::insertPlainText(source->text());
    }
};

// The frame around the edit widget: transparent (the view paints the border and the
// grips) but it takes the mouse on the border.
class QtTextEditFrame : public QWidget {
public:
    QtTextEditFrame(QWidget* parent, ITextEditEvents* events) : QWidget(parent), events_(events) {
        setAttribute(Qt::WA_NoSystemBackground);
        setAutoFillBackground(false);
        setMouseTracking(true);
    }
    ITextEditEvents* events_;

protected:
    POINT Client(QMouseEvent* e) const {
        const QPoint p = mapToParent(e->position().toPoint());
        return POINT{p.x(), p.y()};
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (events_ && e->button() == Qt::LeftButton)
            events_->OnBorderMouse(ITextEditEvents::TBorder::Press, Client(e));
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!events_) return;
        if (e->buttons() & Qt::LeftButton) {
            events_->OnBorderMouse(ITextEditEvents::TBorder::Drag, Client(e));
            return;
        }
        static const Qt::CursorShape kShapes[] = {
            Qt::ArrowCursor,     Qt::SizeAllCursor,  Qt::SizeHorCursor,   Qt::SizeHorCursor,
            Qt::SizeVerCursor,   Qt::SizeVerCursor,  Qt::SizeFDiagCursor, Qt::SizeBDiagCursor,
            Qt::SizeBDiagCursor, Qt::SizeFDiagCursor};
        const int hit = events_->BorderHit(Client(e));
        setCursor(kShapes[hit >= 0 && hit <= 9 ? hit : 0]);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (events_ && e->button() == Qt::LeftButton)
            events_->OnBorderMouse(ITextEditEvents::TBorder::Release, Client(e));
    }
};

QtTextEdit::QtTextEdit(QWidget* viewport, ITextEditEvents* events) : viewport_(viewport) {
    frame_ = new QtTextEditFrame(viewport, events);
    edit_ = new QtTextEditWidget(frame_, events);
    frame_->show();
    edit_->show();
}

QtTextEdit::~QtTextEdit() {
    // The box may be going from inside its own key handler (Esc): the widgets are
    // deleted later, and from now on they tell no one anything.
    if (edit_) {
        edit_->events_ = nullptr;
        const bool hadFocus = edit_->hasFocus();
        edit_->hide();
        if (hadFocus && viewport_ && viewport_->parentWidget())
            viewport_->parentWidget()->setFocus();
    }
    if (frame_) {
        frame_->events_ = nullptr;
        frame_->hide();
        frame_->deleteLater();
    }
}

QTextEdit* QtTextEdit::Widget() const { return edit_; }

void QtTextEdit::SetGeometry(const RECT& frame, int border) {
    if (!frame_ || !edit_) return;
    frame_->setGeometry(frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
    edit_->setGeometry(border, border, std::max(1, int(frame.right - frame.left - 2 * border)),
                       std::max(1, int(frame.bottom - frame.top - 2 * border)));
}

void QtTextEdit::SetFont(const TEditFont& font) {
    if (!edit_) return;
    QFont f(QString::fromStdString(font.Family));
    f.setPixelSize(std::max(1, font.PixelHeight));
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    edit_->quiet_ = true;
    edit_->document()->setDefaultFont(f);
    edit_->setFont(f);
    edit_->quiet_ = false;
}

void QtTextEdit::SetAlignment(int align) {
    if (!edit_) return;
    const Qt::Alignment a = (align & 0x40)   ? Qt::AlignHCenter
                            : (align & 0x80) ? Qt::AlignRight
                                             : Qt::AlignLeft;
    edit_->quiet_ = true;
    QTextOption o = edit_->document()->defaultTextOption();
    o.setAlignment(a);
    edit_->document()->setDefaultTextOption(o);
    QTextCursor all(edit_->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat bf;
    bf.setAlignment(a);
    all.mergeBlockFormat(bf);
    edit_->quiet_ = false;
}

void QtTextEdit::SetColor(COLORREF color) {
    if (!edit_) return;
    // The caret takes the text colour of the palette; the glyphs stay transparent.
    QPalette p = edit_->palette();
    p.setColor(QPalette::Text, QColor(GetRValue(color), GetGValue(color), GetBValue(color)));
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Highlight, QColor(51, 153, 255, 90));
    p.setColor(QPalette::HighlightedText, Qt::transparent);
    edit_->setPalette(p);
}

void QtTextEdit::SetText(const std::string& utf8) {
    if (!edit_) return;
    edit_->setPlainText(QString::fromStdString(utf8));
    edit_->Invisible();
}

std::string QtTextEdit::Text() const {
    return edit_ ? edit_->toPlainText().toStdString() : std::string();
}

void QtTextEdit::SetLimit(int chars) {
    if (edit_) edit_->limit_ = chars;
}

void QtTextEdit::Focus() {
    if (edit_) edit_->setFocus(Qt::OtherFocusReason);
}

bool QtTextEdit::Type(std::string_view utf8) {
    if (!edit_) return false;
    const QString all = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    for (const QChar c : all) {
        const QString one(c);
        if (!edit_->Fits(one)) {
            if (edit_->events_) edit_->events_->OnMaxText(false);
            return false;
        }
        edit_->insertPlainText(one);
    }
    return true;
}

bool QtTextEdit::Paste(std::string_view utf8) {
    if (!edit_) return false;
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (!edit_->Fits(text)) {
        if (edit_->events_) edit_->events_->OnMaxText(true);
        return false;
    }
    edit_->insertPlainText(text);
    return true;
}

void QtTextEdit::Key(int vk) {
    if (!edit_) return;
    if (vk == VK_ESCAPE) {
        if (edit_->events_) edit_->events_->OnEscape();
        return;
    }
    if (vk == VK_BACK) edit_->textCursor().deletePreviousChar();
}
