// Finding the optional about-box library at run time.
#include <gtest/gtest.h>

#include "AboutBox.h"

namespace {

TEST(AboutBoxLibrary, MissingLibrariesAndLibrariesWithoutTheEntryAreSkipped) {
    {
        TAboutLibrary none({"/nonexistent/libKestrel32.so", "libQuilloNoSuchLibrary.so"});
        EXPECT_EQ(none.Entry(), nullptr);
        EXPECT_EQ(none.Path(), "");
    }
    // The C library loads, but it is not an about box.
    TAboutLibrary wrong({"libc.so.6"});
    EXPECT_EQ(wrong.Entry(), nullptr);
    EXPECT_EQ(wrong.Path(), "");
}

#ifdef QUILLO_ABOUT_LIBRARY_BUILT
// The build puts the library beside the programs, where the editor looks first.
TEST(AboutBoxLibrary, TheBuiltLibraryIsFoundBesideTheProgram) {
    const std::vector<std::string> candidates = AboutLibraryCandidates();
    ASSERT_GE(candidates.size(), 2u);
    EXPECT_EQ(candidates.back(), AboutLibraryName);

    TAboutLibrary library;
    ASSERT_NE(library.Entry(), nullptr);
    EXPECT_EQ(library.Path(), candidates.front());

    // A wrong first candidate is passed over for the next one.
    TAboutLibrary second({"libc.so.6", candidates.front()});
    EXPECT_EQ(second.Path(), candidates.front());
    EXPECT_NE(second.Entry(), nullptr);

    // Without a running Qt application the library must decline instead of aborting.
    library.Entry()(nullptr, "QuilloDef.ini");
}
#endif

} // namespace
