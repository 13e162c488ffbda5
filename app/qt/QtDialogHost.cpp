#include "QtDialogHost.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <functional>
#include <memory>

#include "Cursors.h"
#include "HelpWindow.h"
#include "ModelessDialog.h"
#include "QtConvert.h"
#include "WindowHost.h"

namespace {

// Labels without a control to jump to show their text plain.
QString WithoutMnemonic(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

bool TakesFocus(TControlKind kind) {
    return kind != TControlKind::Static && kind != TControlKind::GroupBox &&
           kind != TControlKind::ImagePane && kind != TControlKind::Gauge;
}

// A toolkit bitmap as a Qt image; panes show small crops, so a pixel at a time is enough.
// The dialog logic hands panes opaque bitmaps (32-bit layers come blended over the
// background colour), so the alpha byte is not looked at.
QImage ToImage(const BITMAPHANDLE* b) {
    if (!b || b->Width <= 0 || b->Height <= 0) return {};
    QImage img(b->Width, b->Height, QImage::Format_RGB32);
    for (int y = 0; y < b->Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < b->Width; ++x) {
            const COLORREF c = L_GetPixelColor(b, y, x);
            line[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
    }
    return img;
}

// Paints one bitmap 1:1 with its top left corner at half the free space (rounded toward
// zero), over the window colour: the same offset the dialog logic uses to turn a click
// into an image point.
class TPane : public QWidget {
public:
    using QWidget::QWidget;
    std::function<void(bool right, QPoint pt)> OnClick;

    void SetImage(QImage image) {
        image_ = std::move(image);
        update();
    }
    // The magnifier over panes that zoom on a click, the arrow elsewhere.
    void SetZoomCursor(bool zoom) {
        if (zoom == zoomCursor_) return;
        zoomCursor_ = zoom;
        if (zoom)
            setCursor(CursorFor(18, devicePixelRatioF()));
        else
            unsetCursor();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        if (!image_.isNull())
            p.drawImage(QPoint(std::max(0, (width() - image_.width()) / 2),
                               std::max(0, (height() - image_.height()) / 2)),
                        image_);
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (OnClick && (e->button() == Qt::LeftButton || e->button() == Qt::RightButton))
            OnClick(e->button() == Qt::RightButton, e->position().toPoint());
        QWidget::mousePressEvent(e);
    }

private:
    QImage image_;
    bool zoomCursor_ = false;
};

// The colour table as 16 x 16 cells, each drawn one pixel in from its left and top edge
// so that thin gaps part them; the selected cell gets a highlight frame while the grid has
// the focus. Clicks, double clicks and arrow keys go to the dialog, which moves the
// selection; the widget only shows it.
class TColorGridWidget : public QWidget {
public:
    explicit TColorGridWidget(QWidget* parent) : QWidget(parent) {
        setFocusPolicy(Qt::StrongFocus);
    }
    std::function<void(QPoint pt, bool doubleClick)> OnClick;
    std::function<void(TGridKey key)> OnKey;

    void SetCells(const std::vector<COLORREF>& colors, int selected) {
        colors_ = colors;
        selected_ = selected;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Window));
        for (size_t i = 0; i < colors_.size(); ++i) {
            const RECT c = ColorGridCell(int(i), width(), height());
            const COLORREF v = colors_[i];
            p.fillRect(QRect(QPoint(c.left + 1, c.top + 1), QPoint(c.right - 1, c.bottom - 1)),
                       QColor(GetRValue(v), GetGValue(v), GetBValue(v)));
        }
        if (hasFocus() && selected_ >= 0 && size_t(selected_) < colors_.size()) {
            const RECT c = ColorGridCell(selected_, width(), height());
            p.setPen(palette().color(QPalette::Highlight));
            p.drawRect(QRect(QPoint(c.left, c.top), QPoint(c.right - 1, c.bottom - 1)));
        }
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (OnClick && e->button() == Qt::LeftButton) OnClick(e->position().toPoint(), false);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (OnClick && e->button() == Qt::LeftButton) OnClick(e->position().toPoint(), true);
    }
    void keyPressEvent(QKeyEvent* e) override {
        TGridKey key;
        switch (e->key()) {
            case Qt::Key_Left: key = TGridKey::Left; break;
            case Qt::Key_Right: key = TGridKey::Right; break;
            case Qt::Key_Up: key = TGridKey::Up; break;
            case Qt::Key_Down: key = TGridKey::Down; break;
            default: QWidget::keyPressEvent(e); return;
        }
        if (OnKey) OnKey(key);
    }
    void focusInEvent(QFocusEvent* e) override {
        update();
        QWidget::focusInEvent(e);
    }
    void focusOutEvent(QFocusEvent* e) override {
        update();
        QWidget::focusOutEvent(e);
    }

private:
    std::vector<COLORREF> colors_;
    int selected_ = -1;
};

// A group box's mnemonic moves the focus to the control that follows the box, or to the
// checked button when a radio group follows, as dialogs do; Qt's own rule only looks at
// the box's children, and the controls here are the dialog's.
class TGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;
    std::function<QWidget*()> Next;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Shortcut && Next) {
            if (QWidget* w = Next()) w->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
        return QGroupBox::event(e);
    }
};

// Check boxes and radio buttons take a click anywhere in their rectangle, not only on the
// indicator and the text: dialog layouts give them room, and users click into it.
template <class TButton>
class TWholeRectButton : public TButton {
public:
    using TButton::TButton;

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

class TQtDialogWindow : public QDialog, public IDialogObserver {
public:
    TQtDialogWindow(TDialog& dialog, QWidget* parent);
    // The children are destroyed after this object's members, and the focus moves while
    // they go: the handler must not see that.
    ~TQtDialogWindow() override { disconnect(focusConnection_); }

    void ApplyAll() {
        for (auto it = widgets_.cbegin(); it != widgets_.cend(); ++it) Apply(it.key());
    }

    // IDialogObserver: the widgets follow the dialog's state without reporting it back.
    void ControlChanged(int id) override { Apply(id); }
    void CaptionChanged() override { setWindowTitle(ToQString(dialog_.Caption())); }
    void FocusSet(int id) override {
        QWidget* w = widgets_.value(id);
        if (!w) return;
        applying_ = true;
        w->setFocus(Qt::OtherFocusReason);
        applying_ = false;
    }
    void DialogEnded(int result) override { QDialog::done(result); }

    void reject() override {
        // Escape and the window's close box: the logic decides, as for the Cancel button.
        if (!dialog_.IsOpen() || !dialog_.Click(IDCANCEL)) QDialog::reject();
    }

private:
    void Create(const TControlTemplate& c);
    void SetBuddies();
    void Apply(int id);
    void OnFocusChanged(QWidget* now);
    int IdOf(QWidget* w) const;

    TDialog& dialog_;
    QHash<int, QWidget*> widgets_;
    std::vector<QWidget*> byIndex_; // in template order
    QHash<int, TControlKind> kinds_;
    QHash<int, QButtonGroup*> radioGroups_; // by the radio button's id
    // Set while the host itself moves the focus, which the dialog already knows about.
    bool applying_ = false;
    QMetaObject::Connection focusConnection_;
};

TQtDialogWindow::TQtDialogWindow(TDialog& dialog, QWidget* parent)
    : QDialog(parent), dialog_(dialog) {
    const TDialogTemplate& t = dialog.Template();
    setWindowTitle(ToQString(dialog.Caption()));
    setFixedSize(t.Width, t.Height);
    setObjectName(QStringLiteral("dialog%1").arg(t.ResourceId));
    for (const TControlTemplate& c : t.Controls) Create(c);
    SetBuddies();
    focusConnection_ = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
}

void TQtDialogWindow::Create(const TControlTemplate& c) {
    const int id = c.Id;
    const QString text = ToQString(c.Text);
    QWidget* w = nullptr;
    switch (c.Kind) {
        case TControlKind::Edit: {
            auto* e = new QLineEdit(this);
            connect(e, &QLineEdit::textEdited, this,
                    [this, id](const QString& s) { dialog_.TypeText(id, s.toStdString()); });
            w = e;
            break;
        }
        case TControlKind::CheckBox: {
            auto* b = new TWholeRectButton<QCheckBox>(text, this);
            connect(b, &QAbstractButton::clicked, this, [this, id] { dialog_.Click(id); });
            w = b;
            break;
        }
        case TControlKind::RadioButton: {
            auto* b = new TWholeRectButton<QRadioButton>(text, this);
            // The dialog decides the groups (from the template), not Qt's parent-wide rule.
            b->setAutoExclusive(false);
            const std::vector<int> group = dialog_.RadioGroup(id);
            if (!group.empty()) {
                QButtonGroup*& g = radioGroups_[group.front()];
                if (!g) g = new QButtonGroup(this);
                g->addButton(b);
                radioGroups_[id] = g;
            }
            connect(b, &QAbstractButton::clicked, this, [this, id] { dialog_.Click(id); });
            w = b;
            break;
        }
        case TControlKind::GroupBox: w = new TGroupBox(text, this); break;
        case TControlKind::ListBox: {
            auto* l = new QListWidget(this);
            connect(l, &QListWidget::currentRowChanged, this, [this, id](int row) {
                if (row >= 0) dialog_.Select(id, row);
            });
            w = l;
            break;
        }
        case TControlKind::DropDownList: {
            auto* b = new QComboBox(this);
            connect(b, &QComboBox::activated, this,
                    [this, id](int index) { dialog_.Select(id, index); });
            w = b;
            break;
        }
        case TControlKind::Static: w = new QLabel(text, this); break;
        case TControlKind::PushButton: {
            auto* b = new QPushButton(text, this);
            b->setAutoDefault(false);
            if (id == IDOK) b->setDefault(true);
            connect(b, &QAbstractButton::clicked, this, [this, id] { dialog_.Click(id); });
            w = b;
            break;
        }
        case TControlKind::SpinScrollBar:
        case TControlKind::Slider: {
            QAbstractSlider* s = nullptr;
            if (c.Kind == TControlKind::Slider) {
                auto* slider = new QSlider(Qt::Horizontal, this);
                slider->setTickPosition(QSlider::TicksBelow);
                // A trackbar reports the end of a drag; the dialogs recompute then, and while
                // it is dragged only when that is quick.
                connect(slider, &QSlider::sliderReleased, this,
                        [this, id] { dialog_.Scroll(id, SB_ENDSCROLL); });
                s = slider;
            } else {
                s = new QScrollBar(Qt::Vertical, this);
            }
            const bool slider = c.Kind == TControlKind::Slider;
            connect(s, &QAbstractSlider::actionTriggered, this, [this, id, s, slider](int action) {
                int code = -1;
                switch (action) {
                    case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
                    case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
                    case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
                    case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
                    case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
                    case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
                    case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
                    default: return;
                }
                dialog_.Scroll(id, code, s->sliderPosition());
                if (slider && code != SB_THUMBTRACK) dialog_.Scroll(id, SB_ENDSCROLL);
            });
            w = s;
            break;
        }
        case TControlKind::ImagePane: {
            auto* p = new TPane(this);
            p->OnClick = [this, id](bool right, QPoint pt) {
                dialog_.ClickPane(id, right, POINT{pt.x(), pt.y()});
            };
            w = p;
            break;
        }
        case TControlKind::ColorGrid: {
            auto* g = new TColorGridWidget(this);
            g->OnClick = [this, id](QPoint pt, bool twice) {
                dialog_.ClickGrid(id, POINT{pt.x(), pt.y()}, twice);
            };
            g->OnKey = [this, id](TGridKey key) { dialog_.GridKey(id, key); };
            w = g;
            break;
        }
        case TControlKind::Gauge: {
            auto* g = new QProgressBar(this);
            g->setTextVisible(false);
            w = g;
            break;
        }
    }
    w->setGeometry(c.Rect.left, c.Rect.top, c.Rect.right - c.Rect.left, c.Rect.bottom - c.Rect.top);
    if (!c.Visible) w->hide();
    if (id != IDC_STATIC && !widgets_.contains(id)) {
        widgets_.insert(id, w);
        kinds_.insert(id, c.Kind);
        w->setObjectName(QStringLiteral("control%1").arg(id));
    }
    byIndex_.push_back(w);
}

void TQtDialogWindow::SetBuddies() {
    // A mnemonic on a label jumps to the next control that takes the keyboard, as in any
    // dialog; a label with nothing after it shows its text plain.
    const auto& all = dialog_.Template().Controls;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].Kind == TControlKind::GroupBox) {
            static_cast<TGroupBox*>(byIndex_[i])->Next = [this, i]() -> QWidget* {
                const auto& controls = dialog_.Template().Controls;
                for (size_t k = i + 1; k < controls.size(); ++k) {
                    if (!TakesFocus(controls[k].Kind) || byIndex_[k]->isHidden() ||
                        !byIndex_[k]->isEnabled())
                        continue;
                    if (controls[k].Kind == TControlKind::RadioButton)
                        for (int id : dialog_.RadioGroup(controls[k].Id))
                            if (dialog_.IsDlgButtonChecked(id)) return widgets_.value(id);
                    return byIndex_[k];
                }
                return nullptr;
            };
        }
        if (all[i].Kind != TControlKind::Static) continue;
        auto* label = static_cast<QLabel*>(byIndex_[i]);
        QWidget* buddy = nullptr;
        for (size_t k = i + 1; k < all.size() && !buddy; ++k)
            if (TakesFocus(all[k].Kind)) buddy = byIndex_[k];
        if (buddy)
            label->setBuddy(buddy);
        else
            label->setText(WithoutMnemonic(label->text()));
    }
}

void TQtDialogWindow::Apply(int id) {
    QWidget* w = widgets_.value(id);
    const TControlState* s = dialog_.State(id);
    if (!w || !s) return;
    const QSignalBlocker block(w);
    applying_ = true;
    if (w->isEnabled() != s->Enabled) w->setEnabled(s->Enabled);
    if (w->isHidden() == s->Visible) w->setVisible(s->Visible);
    const QString text = ToQString(s->Text);
    switch (kinds_.value(id)) {
        case TControlKind::Edit: {
            auto* e = static_cast<QLineEdit*>(w);
            // Rewriting an unchanged text would move the caret of the box being typed in.
            if (e->text() != text) e->setText(text);
            // The keyboard refuses what the dialog would refuse, so no key seems lost.
            const auto* had = qobject_cast<const QRegularExpressionValidator*>(e->validator());
            const QString pattern = QString::fromLatin1(EditInputPattern(s->Input));
            if (s->Input == TEditInput::Any) {
                if (had) e->setValidator(nullptr);
            } else if (!had || had->regularExpression().pattern() != pattern) {
                e->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), e));
            }
            if (had && e->validator() != had)
                const_cast<QRegularExpressionValidator*>(had)->deleteLater();
            break;
        }
        case TControlKind::CheckBox:
        case TControlKind::RadioButton: {
            auto* b = static_cast<QAbstractButton*>(w);
            if (b->text() != text) b->setText(text);
            if (b->isChecked() == s->Checked) break;
            // An exclusive group refuses to uncheck its checked button; the dialog's own rule
            // already keeps the group consistent.
            QButtonGroup* g = radioGroups_.value(id);
            if (g) g->setExclusive(false);
            b->setChecked(s->Checked);
            if (g) g->setExclusive(true);
            break;
        }
        case TControlKind::GroupBox: static_cast<QGroupBox*>(w)->setTitle(text); break;
        case TControlKind::Static: {
            auto* l = static_cast<QLabel*>(w);
            const QString shown = l->buddy() ? text : WithoutMnemonic(text);
            if (l->text() != shown) l->setText(shown);
            break;
        }
        case TControlKind::PushButton: static_cast<QPushButton*>(w)->setText(text); break;
        case TControlKind::ListBox: {
            auto* l = static_cast<QListWidget*>(w);
            bool same = l->count() == int(s->Items.size());
            for (int i = 0; same && i < l->count(); ++i)
                same = l->item(i)->text() == ToQString(s->Items[size_t(i)].Text);
            if (!same) {
                l->clear();
                for (const TListItem& item : s->Items) l->addItem(ToQString(item.Text));
            }
            l->setCurrentRow(s->Selection);
            break;
        }
        case TControlKind::DropDownList: {
            auto* b = static_cast<QComboBox*>(w);
            bool same = b->count() == int(s->Items.size());
            for (int i = 0; same && i < b->count(); ++i)
                same = b->itemText(i) == ToQString(s->Items[size_t(i)].Text);
            if (!same) {
                b->clear();
                for (const TListItem& item : s->Items) b->addItem(ToQString(item.Text));
            }
            b->setCurrentIndex(s->Selection);
            break;
        }
        case TControlKind::SpinScrollBar:
        case TControlKind::Slider: {
            auto* sl = static_cast<QAbstractSlider*>(w);
            sl->setRange(s->Min, s->Max);
            sl->setSingleStep(s->LineStep);
            sl->setPageStep(s->PageStep);
            sl->setValue(s->Pos);
            if (auto* trackbar = qobject_cast<QSlider*>(sl)) {
                trackbar->setTickPosition(s->Ruler > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
                trackbar->setTickInterval(s->Ruler);
            }
            break;
        }
        case TControlKind::ImagePane: {
            static_cast<TPane*>(w)->SetImage(ToImage(s->Bitmap));
            static_cast<TPane*>(w)->SetZoomCursor(s->ZoomCursor);
            break;
        }
        case TControlKind::ColorGrid:
            static_cast<TColorGridWidget*>(w)->SetCells(s->Colors, s->Selection);
            break;
        case TControlKind::Gauge: {
            auto* g = static_cast<QProgressBar*>(w);
            g->setRange(s->Min, s->Max);
            g->setValue(s->Pos);
            break;
        }
    }
    applying_ = false;
}

int TQtDialogWindow::IdOf(QWidget* w) const {
    // A combo box or spin may hand the focus to an inner widget.
    for (; w && w != this; w = w->parentWidget()) {
        for (auto it = widgets_.cbegin(); it != widgets_.cend(); ++it)
            if (it.value() == w) return it.key();
    }
    return IDC_STATIC;
}

void TQtDialogWindow::OnFocusChanged(QWidget* now) {
    if (applying_ || !dialog_.IsOpen()) return;
    const int id = IdOf(now);
    if (id != IDC_STATIC) dialog_.Focus(id);
}

// Centred on the frame's window rectangle, halves rounded toward zero; on the screen when
// there is no frame.
void Centre(QDialog& d, QWidget* frame) {
    QRect area;
    if (frame && frame->isVisible())
        area = frame->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isEmpty()) return;
    d.move(area.left() + (area.width() - d.width()) / 2,
           area.top() + (area.height() - d.height()) / 2);
}

std::unique_ptr<QtDialogHost> g_installed;
IDialogHost* g_previous = nullptr;

// Progress windows: shown without a modal loop of their own, while the operation that owns
// them lets Qt handle the waiting events now and then.
class TQtModelessHost : public IModelessHost {
public:
    explicit TQtModelessHost(QWidget* mainWindow) : main_(mainWindow) {}

    void Show(TDialog& dialog, IWindowHost* owner) override {
        auto window = std::make_unique<TQtDialogWindow>(dialog, OwnerOf(owner));
        dialog.BeginExecute(window.get());
        dialog.RunSetup();
        window->ApplyAll();
        if (dialog.CentreOnFrame()) Centre(*window, main_ ? main_.data() : OwnerOf(owner));
        // Modal without a loop of its own: every other window (the frame, an effect dialog
        // showing its preview) ignores input while it is up, and it stays clickable itself,
        // which a disabled owner would not allow its child.
        window->setWindowModality(Qt::ApplicationModal);
        window->show();
        windows_.emplace_back(&dialog, std::move(window));
        // The window appears before the work starts.
        QCoreApplication::processEvents();
    }
    void Destroy(TDialog& dialog) override {
        if (dialog.IsOpen()) dialog.EndDialog(IDCANCEL);
        dialog.FinishExecute();
        std::erase_if(windows_, [&](const auto& w) { return w.first == &dialog; });
    }
    void PumpEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }
    // The window's modality already holds the owner off.
    void EnableOwner(IWindowHost*, bool) override {}

private:
    QWidget* OwnerOf(IWindowHost* owner) const {
        if (auto* w = dynamic_cast<QWidget*>(owner)) return w->window();
        return main_;
    }

    QPointer<QWidget> main_;
    std::vector<std::pair<TDialog*, std::unique_ptr<TQtDialogWindow>>> windows_;
};

std::unique_ptr<TQtModelessHost> g_modeless;
IModelessHost* g_previousModeless = nullptr;

} // namespace

int QtDialogHost::Execute(TDialog& dialog, IWindowHost* parent) {
    QWidget* owner = main_;
    if (auto* w = dynamic_cast<QWidget*>(parent)) owner = w->window();
    TQtDialogWindow window(dialog, owner);
    dialog.BeginExecute(&window);
    dialog.RunSetup();
    window.ApplyAll();
    if (dialog.CentreOnFrame()) Centre(window, main_ ? main_.data() : owner);
    if (dialog.IsOpen()) {
        if (dialog.Focused() != 0) window.FocusSet(dialog.Focused());
        window.exec();
    }
    // The window went away without the logic ending it (the application quit, say).
    if (dialog.IsOpen()) dialog.EndDialog(IDCANCEL);
    const int result = dialog.Result();
    dialog.FinishExecute();
    return result;
}

void InstallQtDialogHost(QWidget* mainWindow) {
    auto host = std::make_unique<QtDialogHost>(mainWindow);
    IDialogHost* old = SetDialogHost(host.get());
    if (!g_installed) g_previous = old;
    g_installed = std::move(host);
    // The Help buttons open the bundled help on the dialog's page.
    QPointer<QWidget> frame(mainWindow);
    SetDialogHelpHandler([frame](int context) { ShowHelp(frame, context); });
    auto modeless = std::make_unique<TQtModelessHost>(mainWindow);
    IModelessHost* oldModeless = SetModelessHost(modeless.get());
    if (!g_modeless) g_previousModeless = oldModeless;
    g_modeless = std::move(modeless);
}

void UninstallQtDialogHost() {
    if (!g_installed) return;
    SetDialogHost(g_previous);
    SetDialogHelpHandler(nullptr);
    g_previous = nullptr;
    g_installed.reset();
    SetModelessHost(g_previousModeless);
    g_previousModeless = nullptr;
    g_modeless.reset();
}
