#pragma once
// The scratch raster file as the map image object keeps it: its name and lock (the shared
// "tiff.tmp" of a directory, or a file of this process's own beside it), the file open for
// reading from the first picture and mapped whole from the second, the pages no picture
// reads any more given back, and which of its rows an open left there.

#include "runtime/BinaryFile.h"
#include "runtime/FileLock.h"
#include "runtime/FileMap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The rows an open left in the scratch file.
struct THeldRows {
    int64_t First = 0, Count = 0;                   // written, from First
    int64_t ViewFirst = 0, ViewEnd = 0;             // in ahead of the walk while an open runs
    std::vector<std::pair<int64_t, int64_t>> Holes; // passed by a sampled open, in order
    bool Holds(int64_t row) const;
    // Rows row to end - 1, all of them.
    bool HoldsAll(int64_t row, int64_t end) const;
};

class TScratchRaster {
public:
    // sharedDir empty: the file at path is this object's own.
    TScratchRaster(std::string sharedDir, std::string path);
    // Deletes the file where it is ours.
    ~TScratchRaster();
    TScratchRaster(const TScratchRaster&) = delete;
    TScratchRaster& operator=(const TScratchRaster&) = delete;

    const std::string& Path() const { return FilePath; }
    // Before an open writes the file: it is read no more, and the shared file's lock is
    // taken, or a file of this process's own beside it for good.
    void PrepareOpen();
    // Opens the file for reading where it is not, and maps it whole where mapWhole asks
    // and it is not; answers its size.
    int64_t OpenForReading(bool mapWhole);
    const rt::TBinaryFile& File() const { return Rows; }
    const rt::TFileMap* Map() const { return WholeMap.get(); }
    // The bytes start to end - 1 are those of the picture on the canvas: the pages the last
    // one read and this one does not are given back.
    void ShowPages(int64_t start, int64_t end);
    // The byte at offset, read through the file held open; false where there is none.
    bool ByteAt(int64_t offset, uint8_t& value);

    // Removes the shared scratch files in dir that no process uses any more.
    static void RemoveStale(const std::string& dir);

private:
    void Acquire();
    void ReleasePages(int64_t start, int64_t end);

    std::string SharedDir; // set while the shared "tiff.tmp" may still be ours
    std::string FilePath;
    rt::TFileLock Lock; // held while "tiff.tmp" is ours
    rt::TBinaryFile Rows;
    std::unique_ptr<rt::TFileMap> WholeMap;
    int64_t ShownStart = 0, ShownEnd = 0;
};

// The scratch file's name in a directory.
std::string SharedScratchPath(const std::string& dir);
