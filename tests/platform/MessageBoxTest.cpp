// How toolkit failures read when shown.
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
