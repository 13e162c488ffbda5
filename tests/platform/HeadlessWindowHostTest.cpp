#include <gtest/gtest.h>

#include "HeadlessWindowHost.h"

TEST(HeadlessWindowHost, ScrollerStaysWithinTheContent) {
    THeadlessWindowHost host({100, 80});
    host.SetUnits(2, 2);
    host.SetRange(100, 50); // 200 x 100 pixels of content
    host.ScrollTo(1000, -5);
    EXPECT_EQ(host.Scroller().PosX, 50);
    EXPECT_EQ(host.Scroller().PosY, 0);
    EXPECT_TRUE(host.IsScrollBarShown(TScrollBar::Horizontal));
    host.SetRange(40, 30); // shrinking the content pulls the position back
    EXPECT_EQ(host.Scroller().PosX, 0);
    EXPECT_FALSE(host.IsScrollBarShown(TScrollBar::Horizontal));
}

TEST(HeadlessWindowHost, InvalidationsAreDroppedWithRedrawOffAndPaintedOnce) {
    struct Client : IWindowClient {
        void OnPaint(const RECT& rc) override { painted.push_back(rc); }
        void OnTimer(int id) override { timers.push_back(id); }
        std::vector<RECT> painted;
        std::vector<int> timers;
    } client;
    THeadlessWindowHost host({100, 80});
    host.SetClient(&client);
    host.SetRedraw(false);
    host.Invalidate(RECT{0, 0, 10, 10});
    host.Update();
    EXPECT_TRUE(client.painted.empty());
    host.SetRedraw(true);
    host.Invalidate(RECT{10, 10, 20, 20});
    host.Invalidate(RECT{-5, 30, 5, 200});
    host.Update();
    host.Update();
    ASSERT_EQ(client.painted.size(), 1u);
    EXPECT_EQ(client.painted[0].left, 0);
    EXPECT_EQ(client.painted[0].bottom, 80);

    host.SetTimer(7, 50);
    EXPECT_TRUE(host.FireTimer(7));
    host.KillTimer(7);
    EXPECT_FALSE(host.FireTimer(7));
    EXPECT_EQ(client.timers, std::vector<int>{7});
    host.Resize({30, 20});
    ASSERT_NE(host.BackingStore(), nullptr);
    EXPECT_EQ(host.BackingStore()->Width, 30);
    EXPECT_EQ(host.BackingStore()->BitsPerPixel, 32);
    host.SetClient(nullptr);
}
