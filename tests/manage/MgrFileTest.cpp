#include "manage/UInit.h"
#include "manage/UManage.h"
#include "tests/TestSupport.h"

#include "runtime/Hooks.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

TEST(ShowMgrFile, CountsTheEntriesAndPassesOverLinesWithoutOne) {
    testing_support::TTempDir exe;
    InitMapMgr(exe.Path());
    EXPECT_EQ(ShowMgrFile().Info, "Mapマネージャの管理ファイルはありません");
    testing_support::WriteAll(MgrFile, {});
    TMgrFileView view = ShowMgrFile();
    EXPECT_TRUE(view.Lines.empty());
    EXPECT_EQ(view.Info, "登録数 0");
    const std::string text = "7,a,b,d,m\r\n\r\n7,short\r\n11,\x93\x8c,\x82\xa0,d,m\r\n";
    testing_support::WriteAll(MgrFile, {text.begin(), text.end()});
    view = ShowMgrFile();
    EXPECT_EQ(view.Lines, (std::vector<std::string>{"a:b", "東:あ"}));
    EXPECT_EQ(view.Info, "登録数 2");
}

TEST(ShowMgrFile, AnUnreadableRegistryIsReportedNotHidden) {
    testing_support::TTempDir exe;
    InitMapMgr(exe.Path());
    // A socket is no directory, so the registry seems to exist, yet it cannot be opened.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(MgrFile.size(), sizeof(addr.sun_path));
    MgrFile.copy(addr.sun_path, MgrFile.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    std::vector<std::string> messages;
    rt::SetShowMessageHook([&](const std::string& m) { messages.push_back(m); });
    const TMgrFileView view = ShowMgrFile();
    rt::SetShowMessageHook(nullptr);
    ::close(fd);
    EXPECT_TRUE(view.Lines.empty());
    EXPECT_EQ(view.Info, "登録数 0");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("エラー"), std::string::npos) << messages[0];
}

} // namespace
