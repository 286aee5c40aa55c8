#pragma once
// The management directory and the registry's path, set once at start-up.

#include <string>

// The executable directory, ending in "/".
extern std::string ExeDir;
// ExeDir followed by "Mapmgr".
extern std::string MgrDir;
// The map registry: MgrDir, "/", "Mapmgr.txt".
extern std::string MgrFile;

// Sets the three paths and creates the management directory when it is missing. The
// program passes the executable directory; an empty exeDir means the same.
void InitMapMgr(const std::string& exeDir = {});
