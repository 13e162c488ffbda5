// Dialog logic on controls by id: what the user's actions raise, radio groups, what the
// rendering side hears, and the scripted host.
#include <gtest/gtest.h>

#include <utility>

#include "Dialog.h"

namespace {

using K = TControlKind;

TControlTemplate Ctl(int id, K kind, bool group = false, bool visible = true) {
    TControlTemplate c;
    c.Id = id;
    c.Kind = kind;
    c.GroupStart = group;
    c.Visible = visible;
    c.Rect = RECT{0, 0, 10, 10};
    return c;
}

// Two radio groups separated by a check box, an edit, a spin, a slider, a list, a hidden
// button and the standard buttons.
TDialogTemplate TestTemplate() {
    TDialogTemplate t{500, "Test", 200, 100, {}};
    t.Controls = {Ctl(10, K::RadioButton, true), Ctl(11, K::RadioButton),
                  Ctl(12, K::RadioButton),       Ctl(20, K::CheckBox, true),
                  Ctl(21, K::RadioButton, true), Ctl(22, K::RadioButton),
                  Ctl(30, K::Edit, true),        Ctl(31, K::Edit),
                  Ctl(40, K::SpinScrollBar),     Ctl(41, K::Slider),
                  Ctl(50, K::DropDownList),      Ctl(60, K::PushButton, true, false),
                  Ctl(IDOK, K::PushButton),      Ctl(IDCANCEL, K::PushButton),
                  Ctl(IDHELP, K::PushButton)};
    return t;
}

// Logs every event as (id, code); vertical scrolls as (id, 1000 + code), horizontal
// as (id, 2000 + code).
class TRecordingDialog : public TDialog {
public:
    TRecordingDialog() : TDialog(TestTemplate()) {}
    std::vector<std::pair<int, int>> Events;
    // The events raised since the last call.
    std::vector<std::pair<int, int>> Take() { return std::exchange(Events, {}); }
    bool AllowClose = true;

protected:
    void EvCommand(int id, int code) override {
        Events.emplace_back(id, code);
        TDialog::EvCommand(id, code);
    }
    void EvVScroll(int id, int code) override { Events.emplace_back(id, 1000 + code); }
    void EvHScroll(int id, int code) override { Events.emplace_back(id, 2000 + code); }
    bool CanClose() override { return AllowClose; }
};

struct TObserver : IDialogObserver {
    std::vector<int> Changed;
    int Ended = 0;
    void ControlChanged(int id) override { Changed.push_back(id); }
    void DialogEnded(int result) override { Ended = result; }
};

// A dialog opened as a host opens it, without any host.
struct OpenDialog {
    TRecordingDialog d;
    TObserver observer;
    OpenDialog() {
        d.BeginExecute(&observer);
        d.RunSetup();
        d.Events.clear();
        observer.Changed.clear();
    }
};

// The ids among the radio buttons and the check box that are checked.
std::vector<int> Checked(const TDialog& d) {
    std::vector<int> ids;
    for (int id : {10, 11, 12, 20, 21, 22})
        if (d.IsDlgButtonChecked(id)) ids.push_back(id);
    return ids;
}

} // namespace

TEST(Dialog, RadioButtonsCheckExclusivelyWithinTheirOwnGroup) {
    OpenDialog o;
    TDialog& d = o.d;
    d.Click(21);
    d.Click(11);
    EXPECT_EQ(Checked(d), (std::vector<int>{11, 21})); // another group
    d.Click(12);
    EXPECT_EQ(Checked(d), (std::vector<int>{12, 21}));
    EXPECT_EQ(d.RadioGroup(11), (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(d.RadioGroup(22), (std::vector<int>{21, 22}));

    // A check box toggles; clicking a checked radio button keeps it checked but still reports.
    d.Click(20);
    EXPECT_EQ(Checked(d), (std::vector<int>{12, 20, 21}));
    d.Click(20);
    o.d.Take();
    d.Click(12);
    EXPECT_EQ(Checked(d), (std::vector<int>{12, 21}));
    EXPECT_EQ(o.d.Take(), (std::vector<std::pair<int, int>>{{12, BN_CLICKED}}));

    // Hidden, disabled and missing controls cannot be clicked and raise nothing.
    EXPECT_FALSE(d.Click(60));
    d.EnableControl(10, false);
    EXPECT_FALSE(d.Click(10));
    EXPECT_FALSE(d.Click(99));
    EXPECT_FALSE(d.TypeText(10, "x"));
    EXPECT_TRUE(o.d.Take().empty());
    EXPECT_EQ(Checked(d), (std::vector<int>{12, 21}));
}

TEST(Dialog, UserActionsRaiseTheirNotificationsInWindowOrder) {
    OpenDialog o;
    TDialog& d = o.d;
    using E = std::vector<std::pair<int, int>>;
    d.TypeText(30, "12");
    EXPECT_EQ(d.GetDlgItemText(30), "12");
    EXPECT_EQ(o.d.Take(), (E{{30, EN_SETFOCUS}, {30, EN_CHANGE}}));

    // Leaving the edit for a button: the edit hears it lost the focus before the click.
    d.Click(20);
    EXPECT_EQ(o.d.Take(), (E{{30, EN_KILLFOCUS}, {20, BN_CLICKED}}));
    EXPECT_EQ(d.Focused(), 20);

    d.AddString(50, "a", 7);
    d.AddString(50, "b", 9);
    EXPECT_TRUE(d.Select(50, 1));
    EXPECT_FALSE(d.Select(50, 2));
    EXPECT_EQ(d.GetItemData(50, d.GetSelIndex(50)), 9);
    EXPECT_EQ(o.d.Take(), (E{{50, CBN_SELCHANGE}}));

    // Scroll bars move by their steps inside their range, then report: vertical for spins,
    // horizontal for sliders.
    d.SetRange(40, 1, 10);
    d.SetPosition(40, 5);
    d.SetLineStep(40, 3);
    const int moves[][3] = {
        {SB_LINEDOWN, 0, 8}, {SB_LINEDOWN, 0, 10}, {SB_PAGEUP, 0, 1}, {SB_THUMBTRACK, 4, 4}};
    for (const auto& m : moves) {
        d.Scroll(40, m[0], m[1]);
        EXPECT_EQ(d.GetPosition(40), m[2]) << m[0];
    }
    d.SetRange(41, -1800, 1800);
    d.Scroll(41, SB_THUMBPOSITION, 450);
    d.Scroll(41, SB_ENDSCROLL);
    EXPECT_EQ(d.GetPosition(41), 450);
    EXPECT_EQ(o.d.Events, (E{{40, 1000 + SB_LINEDOWN},
                             {40, 1000 + SB_LINEDOWN},
                             {40, 1000 + SB_PAGEUP},
                             {40, 1000 + SB_THUMBTRACK},
                             {41, 2000 + SB_THUMBPOSITION},
                             {41, 2000 + SB_ENDSCROLL}}));
}

TEST(Dialog, LogicChangesReachTheRendererButRaiseNoEvents) {
    OpenDialog o;
    TDialog& d = o.d;
    d.SetDlgItemText(31, "abc");
    d.SetDlgItemText(31, "abc"); // unchanged: nothing to redraw
    d.CheckDlgButton(10, true);
    d.SetPosition(40, 50);
    d.ShowControl(60, true);
    EXPECT_TRUE(o.d.Events.empty());
    EXPECT_EQ(o.observer.Changed, (std::vector<int>{31, 10, 40, 60}));
    EXPECT_EQ(d.GetDlgItemText(31, 2), "ab");
    EXPECT_TRUE(d.Click(60)); // shown now, so reachable
}

TEST(Dialog, OkClosesOnlyWhenTheLogicAgreesAndCancelAlways) {
    {
        OpenDialog o;
        o.d.AllowClose = false;
        o.d.Click(IDOK);
        EXPECT_TRUE(o.d.IsOpen());
        o.d.Click(IDCANCEL);
        EXPECT_FALSE(o.d.IsOpen());
        EXPECT_EQ(o.observer.Ended, IDCANCEL);
        EXPECT_EQ(o.d.Result(), IDCANCEL);
        // A closed dialog takes no more input.
        EXPECT_FALSE(o.d.Click(10));
    }
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    TRecordingDialog ok;
    host.QueueScript([](TDialog& d) {
        d.Click(11);
        return IDOK;
    });
    EXPECT_EQ(ok.Execute(), IDOK);
    EXPECT_TRUE(ok.IsDlgButtonChecked(11));

    TRecordingDialog refused;
    refused.AllowClose = false;
    host.QueueScript([](TDialog&) { return IDOK; });
    EXPECT_EQ(refused.Execute(), IDCANCEL); // stuck open: the host gives up

    TRecordingDialog unscripted;
    EXPECT_EQ(unscripted.Execute(), IDCANCEL);
    ASSERT_EQ(host.Shown.size(), 3u);
    EXPECT_EQ(host.Shown[0].ResourceId, 500);
    EXPECT_EQ(host.Shown[0].Result, IDOK);
    SetDialogHost(old);
}
