#include "QtTextEdit.h"

#include "WindowHost.h"

#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>

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
        // Lines break only where the view's layout breaks them (soft line separators put in
        // by SetLineStarts), never by the widget's own metrics.
        setLineWrapMode(QTextEdit::NoWrap);
        setWordWrapMode(QTextOption::ManualWrap);
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

    // The text as typed: paragraphs end in "\n", the soft breaks are not part of it.
    QString Logical() const {
        QString raw = document()->toRawText();
        if (!raw.isEmpty() && raw.back() == QChar::ParagraphSeparator) raw.chop(1);
        raw.remove(QChar::LineSeparator);
        raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        raw.replace(QChar::Nbsp, QLatin1Char(' '));
        return raw;
    }
    static QString Typed(QString s) {
        // A line separator typed or pasted is a line end like any other: the widget's own
        // ones are the view's wrapping and come and go with it.
        s.replace(QChar::LineSeparator, QLatin1Char('\n'));
        return s;
    }
    int Length() const { return int(Logical().toUcs4().size()); }
    // Whether text can replace the selection without passing the limit.
    bool Fits(const QString& text) const {
        const QTextCursor c = textCursor();
        QString sel = c.selectedText();
        sel.remove(QChar::LineSeparator);
        const int selected = int(sel.toUcs4().size());
        return Length() - selected + int(text.toUcs4().size()) <= limit_;
    }
    QChar At(int pos) const { return document()->characterAt(pos); }

    // A fixed line height steps every line by exactly the view's distance, but the widget
    // sets each line's baseline four fifths of the way down and so moves its top by the
    // rest of the font's ascent. A document top margin of that amount, whole pixels because
    // the widget rounds it, puts each line's top, and the caret, where the view draws it.
    void AlignFirstLine() {
        qreal top = 0;
        const QTextBlockFormat line = document()->firstBlock().blockFormat();
        if (line.lineHeightType() == QTextBlockFormat::FixedHeight) {
            QTextDocument probe;
            probe.setDocumentMargin(0);
            probe.setDefaultFont(document()->defaultFont());
            QTextCursor(&probe).setBlockFormat(line);
            probe.documentLayout()->documentSize(); // lays it out
            const QTextLayout* layout = probe.firstBlock().layout();
            const qreal y = layout && layout->lineCount() > 0 ? layout->lineAt(0).y() : 0;
            top = std::ceil(-y - 0.5);
        }
        QTextFrame* root = document()->rootFrame();
        QTextFrameFormat f = root->frameFormat();
        if (f.topMargin() == top) return;
        f.setTopMargin(top);
        root->setFrameFormat(f);
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
        if (newline) {
            // Shift+Enter too: the widget would put in a line separator, which is a soft
            // break here and would go at the next relayout.
            e->accept();
            insertPlainText(QStringLiteral("\n"));
            return;
        }
        // Backspace and Delete next to a soft break take the character beyond it: the
        // break itself comes back at once.
        QTextCursor c = textCursor();
        if (!c.hasSelection()) {
            if (e->key() == Qt::Key_Backspace && c.position() > 0 &&
                At(c.position() - 1) == QChar::LineSeparator) {
                c.movePosition(QTextCursor::PreviousCharacter);
                setTextCursor(c);
            } else if (e->key() == Qt::Key_Delete && At(c.position()) == QChar::LineSeparator) {
                c.movePosition(QTextCursor::NextCharacter);
                setTextCursor(c);
            }
        }
        QTextEdit::keyPressEvent(e);
    }
    QMimeData* createMimeDataFromSelection() const override {
        auto* data = new QMimeData;
        QString text = textCursor().selectedText();
        text.remove(QChar::LineSeparator);
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        data->setText(text);
        return data;
    }
    void insertFromMimeData(const QMimeData* source) override {
        const QString text = Typed(source->text());
        if (source->hasText() && !Fits(text)) {
            if (events_) events_->OnMaxText(true);
            return;
        }
        QTextEdit::insertPlainText(text);
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
    // The view's line distance, so the caret moves down as the drawn lines do.
    QTextBlockFormat bf;
    if (font.LineHeight > 0)
        bf.setLineHeight(font.LineHeight, QTextBlockFormat::FixedHeight);
    else
        bf.setLineHeight(100, QTextBlockFormat::SingleHeight);
    QTextCursor all(edit_->document());
    all.select(QTextCursor::Document);
    all.mergeBlockFormat(bf);
    QTextCursor typing = edit_->textCursor();
    typing.mergeBlockFormat(bf);
    edit_->AlignFirstLine();
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
    return edit_ ? edit_->Logical().toStdString() : std::string();
}

void QtTextEdit::SetLineStarts(const std::vector<size_t>& starts) {
    if (!edit_) return;
    QTextDocument* doc = edit_->document();
    // Where the breaks belong in the document: the logical UTF-16 position of each start
    // plus the breaks before it.
    const std::string utf8 = Text();
    std::vector<int> want;
    want.reserve(starts.size());
    size_t byte = 0;
    int units = 0;
    for (const size_t start : starts) {
        if (start > utf8.size()) break;
        for (; byte < start; byte = Utf8Next(utf8, byte))
            units += (static_cast<unsigned char>(utf8[byte]) >= 0xF0) ? 2 : 1;
        want.push_back(units + int(want.size()));
    }
    const QString raw = doc->toRawText();
    std::vector<int> have;
    for (int i = 0; i < raw.size(); ++i)
        if (raw.at(i) == QChar::LineSeparator) have.push_back(i);
    if (have == want) return; // the usual key: nothing moves
    QTextCharFormat invisible;
    invisible.setForeground(QBrush(Qt::transparent));
    edit_->quiet_ = true;
    QTextCursor c(doc);
    // One undo step with the edit that moved the breaks, so undoing it brings both back.
    c.joinPreviousEditBlock();
    for (auto it = have.rbegin(); it != have.rend(); ++it) {
        c.setPosition(*it);
        c.deleteChar();
    }
    for (const int pos : want) {
        c.setPosition(pos);
        c.insertText(QString(QChar::LineSeparator), invisible);
    }
    c.endEditBlock();
    edit_->quiet_ = false;
}

void QtTextEdit::SetLimit(int chars) {
    if (edit_) edit_->limit_ = chars;
}

void QtTextEdit::Focus() {
    if (edit_) edit_->setFocus(Qt::OtherFocusReason);
}

bool QtTextEdit::Type(std::string_view utf8) {
    if (!edit_) return false;
    const QString all =
        QtTextEditWidget::Typed(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
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
    const QString text =
        QtTextEditWidget::Typed(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
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
    if (vk == VK_BACK) {
        QTextCursor c = edit_->textCursor();
        if (!c.hasSelection() && c.position() > 0 &&
            edit_->At(c.position() - 1) == QChar::LineSeparator)
            c.movePosition(QTextCursor::PreviousCharacter);
        c.deletePreviousChar();
    }
}
