// Message boxes as tests script them, and how toolkit failures read when shown.
#include <gtest/gtest.h>

#include "ErrorCodes.h"
#include "ErrorDisplay.h"
#include "MessageBox.h"
#include "support/TestFiles.h"

namespace {

struct ScopedHost {
    THeadlessMessageBoxes host;
    support::TUseMessageBoxes use{host};
};

} // namespace

TEST(HeadlessMessageBoxes, AnswersInQueueOrderThenDeclinesQuestions) {
    ScopedHost s;
    s.host.QueueAnswer(TMbResult::Yes);
    EXPECT_EQ(MessageBoxHost().Show("a", "c", TMbButtons::YesNo, TMbIcon::Exclamation),
              TMbResult::Yes);
    // Unscripted questions must never say yes on the user's behalf.
    EXPECT_EQ(MessageBoxHost().Show("b", "c", TMbButtons::YesNo, TMbIcon::Exclamation),
              TMbResult::No);
    EXPECT_EQ(MessageBoxHost().Show("n", "c", TMbButtons::Ok, TMbIcon::Stop), TMbResult::Ok);
    ASSERT_EQ(s.host.Shown.size(), 3u);
    EXPECT_EQ(s.host.Shown[1].Text, "b");
    EXPECT_EQ(s.host.Shown[1].Result, TMbResult::No);
    EXPECT_EQ(s.host.Shown[2].Icon, TMbIcon::Stop);
}

TEST(ErrorDisplay, ShowsTheToolkitMessageWithTheFilePathWhenThereIsOne) {
    ScopedHost s;
    ShowToolkitError(ERROR_FEATURE_NOT_SUPPORTED, "Quillo");
    ShowToolkitError(ERROR_FILE_FORMAT, "Quillo", "/tmp/a.png");
    ShowToolkitError(-12345, "Quillo");
    const TXLeadLib e("/x/y.qlx", ERROR_FILE_OPEN);
    EXPECT_EQ(e.Code(), ERROR_FILE_OPEN);
    EXPECT_EQ(e.Path(), "/x/y.qlx");
    ShowToolkitError(e, "Quillo");
    ASSERT_EQ(s.host.Shown.size(), 4u);
    EXPECT_EQ(s.host.Shown[0].Text, "Feature not supported!");
    EXPECT_EQ(s.host.Shown[0].Caption, "Quillo");
    EXPECT_EQ(s.host.Shown[0].Icon, TMbIcon::Exclamation);
    EXPECT_EQ(s.host.Shown[0].Buttons, TMbButtons::Ok);
    EXPECT_EQ(s.host.Shown[1].Text, "/tmp/a.png:\nInvalid file format!");
    EXPECT_EQ(s.host.Shown[2].Text, "Internal or Unrecognized Error!");
    EXPECT_STREQ(e.what(), "/x/y.qlx:\nNot able to open file!");
    EXPECT_EQ(s.host.Shown[3].Text, e.what());
}
