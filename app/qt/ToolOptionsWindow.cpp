#include "ToolOptionsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

constexpr int kEditIds[] = {IDC_OPT_VALUE1, IDC_OPT_VALUE2, IDC_OPT_VALUE3, IDC_OPT_VALUE4};
constexpr int kFlagIds[] = {IDC_OPT_FLAG1, IDC_OPT_FLAG2, IDC_OPT_FLAG3, IDC_OPT_FLAG4};
// The frame around the window, in pixels on each side: collapsed, the window is its caption
// and three of them above and below.
constexpr int kBorder = 3;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A combo whose list, however it closes (a choice, Esc, a click elsewhere), hands the
// keyboard back to the main window and so to the image or the open text frame.
class OptionsCombo : public QComboBox {
public:
    OptionsCombo(QWidget* parent, std::function<void()> closed)
        : QComboBox(parent), closed_(std::move(closed)) {}
    void hidePopup() override {
        QComboBox::hidePopup();
        if (closed_) closed_();
    }

private:
    std::function<void()> closed_;
};

} // namespace

// The bar's own small caption: the title, the collapse button and the close box. Dragging
// it moves the window; letting go gives the activation back to the main window.
class OptionsCaption : public QWidget {
public:
    explicit OptionsCaption(ToolOptionsWindow& owner) : QWidget(&owner), owner_(owner) {
        QFont small = font();
        small.setBold(true);
        small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
        setFont(small);
        setFixedHeight(QFontMetrics(small).height() + 6);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Highlight));
        p.setPen(palette().color(QPalette::HighlightedText));
        p.drawText(rect().adjusted(4, 0, -2 * height(), 0), Qt::AlignVCenter | Qt::AlignLeft,
                   owner_.windowTitle());
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        grab_ = e->globalPosition().toPoint() - owner_.pos();
        dragging_ = true;
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (dragging_) owner_.move(e->globalPosition().toPoint() - grab_);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton || !dragging_) return;
        dragging_ = false;
        owner_.GiveBackActivation();
    }

private:
    ToolOptionsWindow& owner_;
    QPoint grab_;
    bool dragging_ = false;
};

ToolOptionsWindow::ToolOptionsWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(Q(bar_.Title()));
    setAutoFillBackground(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    outer->setSpacing(0);
    auto* caption = new OptionsCaption(*this);
    caption_ = caption;
    outer->addWidget(caption_);
    auto* captionRow = new QHBoxLayout(caption_);
    captionRow->setContentsMargins(0, 1, 1, 1);
    captionRow->setSpacing(1);
    captionRow->addStretch(1);
    const int button = caption_->height() - 2;
    collapse_ = new QToolButton(caption_);
    collapse_->setObjectName(QStringLiteral("collapse"));
    collapse_->setFixedSize(button, button);
    collapse_->setFocusPolicy(Qt::NoFocus);
    collapse_->setToolTip(tr("Collapse or expand"));
    auto* close = new QToolButton(caption_);
    close->setObjectName(QStringLiteral("close"));
    close->setFixedSize(button, button);
    close->setFocusPolicy(Qt::NoFocus);
    close->setText(QStringLiteral("\u00D7"));
    captionRow->addWidget(collapse_);
    captionRow->addWidget(close);
    connect(collapse_, &QToolButton::clicked, this, [this] {
        bar_.ToggleCollapsed();
        GiveBackActivation();
    });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        GiveBackActivation();
    });

    body_ = new QWidget(this);
    outer->addWidget(body_, 1);
    auto* grid = new QGridLayout(body_);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    fontLabel_ = new QLabel(tr("Font"), body_);
    font_ = new OptionsCombo(body_, [this] { GiveBackActivation(); });
    font_->setObjectName(QStringLiteral("opt130"));
    alignLabel_ = new QLabel(tr("Align"), body_);
    align_ = new OptionsCombo(body_, [this] { GiveBackActivation(); });
    align_->setObjectName(QStringLiteral("opt131"));
    for (const char* name : TToolOptBar::kAlignNames) align_->addItem(QString::fromLatin1(name));
    for (QComboBox* combo : {font_, align_}) {
        combo->setFocusPolicy(Qt::NoFocus);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(8);
    }
    grid->addWidget(fontLabel_, 0, 0);
    grid->addWidget(font_, 0, 1, 1, 3);
    grid->addWidget(alignLabel_, 1, 0);
    grid->addWidget(align_, 1, 1, 1, 3);
    connect(font_, &QComboBox::activated, this, [this](int index) {
        if (!syncing_ && index >= 0) bar_.SelectFont(font_->itemText(index).toStdString());
        GiveBackActivation();
    });
    connect(align_, &QComboBox::activated, this, [this](int index) {
        if (!syncing_) bar_.SelectAlign(index);
        GiveBackActivation();
    });

    for (int i = 0; i < TToolOptBar::kValueCount; ++i) {
        const int id = kEditIds[i];
        names_[i] = new QLabel(body_);
        edits_[i] = new QLineEdit(body_);
        edits_[i]->setObjectName(QStringLiteral("opt%1").arg(id));
        edits_[i]->setMaxLength(11);
        edits_[i]->setMaximumWidth(QFontMetrics(font()).averageCharWidth() * 9);
        units_[i] = new QLabel(body_);
        grid->addWidget(names_[i], 2 + i, 0);
        grid->addWidget(edits_[i], 2 + i, 1);
        grid->addWidget(units_[i], 2 + i, 2, 1, 2);
        // Only what the user types is stored: the panel writing its values is no edit.
        connect(edits_[i], &QLineEdit::textEdited, this,
                [this, id](const QString& text) { bar_.EditChanged(id, text.toStdString()); });
        connect(edits_[i], &QLineEdit::returnPressed, this, [this] { GiveBackActivation(); });
    }
    for (int i = 0; i < TToolOptBar::kFlagCount; ++i) {
        const int id = kFlagIds[i];
        checks_[i] = new QCheckBox(body_);
        checks_[i]->setObjectName(QStringLiteral("opt%1").arg(id));
        checks_[i]->setFocusPolicy(Qt::NoFocus);
        grid->addWidget(checks_[i], 6 + i / 2, (i % 2) * 2, 1, 2);
        connect(checks_[i], &QCheckBox::clicked, this, [this, id] {
            // The logic decides what the boxes show (Fill off forces Outline on).
            bar_.Click(id);
            Sync();
            GiveBackActivation();
        });
    }
    grid->setRowStretch(8, 1);
    grid->setColumnStretch(3, 1);

    FillFonts();
    int w = 0, h = 0;
    const QFontMetrics fm(font());
    TToolOptBar::ClientSize(fm.averageCharWidth(), fm.height(), &w, &h);
    w = std::max(w, body_->sizeHint().width() + 2 * kBorder);
    expandedHeight_ = std::max(h, body_->sizeHint().height()) + caption_->height() + 2 * kBorder;
    setFixedWidth(w);
    bar_.OnChanged = [this] { Sync(); };
    Sync();
}

ToolOptionsWindow::~ToolOptionsWindow() { bar_.OnChanged = nullptr; }

void ToolOptionsWindow::FillFonts() {
    std::vector<std::string> families;
    for (const QString& family : QFontDatabase::families())
        if (!QFontDatabase::isPrivateFamily(family)) families.push_back(family.toStdString());
    bar_.SetFonts(std::move(families));
}

QLineEdit* ToolOptionsWindow::Edit(int id) const {
    for (int i = 0; i < TToolOptBar::kValueCount; ++i)
        if (kEditIds[i] == id) return edits_[i];
    return nullptr;
}

QLabel* ToolOptionsWindow::NameLabel(int id) const {
    for (int i = 0; i < TToolOptBar::kValueCount; ++i)
        if (kEditIds[i] == id) return names_[i];
    return nullptr;
}

QLabel* ToolOptionsWindow::UnitLabel(int id) const {
    for (int i = 0; i < TToolOptBar::kValueCount; ++i)
        if (kEditIds[i] == id) return units_[i];
    return nullptr;
}

QCheckBox* ToolOptionsWindow::CheckBox(int id) const {
    for (int i = 0; i < TToolOptBar::kFlagCount; ++i)
        if (kFlagIds[i] == id) return checks_[i];
    return nullptr;
}

QString ToolOptionsWindow::Title() const { return windowTitle(); }

void ToolOptionsWindow::Sync() {
    syncing_ = true;
    setWindowTitle(Q(bar_.Title()));
    caption_->update();

    const bool text = bar_.FontVisible();
    for (QWidget* w : {static_cast<QWidget*>(fontLabel_), static_cast<QWidget*>(font_),
                       static_cast<QWidget*>(alignLabel_), static_cast<QWidget*>(align_)})
        w->setVisible(text);
    if (text) {
        const std::vector<std::string>& fonts = bar_.Fonts();
        if (font_->count() != int(fonts.size())) {
            font_->clear();
            for (const std::string& f : fonts) font_->addItem(Q(f));
        }
        font_->setCurrentIndex(bar_.FontIndex());
        align_->setCurrentIndex(bar_.AlignIndex());
    }
    for (int i = 0; i < TToolOptBar::kValueCount; ++i) {
        const TToolOptBar::TField& f = bar_.Field(kEditIds[i]);
        names_[i]->setVisible(f.Visible);
        edits_[i]->setVisible(f.Visible);
        units_[i]->setVisible(f.Visible);
        names_[i]->setText(Q(f.Label));
        units_[i]->setText(Q(f.Unit));
        // Rewriting the text the user is typing would move the cursor.
        if (edits_[i]->text() != Q(f.Text)) edits_[i]->setText(Q(f.Text));
    }
    for (int i = 0; i < TToolOptBar::kFlagCount; ++i) {
        const TToolOptBar::TField& f = bar_.Field(kFlagIds[i]);
        checks_[i]->setVisible(f.Visible);
        checks_[i]->setText(Q(f.Label));
        checks_[i]->setChecked(f.Checked);
        checks_[i]->setEnabled(f.Enabled);
    }

    collapse_->setText(QString::fromUtf8(bar_.ButtonGlyph()));
    body_->setVisible(!bar_.Collapsed());
    setFixedHeight(bar_.Height(expandedHeight_, caption_->height(), 1));
    syncing_ = false;
}

void ToolOptionsWindow::GiveBackActivation() {
    if (QWidget* frame = parentWidget() ? parentWidget()->window() : nullptr)
        frame->activateWindow();
}

void ToolOptionsWindow::mousePressEvent(QMouseEvent* e) {
    // A click beside the fields is no reason to take the keyboard from the image (a click
    // into a field is the field's, and keeps it).
    QWidget::mousePressEvent(e);
    GiveBackActivation();
}
