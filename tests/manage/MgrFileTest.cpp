#include "manage/UInit.h"
#include "manage/UManage.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
