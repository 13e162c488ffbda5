// The floating tool options bar: a small palette window with its own caption (title,
// collapse button, close box) over one fixed set of controls, of which each panel shows
// a few: four number fields with their names and units, four check boxes, and for the
// text tool a font and an alignment combo. What it shows and stores comes from
// TToolOptBar. It leaves the activation with the main window: a click that does not go
// into a field, moving the window and Enter in a field give it back.
#pragma once

#include <QWidget>

#include "ToolOptBar.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

class ToolOptionsWindow : public QWidget {
    Q_OBJECT
public:
    // A tool window of parent (the main window, which keeps the activation).
    explicit ToolOptionsWindow(QWidget* parent = nullptr);
    ~ToolOptionsWindow() override;

    TToolOptBar& Logic() { return bar_; }
    // The controls, by control id (IDC_OPT_*), for tests.
    QLineEdit* Edit(int id) const;
    QCheckBox* CheckBox(int id) const;
    QComboBox* FontCombo() const { return font_; }
    QComboBox* AlignCombo() const { return align_; }
    QToolButton* CollapseButton() const { return collapse_; }
    QString Title() const;
    // The label of an edit field's name and unit.
    QLabel* NameLabel(int id) const;
    QLabel* UnitLabel(int id) const;

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    friend class OptionsCaption;
    // Brings the controls in line with the logic.
    void Sync();
    // The main window takes the activation back: after a click on a check box, a combo, the
    // caption or beside the controls, and after Enter in a field.
    void GiveBackActivation();
    void FillFonts();

    TToolOptBar bar_;
    QWidget* caption_ = nullptr;
    QWidget* body_ = nullptr;
    QToolButton* collapse_ = nullptr;
    QComboBox* font_ = nullptr;
    QComboBox* align_ = nullptr;
    QLabel* fontLabel_ = nullptr;
    QLabel* alignLabel_ = nullptr;
    QLineEdit* edits_[TToolOptBar::kValueCount] = {};
    QLabel* names_[TToolOptBar::kValueCount] = {};
    QLabel* units_[TToolOptBar::kValueCount] = {};
    QCheckBox* checks_[TToolOptBar::kFlagCount] = {};
    int expandedHeight_ = 0;
    bool syncing_ = false;
};
