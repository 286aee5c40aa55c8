#include "manage/UInit.h"
#include "manage/UManage.h"
#include "runtime/Encoding.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "tests/TestSupport.h"

#include <deque>
#include <gtest/gtest.h>

using testing_support::OpenDescriptorCount;
using testing_support::ReadAll;
using testing_support::TTempDir;
using testing_support::WriteAll;

namespace {

// The registration's failure message, its cause on the second line.
std::string Failed(const std::string& cause) {
    return "CD-ROMの管理ファイルが読み込めませんでした\n" + cause;
}
const std::string kAsk = "はすでに登録されています。現在の設定を変更しますか？";

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class Manage : public ::testing::Test {
protected:
    void SetUp() override {
        Cwd = rt::GetCurrentDir();
        InitMapMgr(Exe.Path());
    }
    void TearDown() override {
        EXPECT_EQ(rt::GetCurrentDir(), Cwd);
        EXPECT_FALSE(rt::FileExists(MgrFile + ".new"));
    }

    // A map-image disc at name whose index file holds bytes; returns its data directory.
    std::string MakeDisc(const std::string& name, const std::string& index,
                         const std::string& dataName = "Data") {
        std::string data = Disc.File(name) + "/" + dataName;
        std::filesystem::create_directories(data);
        WriteAll(data + "/Index.csv", Bytes(index));
        WriteAll(data + "/Kanri.csv", {});
        return data;
    }
    std::string Registry() const {
        auto b = ReadAll(MgrFile);
        return {b.begin(), b.end()};
    }
    std::string Entry(const std::string& k1, const std::string& k2, const std::string& data) {
        return "7," + k1 + "," + k2 + "," + data + "," + Exe.Path() + "/Gsi25kMI" + k1 + ".txt\r\n";
    }

    TTempDir Exe, Disc;
    std::string Cwd;
    testing_support::TScriptedBoxes Boxes;
    std::vector<std::string>& Messages = Boxes.Messages;
    std::vector<std::string>& Questions = Boxes.Questions;
    std::deque<bool>& Answers = Boxes.Answers;
    std::function<void()>& BeforeAnswer = Boxes.BeforeAnswer;
};

} // namespace

TEST_F(Manage, InitSetsThePathsAndReportsAnUnusableDirectory) {
    EXPECT_EQ(ExeDir, Exe.Path() + "/");
    EXPECT_EQ(MgrFile, Exe.Path() + "/Mapmgr/Mapmgr.txt");
    EXPECT_TRUE(rt::DirectoryExists(MgrDir));
    InitMapMgr(Exe.Path() + "/"); // a second start finds it and says nothing
    EXPECT_TRUE(Messages.empty());

    TTempDir other;
    WriteAll(other.File("Mapmgr"), {}); // a file where the directory should be
    InitMapMgr(other.Path());
    EXPECT_EQ(Messages, std::vector<std::string>{"Mapマネージャのディレクトリが作成できません"});
    EXPECT_EQ(MgrFile, other.Path() + "/Mapmgr/Mapmgr.txt");
    MakeMgrMI(MakeDisc("a", "k,v\r\n"));
    EXPECT_EQ(Messages.back(), Failed("不正なファイル名です"));
}

TEST_F(Manage, RecognisesDiscKindsWhateverTheCaseOfTheirNames) {
    const std::string data = MakeDisc("img", "k,v\r\n");
    std::string root = Disc.File("img");
    EXPECT_EQ(GetMapKind(root), kMapKindImage25k);
    EXPECT_EQ(root, data);
    root = Disc.File("img") + "/";
    EXPECT_EQ(GetMapKind(root), kMapKindImage25k);
    EXPECT_EQ(root, data); // joined without a second "/"

    std::filesystem::create_directories(Disc.File("up/DATA"));
    WriteAll(Disc.File("up/DATA/INDEX.CSV"), {});
    WriteAll(Disc.File("up/DATA/KANRI.CSV"), {});
    root = Disc.File("up");
    EXPECT_EQ(GetMapKind(root), kMapKindImage25k);
    EXPECT_EQ(root, Disc.File("up/DATA"));

    MakeDisc("both", "");
    WriteAll(Disc.File("both/zumei.CSV"), {});
    root = Disc.File("both");
    EXPECT_EQ(GetMapKind(root), kMapKindMesh50m);
    EXPECT_EQ(root, Disc.File("both"));

    MakeDisc("half", "");
    std::filesystem::remove(Disc.File("half/Data/Kanri.csv"));
    std::filesystem::create_directory(Disc.File("half/Zumei.csv")); // not a file
    for (std::string none : {Disc.File("half"), std::string(), Disc.File("none")}) {
        root = none;
        EXPECT_EQ(GetMapKind(root), kMapKindUnknown);
        EXPECT_EQ(root, none);
    }
}

TEST_F(Manage, RegistersDiscsInOrderAndAppendsASecondOne) {
    const std::string a = MakeDisc("a", "\"5339\",\"\x93\x8c\x8b\x9e\",x\r\n5340,y\r\n\r\n");
    MakeMgrMI(a);
    const std::string first = Entry("\"5339\"", "\"\x93\x8c\x8b\x9e\"", a) + Entry("5340", "y", a);
    EXPECT_EQ(Registry(), first);

    std::string root = Disc.File("b");
    const std::string b = MakeDisc("b", "6000,z\r\n", "DATA");
    ASSERT_EQ(GetMapKind(root), kMapKindImage25k);
    MakeMgrMI(root);
    EXPECT_EQ(Registry(), first + Entry("6000", "z", b));
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(Questions.empty());
}

TEST_F(Manage, SameDiscAgainAsksPerEntryAndChangesOnlyOnYes) {
    const std::string a = MakeDisc("a", "\x93\x8c,\x8b\x9e\r\n2,y\r\n3,z\r\n");
    MakeMgrMI(a);
    const std::string b = MakeDisc("b", "\x93\x8c,\x8b\x9e\r\n2,y\r\n3,z\r\n");
    Answers = {true, false, true};
    MakeMgrMI(b);
    EXPECT_EQ(Questions, (std::vector<std::string>{"東:京" + kAsk, "2:y" + kAsk, "3:z" + kAsk}));
    EXPECT_EQ(Registry(),
              Entry("\x93\x8c", "\x8b\x9e", b) + Entry("2", "y", a) + Entry("3", "z", b));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(Manage, ANoAtAnyMatchAbandonsTheWholeUpdate) {
    const std::string twice = Entry("k", "v", "/old") + "7,x,y,d,m\r\n" + Entry("k", "v", "/old2");
    WriteAll(MgrFile, Bytes(twice));
    Answers = {true, false};
    UpdateMgrFile(7, "k", "v", "/new", "m");
    EXPECT_EQ(Questions.size(), 2u);
    EXPECT_EQ(Registry(), twice);
    Answers = {true, true};
    UpdateMgrFile(7, "k", "v", "/new", "m");
    EXPECT_EQ(Registry(), "7,k,v,/new,m\r\n7,x,y,d,m\r\n7,k,v,/new,m\r\n");
}

TEST_F(Manage, FailuresStopTheRegistrationAndCloseEveryFile) {
    const int fds = OpenDescriptorCount();
    const std::string a = MakeDisc("a", "1,x\r\nlonely\r\n3,z\r\n");
    MakeMgrMI(a);
    EXPECT_EQ(Messages,
              std::vector<std::string>{Failed("リストのインデックスが範囲を超えています (1)")});
    EXPECT_EQ(Registry(), Entry("1", "x", a));

    WriteAll(MgrFile, Bytes("7,1,x,d\r\n")); // a match too short to change
    Answers = {true};
    MakeMgrMI(MakeDisc("b", "1,x\r\n"));
    WriteAll(MgrFile, Bytes("7,1\r\n")); // a record too short to compare
    MakeMgrMI(MakeDisc("c", "2,y\r\n"));
    MakeMgrMI(Disc.File("missing"));
    EXPECT_EQ(Messages,
              (std::vector<std::string>{Failed("リストのインデックスが範囲を超えています (1)"),
                                        Failed("リストのインデックスが範囲を超えています (4)"),
                                        Failed("リストのインデックスが範囲を超えています (2)"),
                                        Failed("不正なファイル名です")}));
    EXPECT_EQ(Registry(), "7,1\r\n");
    EXPECT_EQ(OpenDescriptorCount(), fds);

    WriteAll(MgrFile, {}); // a zero-byte registry takes the first registration
    MakeMgrMI(MakeDisc("d", "2,y\r\n"));
    EXPECT_EQ(Registry(), Entry("2", "y", Disc.File("d/Data")));
    EXPECT_EQ(Messages.size(), 4u);
}

TEST_F(Manage, AFailedReplacementKeepsTheOldRegistry) {
    const std::string a = MakeDisc("a", "1,x\r\n");
    MakeMgrMI(a);
    const std::string before = Registry();
    // The working file is written and open when the question comes; take it away so that
    // the final rename cannot happen.
    BeforeAnswer = [] { ASSERT_TRUE(rt::DeleteFile(MgrFile + ".new")); };
    Answers = {true};
    MakeMgrMI(MakeDisc("b", "1,x\r\n"));
    EXPECT_EQ(Messages, std::vector<std::string>{Failed("ファイルが見つかりません")});
    EXPECT_EQ(Registry(), before);
}

TEST(Encoding, Cp932ForDisplay) {
    EXPECT_EQ(rt::Cp932ToUtf8("a\\\x93\x8c\x8b\x9e\x87\x40"), "a\\東京①");
    EXPECT_EQ(rt::Cp932ToUtf8("x\xA0y\x93"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}
