// Ending signals reach the window thread through the pipe, in order, and the handlers that
// were there before come back.
#include <gtest/gtest.h>

#include <signal.h>

#include "SignalPipe.h"

TEST(SignalPipe, CaughtSignalsArriveInOrderAndTheOldHandlersComeBack) {
    struct sigaction before {};
    ::sigaction(SIGHUP, nullptr, &before);
    {
        TSignalPipe pipe({SIGTERM, SIGHUP});
        ASSERT_GE(pipe.ReadFd(), 0);
        EXPECT_TRUE(pipe.Take().empty()) << "nothing yet, and no wait for it";
        ::raise(SIGHUP); // the default action would end the test program
        ::raise(SIGTERM);
        EXPECT_EQ(pipe.Take(), (std::vector<int>{SIGHUP, SIGTERM}));
        EXPECT_TRUE(pipe.Take().empty());
    }
    struct sigaction after {};
    ::sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}
