#include "manage/UManage.h"

#include "manage/Csv.h"
#include "manage/UInit.h"
#include "runtime/BinaryFile.h"
#include "runtime/Encoding.h"
#include "runtime/Errors.h"
#include "runtime/FileLock.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "runtime/OutputFile.h"
#include "runtime/ScopeExit.h"

#include <vector>

namespace {

// Beside the registry, under a name that cannot be taken for it or its working file.
const char* const kLockName = "Mapmgr.lock";

// Names on a disc are matched without regard to case when the exact name is missing, so
// that a disc mounted with upper-case names is still recognised.
std::string FindOnDisc(const std::string& dir, const std::string& name, bool wantDir) {
    return rt::FindPathNoCase(dir, name, wantDir ? rt::DirectoryExists : rt::FileExists);
}

void RequireFields(const std::vector<std::string>& items, size_t count) {
    if (items.size() < count)
        throw rt::TError(
            rt::Format("リストのインデックスが範囲を超えています (%zu)", items.size()));
}

} // namespace

uint8_t GetMapKind(std::string& root) {
    if (root.empty()) return kMapKindUnknown;
    if (!FindOnDisc(root, "Zumei.csv", false).empty()) return kMapKindMesh50m;
    const std::string data = FindOnDisc(root, "Data", true);
    if (data.empty()) return kMapKindUnknown;
    if (FindOnDisc(data, "Index.csv", false).empty() ||
        FindOnDisc(data, "Kanri.csv", false).empty())
        return kMapKindUnknown;
    root = data;
    return kMapKindImage25k;
}

void MakeMgrMI(const std::string& dir) {
    try {
        std::string indexPath = FindOnDisc(dir, "Index.csv", false);
        if (indexPath.empty()) indexPath = rt::JoinPath(dir, "Index.csv"); // fails to open
        tcsv index;
        index.openread(indexPath);
        while (!index.eof) {
            index.readrec();
            RequireFields(index.items, 2);
            const std::string key1 = index.items[0], key2 = index.items[1];
            UpdateMgrFile(kMapKindImage25k, key1, key2, dir, ExeDir + "Gsi25kMI" + key1 + ".txt");
        }
        index.close();
    } catch (const std::exception& e) {
        // Whatever stopped it, the index and any registry file are closed by now. The cause
        // goes on a second line, so that a full disk and a missing file can be told apart.
        rt::ShowMessage(std::string("CD-ROMの管理ファイルが読み込めませんでした\n") + e.what());
    }
}

void UpdateMgrFile(uint8_t kind, const std::string& key1, const std::string& key2,
                   const std::string& datadir, const std::string& mgrpath) {
    const std::string kindtext = std::to_string(kind);
    std::string dir = rt::ExtractFileDir(MgrFile);
    if (dir.empty()) dir = ".";
    // Held from reading the registry to replacing it, so that the updates of several
    // programs follow one another; declared first so that it goes last.
    rt::TFileLock lock;
    lock.Acquire(rt::JoinPath(dir, kLockName));

    // A working file found now was left by an update that died: no one else can be
    // writing it while the lock is ours. One that cannot go fails the creation below.
    const std::string newPath = MgrFile + ".new";
    rt::DeleteFile(newPath);
    // The working file goes unless the update gets as far as replacing the registry with it;
    // the new registry is on the disk before it replaces the old one.
    rt::TOutputFile replacement(MgrFile, {true, newPath});
    tcsv out;
    out.openwrite(newPath);

    if (!rt::FileExists(MgrFile)) {
        out.items = {kindtext, key1, key2, datadir, mgrpath};
        out.writerec();
    } else {
        tcsv in;
        in.openread(MgrFile);
        bool matched = false;
        while (!in.eof) {
            in.readrec();
            // A zero-byte registry or an empty first line is no entry; it must not block
            // every registration.
            if (in.text.empty()) continue;
            RequireFields(in.items, 3);
            if (in.items[0] == kindtext && in.items[1] == key1 && in.items[2] == key2) {
                matched = true;
                const std::string question = rt::Cp932ToUtf8(key1) + ":" + rt::Cp932ToUtf8(key2) +
                                             "はすでに登録されています。現在の設定を変更しますか？";
                if (!rt::AskYesNo(question)) {
                    in.close();
                    out.close();
                    return; // the working file goes, the registry stays untouched
                }
                RequireFields(in.items, 5);
                in.items[3] = datadir;
                in.items[4] = mgrpath;
            }
            out.items = in.items;
            out.writerec();
        }
        if (!matched) {
            out.items = {kindtext, key1, key2, datadir, mgrpath};
            out.writerec();
        }
        in.close();
    }
    out.close();
    replacement.Commit();
}

TMgrFileView ShowMgrFile() {
    TMgrFileView view;
    if (!rt::FileExists(MgrFile)) {
        view.Info = "Mapマネージャの管理ファイルはありません";
        return view;
    }
    try {
        tcsv registry;
        registry.openread(MgrFile);
        while (!registry.eof) {
            registry.readrec();
            // Lines that hold no entry (an empty file, a blank line) are passed over.
            if (registry.text.empty() || registry.items.size() < 3) continue;
            view.Lines.push_back(rt::Cp932ToUtf8(registry.items[1]) + ":" +
                                 rt::Cp932ToUtf8(registry.items[2]));
        }
        registry.close();
    } catch (const std::exception& e) {
        rt::ShowMessage(e.what());
    }
    view.Info = "登録数 " + std::to_string(view.Lines.size());
    return view;
}
