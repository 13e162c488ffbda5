#include "LayerListWindow.h"

#include <qdrawutil.h>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <functional>

#include "ImageView.h"

namespace {

constexpr int kRow = TLayerListWnd::kRowHeight;

// The name editor: Escape gives up the rename.
class NameEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> OnEscape;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && OnEscape) {
            OnEscape();
            return;
        }
        QLineEdit::keyPressEvent(e);
    }
};

// An open eye: an almond of two curves with a dark pupil.
void DrawEye(QPainter& p, const QRect& box) {
    const QPointF c = QRectF(box).center();
    const qreal w = 6.5, h = 4.5;
    QPainterPath almond;
    almond.moveTo(c.x() - w, c.y());
    almond.quadTo(c.x(), c.y() - 2 * h, c.x() + w, c.y());
    almond.quadTo(c.x(), c.y() + 2 * h, c.x() - w, c.y());
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(almond);
    p.setBrush(QColor(30, 60, 140));
    p.drawEllipse(c, 2.6, 2.6);
}

// The current-layer marker: a small arrow pointing at the name.
void DrawMarker(QPainter& p, const QRect& box) {
    const QPointF c = QRectF(box).center();
    const QPointF arrow[] = {
        {c.x() - 3.5, c.y() - 5.5}, {c.x() + 4, c.y()}, {c.x() - 3.5, c.y() + 5.5}};
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(200, 30, 30));
    p.drawPolygon(arrow, 3);
}

} // namespace

// The painted rows. Mouse and wheel go to the window's logic.
class LayerRows : public QWidget {
public:
    explicit LayerRows(LayerListWindow& owner) : QWidget(&owner), owner_(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QPalette& pal = palette();
        p.fillRect(rect(), pal.window());
        TLayerListWnd& list = owner_.list_;
        const int n = list.Count();
        for (int i = list.FirstVisible(); i < n; ++i) {
            const int y = list.RowTop(i);
            if (y >= height()) break;
            const TLayerListWnd::TRow row = list.Row(i);
            const QRect eye(0, y, TLayerListWnd::kMarkerLeft, kRow);
            const QRect marker(TLayerListWnd::kMarkerLeft, y,
                               TLayerListWnd::kNameLeft - TLayerListWnd::kMarkerLeft, kRow);
            const QRect name(TLayerListWnd::kNameLeft, y,
                             std::max(0, width() - TLayerListWnd::kNameLeft), kRow);
            const QBrush face = pal.button();
            qDrawShadePanel(&p, eye, pal, false, 1, &face);
            qDrawShadePanel(&p, marker, pal, false, 1, &face);
            const QBrush field = row.Selected ? pal.highlight() : pal.base();
            qDrawShadePanel(&p, name, pal, true, 1, &field);
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            if (row.Visible) DrawEye(p, eye);
            if (row.Current) DrawMarker(p, marker);
            p.restore();
            p.setPen(row.Selected ? pal.color(QPalette::HighlightedText)
                                  : pal.color(QPalette::Text));
            const QRect text = name.adjusted(4, 0, -3, 0);
            const QString label = p.fontMetrics().elidedText(QString::fromStdString(row.Name),
                                                             Qt::ElideRight, text.width());
            p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label);
        }
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        const QPoint at = e->position().toPoint();
        owner_.list_.Click(at.x(), at.y());
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        const QPoint at = e->position().toPoint();
        owner_.list_.DoubleClick(at.x(), at.y());
    }

    void wheelEvent(QWheelEvent* e) override {
        const int lines = -e->angleDelta().y() / 120;
        if (lines != 0) owner_.ScrollTo(owner_.list_.FirstVisible() + lines);
        e->accept();
    }

    void resizeEvent(QResizeEvent*) override { owner_.list_.SetClientHeight(height()); }

private:
    LayerListWindow& owner_;
};

LayerListWindow::LayerListWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setWindowTitle(tr("Layers"));
    rows_ = new LayerRows(*this);
    bar_ = new QScrollBar(Qt::Vertical, this);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(rows_, 1);
    layout->addWidget(bar_);

    auto* edit = new NameEdit(rows_);
    editor_ = edit;
    editor_->setMaxLength(TLayerListWnd::kMaxNameLength);
    editor_->hide();
    connect(editor_, &QLineEdit::textEdited, this,
            [this](const QString& text) { list_.SetRenameText(text.toStdString()); });
    // Enter, and the editor losing the focus to anything else, commit.
    connect(editor_, &QLineEdit::editingFinished, this, &LayerListWindow::CommitEditor);
    edit->OnEscape = [this] { list_.CancelRename(); };

    bar_->setSingleStep(1);
    connect(bar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncing_) ScrollTo(value);
    });
    list_.OnChanged = [this] { Sync(); };
    resize(200, 6 * kRow);
    Sync();
}

LayerListWindow::~LayerListWindow() {
    // The child widgets outlive this part of the object (QWidget deletes them later) and
    // the editor reports losing the focus as it goes: nothing may reach us from them.
    editor_->disconnect(this);
    bar_->disconnect(this);
    list_.OnChanged = nullptr;
    list_.CancelRename();
}

void LayerListWindow::SetView(TImageView* view) { list_.SetView(view); }

void LayerListWindow::Refresh() { list_.Refresh(); }

void LayerListWindow::ScrollTo(int first) {
    if (first == list_.FirstVisible()) return;
    if (list_.Scroll(TLayerListWnd::TScroll::Thumb, first) && parentWidget()) {
        // The editor is gone; the keyboard belongs to the main window again.
        parentWidget()->window()->activateWindow();
    }
}

void LayerListWindow::CommitEditor() {
    if (!list_.Renaming()) return;
    list_.SetRenameText(editor_->text().toStdString());
    list_.CommitRename();
}

void LayerListWindow::Sync() {
    syncing_ = true;
    bar_->setRange(0, list_.ScrollMax());
    bar_->setPageStep(std::max(1, list_.VisibleRows()));
    bar_->setValue(list_.FirstVisible());
    bar_->setEnabled(list_.ScrollMax() > 0);
    syncing_ = false;

    if (list_.Renaming()) {
        const QRect place(TLayerListWnd::kNameLeft, list_.RowTop(list_.RenameRow()),
                          std::max(0, rows_->width() - TLayerListWnd::kNameLeft), kRow);
        editor_->setGeometry(place);
        if (!editor_->isVisible()) {
            editor_->setFont(font());
            editor_->setText(QString::fromStdString(list_.RenameText()));
            editor_->selectAll();
            editor_->show();
            editor_->setFocus();
        }
    } else if (editor_->isVisible()) {
        editor_->hide();
    }
    rows_->update();
}
