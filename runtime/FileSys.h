#pragma once
// File-system services: existence tests, delete, rename, directories and paths.

#include <string>
#include <vector>

namespace rt {

bool FileExists(const std::string& path); // a regular file (or anything but a directory)
bool DirectoryExists(const std::string& path);
// These return false on failure and leave errno set; callers decide what to report.
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// The permission bits of path, or -1; setting them ignores the umask.
int FileMode(const std::string& path);
bool SetFileMode(const std::string& path, int mode);
// Flushes a directory's entries to the disk: a rename that replaced a file is then kept.
bool SyncDir(const std::string& dir);
bool CreateDir(const std::string& path);

std::string GetCurrentDir();

// Directory of the running executable, without a trailing "/".
std::string ExeDir();
// Where the program keeps its files. An installed program (its executable in the "bin"
// directory of a tree with "share/mapviewer" beside it) always uses the user's directory
// for the kind of file: $XDG_CACHE_HOME/mapviewer for the scratch file, $XDG_DATA_HOME/
// mapviewer for the management directory, made when missing. A program run from its build
// tree or a folder of its own keeps its files beside it, while that directory can be
// written.
std::string ScratchDir();
std::string DataDir();
// The settings' directory: beside the program as the others, $XDG_CONFIG_HOME/mapviewer
// for an installed one.
std::string ConfigDir();
// The choice behind both, for a program in exeDir; $HOME/homeRel/mapviewer where the
// variable is unset.
std::string AppDir(const std::string& exeDir, const char* xdgVar, const char* homeRel);
// Whether exeDir is the bin directory of an installed tree.
bool IsInstalledLayout(const std::string& exeDir);
bool IsWritableDir(const std::string& dir);
// Makes a directory and its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& dir);
// Joins a directory and a name with one "/"; a directory already ending in "/" is
// joined directly.
std::string JoinPath(const std::string& dir, const std::string& name);
// The part after the last "/" and the part before it ("" when there is none).
std::string ExtractFileName(const std::string& path);
std::string ExtractFileDir(const std::string& path);

// Names in a directory (without "." and ".."); empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);
// dir joined with the entry called name for which fits holds: the exact name first, else
// one that differs from it in ASCII case only; empty when there is none.
std::string FindPathNoCase(const std::string& dir, const std::string& name,
                           bool (*fits)(const std::string& path));

} // namespace rt
