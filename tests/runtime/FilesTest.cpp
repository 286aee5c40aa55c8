#include "runtime/BinaryFile.h"
#include "runtime/Errors.h"
#include "runtime/FileMap.h"
#include "runtime/FileSys.h"
#include "runtime/FileView.h"
#include "runtime/Progress.h"
#include "runtime/TextFile.h"
#include "tests/TestSupport.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::TTempDir;

namespace {

int CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::EInOutError& e) {
        return e.ErrorCode();
    }
    return 0;
}

} // namespace

TEST(IoError, MessagesAndErrnoMapping) {
    EXPECT_STREQ(rt::EInOutError(2).what(), "ファイルが見つかりません");
    EXPECT_STREQ(rt::EInOutError(3).what(), "不正なファイル名です");
    EXPECT_STREQ(rt::EInOutError(4).what(), "オープンしたファイルが多すぎます");
    EXPECT_STREQ(rt::EInOutError(5).what(), "ファイルへのアクセスが拒否されました");
    EXPECT_STREQ(rt::EInOutError(100).what(), "ファイルの末尾以降を読み込みました");
    EXPECT_STREQ(rt::EInOutError(101).what(), "ディスクがいっぱいです");
    EXPECT_STREQ(rt::EInOutError(106).what(), "入力値が数値ではありません");
    EXPECT_STREQ(rt::EInOutError(32).what(), "I/O エラー (32)");
}

TEST(IoError, RealFailuresCarryTheSystemsCodes) {
    // Each failure made for real, in a child: too many open files, a read-only file system,
    // a full one, and an error the system has no code of its own for (a pipe cannot seek).
    TTempDir dir;
    const std::string mnt = dir.File("mnt");
    int rc = testing_support::InSmallTmpfs(mnt, 64, [&] {
        rt::TBinaryFile f;
        f.Assign(mnt + "/big.bin");
        f.Rewrite();
        std::vector<uint8_t> block(128 * 1024, 1);
        if (CodeOf([&] { f.Write(block.data(), block.size()); }) != 101) return 1;
        f.CloseQuietly();
        if (::mount("tmpfs", mnt.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return testing_support::kNoTmpfs;
        f.Assign(mnt + "/new.bin");
        if (CodeOf([&] { f.Rewrite(); }) != 5) return 2;
        const int lowest = ::dup(0); // the descriptor the next open would take
        ::close(lowest);
        rlimit few{rlim_t(lowest), rlim_t(lowest)};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return 3;
        f.Assign(dir.File("any.bin"));
        if (CodeOf([&] { f.Rewrite(); }) != 4) return 4;
        return 0;
    });
    if (rc == testing_support::kNoTmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(rc, 0);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    rt::TBinaryFile pipe;
    pipe.AssignHandle(fds[0], "pipe");
    EXPECT_EQ(CodeOf([&] { pipe.Seek(10); }), 29);
    EXPECT_STREQ(rt::EInOutError(29).what(), "I/O エラー (29)");
    ::close(fds[1]);
    ::close(fds[0]);
}

TEST(BinaryFile, OpenFailuresCarryTheirCodes) {
    TTempDir dir;
    rt::TBinaryFile f;
    f.Assign(dir.File("missing.bin"));
    EXPECT_EQ(CodeOf([&] { f.Reset(); }), 2);
    f.Assign(dir.File("no/such/dir/out.bin"));
    EXPECT_EQ(CodeOf([&] { f.Rewrite(); }), 3);
    EXPECT_EQ(CodeOf([&] { f.Reset(); }), 3);
    EXPECT_FALSE(f.IsOpen());
    f.Assign(dir.Path());
    EXPECT_EQ(CodeOf([&] { f.Reset(); }), 5);
    EXPECT_EQ(CodeOf([&] { f.Close(); }), 103); // closing what is not open
}

TEST(BinaryFile, ReadWriteSeekAndShortRead) {
    TTempDir dir;
    rt::TBinaryFile f;
    f.Assign(dir.File("a.bin"));
    f.Rewrite();
    f.Write("abcdef", 6);
    f.Seek(2);
    f.Write("XY", 2);
    EXPECT_EQ(f.FilePos(), 4);
    f.Close();
    f.Reset();
    char buf[8] = {};
    f.Read(buf, 6);
    EXPECT_EQ(std::string(buf, 6), "abXYef");
    f.Seek(4);
    EXPECT_EQ(CodeOf([&] { f.Read(buf, 3); }), 100);
    f.Close();

    // Overwrite keeps nothing of the old content beyond what is written before CloseCut.
    f.Overwrite();
    f.Write("zz", 2);
    f.CloseCut();
    EXPECT_EQ(testing_support::ReadAll(dir.File("a.bin")), (std::vector<uint8_t>{'z', 'z'}));
}

TEST(BinaryFile, ReadOnlyFileRefusesWriting) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    TTempDir dir;
    testing_support::WriteAll(dir.File("ro"), {1});
    ::chmod(dir.File("ro").c_str(), 0444);
    rt::TBinaryFile f;
    f.Assign(dir.File("ro"));
    EXPECT_EQ(CodeOf([&] { f.Rewrite(); }), 5);
}

TEST(FileSys, PathsAndDirectoryServices) {
    EXPECT_EQ(rt::JoinPath("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(rt::JoinPath("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(rt::JoinPath("/", "c"), "/c");
    EXPECT_EQ(rt::ExtractFileName("/x/y/C12345.tif"), "C12345.tif");
    EXPECT_EQ(rt::ExtractFileDir("/x/y/C12345.tif"), "/x/y");
    EXPECT_EQ(rt::ExtractFileDir("/top"), "/");
    EXPECT_EQ(rt::ExtractFileDir("plain"), "");
    EXPECT_TRUE(rt::DirectoryExists(rt::ExeDir()));

    TTempDir dir;
    std::string sub = dir.File("Sub");
    EXPECT_TRUE(rt::CreateDir(sub));
    EXPECT_FALSE(rt::CreateDir(sub));
    testing_support::WriteAll(sub + "/INDEX.CSV", {'x'});
    EXPECT_EQ(rt::FindPathNoCase(sub, "Index.csv", rt::FileExists), sub + "/INDEX.CSV");
    EXPECT_EQ(rt::FindPathNoCase(dir.Path(), "sub", rt::DirectoryExists), sub);
    EXPECT_EQ(rt::FindPathNoCase(dir.Path(), "sub", rt::FileExists), ""); // not of that kind
    EXPECT_EQ(rt::FindPathNoCase(sub, "Kanri.csv", rt::FileExists), "");
    EXPECT_TRUE(rt::RenameFile(sub + "/INDEX.CSV", sub + "/b"));
    EXPECT_TRUE(rt::FileExists(sub + "/b"));
    EXPECT_FALSE(rt::FileExists(sub));
    EXPECT_TRUE(rt::DeleteFile(sub + "/b"));
    EXPECT_FALSE(rt::DeleteFile(sub + "/b"));
    EXPECT_TRUE(rt::ListDirectory(dir.File("none")).empty());
}

TEST(TextFile, LinesRoundTripAndLineEnds) {
    TTempDir dir;
    rt::TTextFile t;
    t.Assign(dir.File("t.txt"));
    t.Rewrite();
    t.WriteLn("first");
    t.WriteLn("");
    t.Write("last");
    t.Close();
    std::string written = "first\r\n\r\nlast";
    EXPECT_EQ(testing_support::ReadAll(dir.File("t.txt")),
              std::vector<uint8_t>(written.begin(), written.end()));
    // Read back byte by byte, as the CSV reader does: Peek does not move, Get does.
    t.Reset();
    std::string back;
    for (int c = t.Peek(); c >= 0; c = t.Peek()) {
        EXPECT_EQ(t.Get(), c);
        back.push_back(char(c));
    }
    EXPECT_EQ(t.Get(), -1);
    t.Close();
    EXPECT_EQ(back, written);
}

TEST(Progress, MaximumBelowMinimumIsRefused) {
    rt::TProgressModel p;
    p.SetMax(10);
    p.SetPosition(20);
    EXPECT_EQ(p.Position(), 10);
    try {
        p.SetMax(-1);
        FAIL() << "accepted a maximum below the minimum";
    } catch (const rt::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "1 から 2147483647 の間の値でなければなりません");
    }
    EXPECT_EQ(p.Max(), 10);
}

TEST(FileSys, UnwritableProgramDirectoriesFallBackToTheUsersOwn) {
    TTempDir dir;
    std::string notADir = dir.File("plain-file");
    testing_support::WriteAll(notADir, {1});
    std::string cache = dir.File("cache"), data = dir.File("data/deep");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_EQ(rt::AppDir(dir.Path(), "XDG_CACHE_HOME", ".cache"), dir.Path());
    EXPECT_EQ(rt::AppDir(notADir, "XDG_CACHE_HOME", ".cache"), cache + "/mapviewer");
    EXPECT_EQ(rt::AppDir(notADir, "XDG_DATA_HOME", ".local/share"), data + "/mapviewer");
    EXPECT_TRUE(rt::DirectoryExists(data + "/mapviewer"));
    if (::geteuid() != 0) { // root may write into a read-only directory
        std::string ro = dir.File("ro");
        rt::CreateDir(ro);
        ::chmod(ro.c_str(), 0555);
        EXPECT_EQ(rt::AppDir(ro, "XDG_CACHE_HOME", ".cache"), cache + "/mapviewer");
    }
    ::unsetenv("XDG_CACHE_HOME");
    std::string home = dir.File("home");
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(rt::AppDir(notADir, "XDG_CACHE_HOME", ".cache"), home + "/.cache/mapviewer");
    ::unsetenv("XDG_DATA_HOME");
}

TEST(FileSys, AnInstalledProgramUsesTheUsersDirectoriesEvenWhereItsOwnCanBeWritten) {
    // bin of a tree with share/mapviewer beside it, as an install into ~/.local makes it.
    TTempDir dir;
    const std::string bin = dir.File("prefix/bin"), cache = dir.File("cache");
    ASSERT_TRUE(rt::ForceDirectories(bin));
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    EXPECT_FALSE(rt::IsInstalledLayout(bin));
    EXPECT_EQ(rt::AppDir(bin, "XDG_CACHE_HOME", ".cache"), bin); // a folder of its own
    ASSERT_TRUE(rt::ForceDirectories(dir.File("prefix/share/mapviewer")));
    EXPECT_TRUE(rt::IsInstalledLayout(bin));
    EXPECT_EQ(rt::AppDir(bin, "XDG_CACHE_HOME", ".cache"), cache + "/mapviewer");
    // Only a directory called bin counts: a build tree keeps its files beside the program.
    ASSERT_TRUE(rt::ForceDirectories(dir.File("prefix/build")));
    EXPECT_EQ(rt::AppDir(dir.File("prefix/build"), "XDG_CACHE_HOME", ".cache"),
              dir.File("prefix/build"));
    ::unsetenv("XDG_CACHE_HOME");
}

TEST(FileView, RangesForwardBackwardAndPastTheEnd) {
    // Three windows' worth of bytes, each byte telling its offset; read as Draw reads rows
    // (forward), as the export does (backward) and at random.
    TTempDir dir;
    std::vector<uint8_t> bytes(3 * 1024 * 1024 + 77);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 251);
    testing_support::WriteAll(dir.File("v.bin"), bytes);
    rt::TBinaryFile f;
    f.Assign(dir.File("v.bin"));
    f.Reset();
    const rt::TFileMap whole(f);
    ASSERT_TRUE(whole.Mapped());
    struct TWay {
        const char* Name;
        rt::TFileView::TAccess Access;
        const rt::TFileMap* Map;
    };
    for (const TWay& way : {TWay{"windows mapped", rt::TFileView::kMap, nullptr},
                            TWay{"windows read", rt::TFileView::kReadAhead, nullptr},
                            TWay{"one map", rt::TFileView::kRead, &whole}}) {
        SCOPED_TRACE(way.Name);
        rt::TFileView view(f, 5000, way.Access, way.Map);
        auto same = [&](int64_t at, size_t n) {
            return std::memcmp(view.Get(at, n), bytes.data() + at, n) == 0;
        };
        for (int64_t at = 0; at + 5000 <= int64_t(bytes.size()); at += 16000)
            EXPECT_TRUE(same(at, 5000)) << at;
        for (int64_t at = int64_t(bytes.size()) - 5000; at >= 0; at -= 16001)
            EXPECT_TRUE(same(at, 5000)) << at;
        std::mt19937 random(5);
        for (int i = 0; i < 200; ++i) {
            const int64_t at = int64_t(random() % (bytes.size() - 4999));
            EXPECT_TRUE(same(at, 1 + random() % 5000)) << at;
        }
        EXPECT_TRUE(same(int64_t(bytes.size()) - 1, 1));
        EXPECT_EQ(CodeOf([&] { view.Get(int64_t(bytes.size()) - 10, 11); }), 100);
        EXPECT_EQ(CodeOf([&] { view.Get(-1, 1); }), 100);
    }
    // Read by position, a view leaves the file where it stood: views of one file may be read
    // on several threads at once, as the halves of a smooth picture are.
    rt::TFileView reads(f, 64, rt::TFileView::kRead);
    f.Seek(5);
    EXPECT_EQ(std::memcmp(reads.Get(1000, 64), bytes.data() + 1000, 64), 0);
    EXPECT_EQ(f.FilePos(), 5);
}
