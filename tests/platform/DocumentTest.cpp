// The document base and templates: titles, file matching, Save As and view notices, and
// the wait cursor.
#include <gtest/gtest.h>

#include "DocTemplate.h"
#include "Document.h"
#include "WaitCursor.h"

TEST(DocTemplate, MatchesItsPatternsIgnoringCase) {
    TDocTemplate jpeg("JPEG images", "*.jpg;*.jff", "jpg", DT_OVERWRITEPROMPT);
    EXPECT_TRUE(jpeg.MatchesPath("/a/b/photo.JPG"));
    EXPECT_TRUE(jpeg.MatchesPath("x.jff"));
    EXPECT_FALSE(jpeg.MatchesPath("x.jpgx"));
    EXPECT_FALSE(jpeg.MatchesPath("jpg"));
    EXPECT_FALSE(jpeg.IsOpenOnly());
    TDocTemplate pcd("PhotoCD images", "*.pcd", "pcd", DT_READONLY);
    EXPECT_TRUE(pcd.IsOpenOnly());
}

TEST(Document, PathGivesTitleAndSaveAsGoesToTheHandler) {
    TDocument doc;
    EXPECT_FALSE(doc.SaveAs()); // no manager: nothing can be chosen
    std::vector<TDocEvent> events;
    doc.AddListener([&](TDocument&, TDocEvent e) { events.push_back(e); });
    ASSERT_TRUE(doc.Open(OM_READ, "/home/u/pictures/cat.png"));
    EXPECT_EQ(doc.GetTitle(), "cat.png");
    EXPECT_EQ(doc.GetOpenMode(), OM_READ);
    doc.NotifyViews(TDocEvent::Closed);
    EXPECT_EQ(events, std::vector<TDocEvent>{TDocEvent::Closed});

    doc.SetDirty();
    doc.SaveAsHandler = [](TDocument& d) {
        d.SetDocPath("/tmp/other.png");
        d.SetDirty(false);
        return true;
    };
    EXPECT_TRUE(doc.SaveAs());
    EXPECT_FALSE(doc.IsDirty());
    EXPECT_EQ(doc.GetTitle(), "other.png");
}

TEST(WaitCursor, ShowsUntilTheOutermostGuardEnds) {
    static std::vector<bool> calls;
    calls.clear();
    TWaitCursor::SetHook([](bool busy) { calls.push_back(busy); });
    try {
        TWaitCursor outer;
        {
            TWaitCursor inner;
            EXPECT_EQ(TWaitCursor::Depth(), 2);
        }
        throw 1;
    } catch (int) {}
    TWaitCursor::SetHook(nullptr);
    EXPECT_EQ(TWaitCursor::Depth(), 0);
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}
