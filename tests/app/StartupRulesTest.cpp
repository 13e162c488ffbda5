// Command line, window placement and the progress gauge at start-up.
#include <gtest/gtest.h>

#include "ProfileFile.h"
#include "StartupRules.h"

// Readable failure messages.
void PrintTo(const TStartupAction& a, std::ostream* os) {
    *os << int(a.Kind) << ":\"" << a.Text << '"';
}

namespace {

using K = TStartupAction::TKind;
using Actions = std::vector<TStartupAction>;

TEST(StartupCommandLine, UnregisterOptionsStopEverythingAfterThem) {
    for (const char* opt : {"/u", "-UNREG", "/", "-", "/Unregister"})
        EXPECT_EQ(ParseCommandLine({"a.bmp", opt, "b.bmp"}),
                  (Actions{{K::OpenFile, "a.bmp"}, {K::Unregister, ""}}))
            << opt;
    // Longer than the word: not the option, and ignored like any unknown one.
    EXPECT_EQ(ParseCommandLine({"/unregistered", "-x"}), (Actions{{K::RegisterFileTypes, ""}}));
}

TEST(StartupCommandLine, FilesAndInstanceNames) {
    EXPECT_EQ(ParseCommandLine({"photo", "photo.bmp", "/aFoo", "-Abc", "", "/v1.2/photo", "/u.png",
                                "/u/x", "dir.d/photo"}),
              (Actions{{K::OpenFile, "photo."},
                       {K::OpenFile, "photo.bmp"},
                       {K::SetInstanceName, "aFoo"},
                       {K::SetInstanceName, "Abc"},
                       {K::OpenFile, "/v1.2/photo."},
                       {K::OpenFile, "/u.png"},
                       {K::OpenFile, "/u/x."},
                       {K::OpenFile, "dir.d/photo."},
                       {K::RegisterFileTypes, ""}}));
    EXPECT_EQ(ParseCommandLine({}), (Actions{{K::RegisterFileTypes, ""}}));
}

TEST(StartupPlacement, DefaultsToTheMiddleOfTheScreenAndRoundTrips) {
    const auto box = [](const TPlacement& p) {
        return std::vector<long>{p.IsMaximized, p.Box.left, p.Box.top, p.Box.right, p.Box.bottom};
    };
    const RECT r = DefaultPlacement(1024, 768);
    EXPECT_EQ((std::vector<long>{r.left, r.top, r.right, r.bottom}),
              (std::vector<long>{128, 96, 896, 672}));
    EXPECT_EQ(box(ReadPlacement(TProfileFile(), 1024, 768)),
              (std::vector<long>{false, 128, 96, 896, 672}));
    TProfileFile damaged("[Placement]\nPlacementBox=1 2\nIsMaximized=yes\n");
    EXPECT_EQ(box(ReadPlacement(damaged, 800, 600)), (std::vector<long>{false, 100, 75, 700, 525}));

    TPlacement pl;
    pl.IsMaximized = true;
    pl.Box = {-4, 10, 700, 500};
    TProfileFile out;
    WritePlacement(out, pl);
    EXPECT_EQ(out.Text(), "[Placement]\nIsMaximized=1\nPlacementBox=-4 10 700 500\n");
    EXPECT_EQ(box(ReadPlacement(out, 1024, 768)), box(pl));
}

struct ProgressFixture : ::testing::Test {
    uint64_t now = 1000;
    TProgressRecorder gauge;
    TProgressRule rule{gauge, [this] { return now; }};
};

TEST_F(ProgressFixture, QuickOperationsStayHiddenSlowOnesShow) {
    EXPECT_EQ(rule.OnProgress(0), 1);
    now += 100;
    rule.OnProgress(50); // 2 ms per percent
    EXPECT_FALSE(rule.Visible());
    EXPECT_TRUE(gauge.Values().empty());

    rule.OnProgress(0);
    now += 100;
    rule.OnProgress(10); // 10 ms per percent
    EXPECT_TRUE(rule.Visible());
    now += 1;
    rule.OnProgress(20); // once shown it stays, however fast it goes on
    EXPECT_EQ(gauge.Values(), (std::vector<int>{10, 20}));
    EXPECT_EQ(gauge.Events.back().Kind, TProgressRecorder::TKind::Repaint);
}

TEST_F(ProgressFixture, RepeatsAndSameTickReportsAreSkippedButTheEndResetsTheGauge) {
    rule.OnProgress(0);
    now += 300;
    rule.OnProgress(30);
    rule.OnProgress(40); // same tick
    now += 5;
    rule.OnProgress(30); // repeat
    rule.OnProgress(99); // same tick, but it ends the operation
    EXPECT_EQ(gauge.Values(), (std::vector<int>{30, 99, 0}));
    rule.OnProgress(0);
    EXPECT_FALSE(rule.Visible());
    EXPECT_EQ(gauge.Events.back().Kind, TProgressRecorder::TKind::Hide);

    // Even a fast operation shows its end, so the gauge is left empty.
    gauge.Events.clear();
    now += 2;
    EXPECT_EQ(TProgressRule::StatusCallBack(100, &rule), 1);
    EXPECT_EQ(gauge.Values(), (std::vector<int>{100, 0}));
}

} // namespace
