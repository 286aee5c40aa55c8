#include "manage/UInit.h"

#include "runtime/FileSys.h"
#include "runtime/Hooks.h"

#include <unistd.h>

std::string ExeDir;
std::string MgrDir;
std::string MgrFile;

void InitMapMgr(const std::string& exeDir) {
    ExeDir = exeDir.empty() ? rt::ExeDir() : exeDir;
    if (ExeDir.empty() || ExeDir.back() != '/') ExeDir += '/';
    MgrDir = ExeDir + "Mapmgr";
    // Tested in place so that the current directory never moves; one that cannot be
    // entered is of no use and counts as missing.
    const bool enterable = rt::DirectoryExists(MgrDir) && ::access(MgrDir.c_str(), X_OK) == 0;
    if (!enterable && !rt::CreateDir(MgrDir))
        rt::ShowMessage("Mapマネージャのディレクトリが作成できません");
    MgrFile = MgrDir + "/" + "Mapmgr.txt";
}
