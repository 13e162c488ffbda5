// Red eye reduction, the diffused outline and the progress window of long operations, on
// pictures small enough to reason about pixel by pixel.
#include <gtest/gtest.h>

#include "Commands.h"
#include "DiffuseOutline.h"
#include "FilterTestUtil.h"
#include "MessageBox.h"
#include "ModelessDialog.h"
#include "Processing.h"
#include "ProgressDialog.h"
#include "RedEye.h"

using ft::Px;

namespace {

// Saturations on the toolkit's scale: round(255 * (max - min) / max).
constexpr Px kRed{255, 0, 0, 200};
constexpr Px kPaleRed70{255, 185, 185}; // saturation 70
constexpr Px kPaleRed69{255, 186, 186}; // 69
constexpr Px kRed120{255, 135, 135};    // 120
constexpr Px kRed119{255, 136, 136};    // 119
constexpr Px kBlue{0, 0, 255};          // saturated, but not red
constexpr Px kColours[] = {kRed, kPaleRed70, kPaleRed69, kRed120, kRed119, kBlue};

bool IsGray(Px p) { return p.r == p.g && p.g == p.b; }

TEST(RedEye, TakesSaturatedRedsOnlyDownToTheDepthsThresholdAndKeepsAlpha) {
    struct Case {
        int depth;
        bool gray[6]; // per colour above
    };
    const Case cases[] = {
        {1000, {true, true, false, true, true, false}},  // from 70
        {500, {true, false, false, true, false, false}}, // from 120
        {1, {true, false, false, false, false, false}},  // from 170
    };
    for (const Case& c : cases) {
        for (int perspective : {TOP_LEFT, BOTTOM_LEFT}) {
            SCOPED_TRACE(testing::Message()
                         << "depth " << c.depth << " perspective " << perspective);
            TLeadBitmapX b;
            ft::Make(
                b, 6, 2, [](int x, int) { return kColours[x]; }, perspective);
            ASSERT_EQ(RedEyeCorrect(b, c.depth), SUCCESS);
            EXPECT_EQ(b.ViewPerspective, perspective);
            for (int x = 0; x < 6; ++x) {
                const Px p = ft::At(b, x, 1);
                EXPECT_EQ(IsGray(p) && p != kColours[x], c.gray[x]) << "colour " << x << " " << p;
                EXPECT_EQ(p.a, kColours[x].a) << "colour " << x;
            }
        }
    }
}

// Nor the pixels of another record sharing the block (the dialog hands over the layer's).
TEST(RedEye, NeverChangesPixelsOutsideTheSelectedEye) {
    TLeadBitmapX b, shared;
    ft::Make(b, 8, 8, [](int, int) { return kRed; });
    ft::SelectRect(b, {2, 2, 5, 6});
    ASSERT_EQ(shared.ShareX(b), SUCCESS);
    ASSERT_EQ(RedEyeCorrect(shared, 1000), SUCCESS);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 2 && y < 6;
            EXPECT_EQ(ft::At(shared, x, y) == kRed, !inside) << x << "," << y;
            EXPECT_EQ(ft::At(b, x, y), kRed) << x << "," << y;
        }
}

// Alpha of a 20 x 20 layer: 255 with a half-transparent column at x = 19.
Px Layer(int x, int) { return Px{10, 20, 30, x == 19 ? 128 : 255}; }

TEST(DiffuseOutline, FadesTheSelectionTowardsItsEdgeAndKeepsTheRest) {
    TLeadBitmapX src, dst;
    ft::Make(src, 20, 20, Layer);
    ft::SelectRect(src, {2, 2, 18, 18});
    ASSERT_EQ(DiffuseMaxWidth(src), 10);
    ASSERT_EQ(DiffuseOutline(dst, src, 40, DiffuseMaxWidth(src)), SUCCESS); // width 4
    EXPECT_EQ(dst.LogicalBpp, 32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const Px p = ft::At(dst, x, y);
            EXPECT_EQ((Px{p.r, p.g, p.b}), (Px{10, 20, 30})) << x << "," << y;
            const bool inside = x >= 2 && x < 18 && y >= 2 && y < 18;
            if (!inside) {
                EXPECT_EQ(p.a, Layer(x, y).a) << x << "," << y;
            }
        }
    // Along row 10 the alpha rises from the outline to the middle and stays full there.
    int last = -1;
    for (int x = 2; x <= 9; ++x) {
        const int a = ft::At(dst, x, 10).a;
        EXPECT_GE(a, last) << x;
        last = a;
    }
    EXPECT_LE(ft::At(dst, 2, 10).a, 128);
    EXPECT_LT(ft::At(dst, 17, 10).a, 128);
    EXPECT_LT(ft::At(dst, 2, 2).a, ft::At(dst, 2, 10).a); // corners fade from two sides
    EXPECT_EQ(ft::At(dst, 10, 10).a, 255);
}

TEST(DiffuseOutline, AtDepthZeroKeepsTheAlphaAndWithoutASelectionFadesTheLayersEdges) {
    TLeadBitmapX src, dst;
    ft::Make(src, 20, 20, Layer);
    ASSERT_EQ(DiffuseOutline(dst, src, 100, DiffuseMaxWidth(src)), SUCCESS);
    EXPECT_LT(ft::At(dst, 0, 10).a, 100);
    EXPECT_GT(ft::At(dst, 10, 10).a, ft::At(dst, 1, 10).a);
    ft::SelectRect(src, {4, 4, 20, 16});
    ASSERT_EQ(DiffuseOutline(dst, src, 0, DiffuseMaxWidth(src)), SUCCESS);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(ft::At(dst, x, y), Layer(x, y)) << x << "," << y;
}

// The progress window with scripted events and answers.
class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        oldHost_ = SetModelessHost(&host);
        oldBoxes_ = SetMessageBoxHost(&boxes);
        L_SetProcessingThreads(1);
    }
    void TearDown() override {
        SetModelessHost(oldHost_);
        SetMessageBoxHost(oldBoxes_);
        L_SetProcessingThreads(0);
    }
    // Oilify on a picture large enough to report progress many times.
    L_INT RunOilify(TLeadBitmapX& b) {
        ft::Make(b, 64, 200, [](int x, int y) { return Px{x * 4, y, 77}; });
        return RunWithProgress(nullptr, ProgressDialogTemplate(IDD_WATERCOLORPROGRESS, kCaption),
                               [&] { return L_OilifyBitmap(&b, 3); });
    }
    TProgressDialog& Window() { return *static_cast<TProgressDialog*>(host.Current); }

    static constexpr const char* kCaption = "Water Color Effect Progress";
    THeadlessModelessHost host;
    THeadlessMessageBoxes boxes;

private:
    IModelessHost* oldHost_ = nullptr;
    IMessageBoxHost* oldBoxes_ = nullptr;
};

L_INT Outer(L_INT, void*) { return SUCCESS; }

// A command arriving while the operation handles events, and a second progress run, are
// refused: both would work on pixels the running operation still reads.
class TCountingTarget : public ICommandTarget {
public:
    void CommandEnable(TCommandEnabler& ce) override { ce.Enable(); }
    bool Command(int) override { return ++runs, true; }
    int runs = 0;
};

TEST_F(Progress, ShowsEvenPercentagesRefusesOtherWorkMeanwhileAndRestoresTheCallback) {
    L_SetStatusCallBack(Outer, nullptr);
    TCountingTarget target;
    TCommandRouter router;
    router.Chain = {&target};
    std::vector<int> gauge;
    L_INT nested = SUCCESS;
    host.QueuePump([&] {
        router.Execute(15702);
        nested = RunWithProgress(nullptr, ProgressDialogTemplate(1519, kCaption),
                                 [] { return L_INT(SUCCESS); });
    });
    for (int i = 0; i < 150; ++i)
        host.QueuePump([&] { gauge.push_back(Window().State(IDC_PROGRESSGAUGE)->Pos); });
    TLeadBitmapX b;
    EXPECT_EQ(RunOilify(b), SUCCESS);
    EXPECT_EQ(target.runs, 0);
    EXPECT_EQ(nested, ERROR_CANCELLED);
    EXPECT_TRUE(router.Execute(15702));
    EXPECT_GT(host.Pumps, 10);
    EXPECT_EQ(host.OwnerStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(host.Current, nullptr);
    for (size_t i = 0; i < gauge.size(); ++i) {
        EXPECT_EQ(gauge[i] % 2, 0) << i;
        if (i) {
            EXPECT_GE(gauge[i], gauge[i - 1]) << i;
        }
    }
    STATUSCALLBACK now = nullptr;
    L_SetStatusCallBack(nullptr, nullptr, &now);
    EXPECT_EQ(now, &Outer);
}

TEST_F(Progress, CancelAsksAndStopsOnlyOnYes) {
    for (TMbResult answer : {TMbResult::No, TMbResult::Yes}) {
        SCOPED_TRACE(answer == TMbResult::Yes ? "yes" : "no");
        boxes.Shown.clear();
        boxes.QueueAnswer(answer);
        host.QueuePump([&] { Window().Click(IDCANCEL); });
        TLeadBitmapX b;
        const L_INT rc = RunOilify(b);
        EXPECT_EQ(rc, answer == TMbResult::Yes ? ERROR_CANCELLED : SUCCESS);
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0].Text, "Are you sure you want to cancel the operation?");
        EXPECT_EQ(boxes.Shown[0].Caption, kCaption);
        EXPECT_EQ(boxes.Shown[0].Icon, TMbIcon::Exclamation);
    }
}

} // namespace
