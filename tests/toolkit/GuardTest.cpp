#include "runtime/Errors.h"
#include "tests/toolkit/ToolkitFixture.h"

#include <QTimer>
#include <stdexcept>

namespace {

using GuardTest = ToolkitTest;

TEST_F(GuardTest, AnErrorIsShownOnceWithItsText) {
    bool after = false;
    tk::Guarded([&] {
        throw std::runtime_error("ファイルが見つかりません");
        after = true;
    });
    EXPECT_FALSE(after);
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルが見つかりません"});
    tk::Guarded([] {});
    EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(GuardTest, AnAbortIsSilentAndAnythingElseIsShown) {
    tk::Guarded([] { throw rt::EAbort(); });
    EXPECT_TRUE(Errors.empty());
    tk::Guarded([] { throw 42; });
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_FALSE(Errors[0].empty());
}

TEST_F(GuardTest, AHandlerThatFailsItselfEndsNothing) {
    int shown = 0;
    tk::SetErrorHandler([&](const std::string&) {
        ++shown;
        throw std::runtime_error("again");
    });
    tk::Guarded([] { throw std::runtime_error("first"); });
    tk::Guarded([] { throw 1; });
    EXPECT_EQ(shown, 2);
}

TEST_F(GuardTest, GuardWrapsHandlersWithOrWithoutTheSignalsArguments) {
    int got = 0;
    auto withArg = tk::Guard([&](int v) { got = v; });
    withArg(7);
    EXPECT_EQ(got, 7);
    auto without = tk::Guard([] { throw std::runtime_error("from a slot"); });
    without(1, 2);
    EXPECT_EQ(Errors, std::vector<std::string>{"from a slot"});
}

TEST_F(GuardTest, LaterShowsTheErrorOnlyAfterTheEventHasReturned) {
    std::vector<std::string> seenInside;
    bool ran = false;
    QTimer::singleShot(0, [&] {
        tk::GuardedLater([] { throw std::runtime_error("paint failed"); });
        seenInside = Errors;
        ran = true;
    });
    Settle();
    ASSERT_TRUE(ran);
    EXPECT_TRUE(seenInside.empty());
    EXPECT_EQ(Errors, std::vector<std::string>{"paint failed"});
    Settle();
    EXPECT_EQ(Errors.size(), 1u);
    tk::GuardedLater([] { throw rt::EAbort(); });
    Settle();
    EXPECT_EQ(Errors.size(), 1u);
}

} // namespace
