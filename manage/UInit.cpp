#include "manage/UInit.h"

#include "runtime/FileSys.h"
#include "runtime/Hooks.h"

#include <unistd.h>

std::string ExeDir;
std::string MgrDir;
std::string MgrFile;

void InitMapMgr(const std::string& exeDir) {
    ExeDir = exeDir.empty() ? rt::ExeDir() : exeDir;
    if (ExeDir.back() != '/') ExeDir += '/';
    MgrDir = ExeDir + "Mapmgr";
    // Tested in place rather than by entering it, so the current directory never moves;
    // a directory that could not be entered counts as missing, as entering would find.
    const bool enterable = rt::DirectoryExists(MgrDir) && ::access(MgrDir.c_str(), X_OK) == 0;
    if (!enterable && !rt::CreateDir(MgrDir))
        rt::ShowMessage("Mapマネージャのディレクトリが作成できません");
    MgrFile = MgrDir + "/" + "Mapmgr.txt";
}
