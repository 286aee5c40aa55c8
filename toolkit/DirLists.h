#pragma once
// A drive list linked to a directory list. The drives are the mounted file systems, the
// root file system first; each remembers the directory last opened on it. The directory
// list shows the path from its drive's root down to the open directory, then the open
// directory's subdirectories; a double-click opens an entry (once the click has been
// handled, so the caller sees the new directory after pending events have run).

#include <QComboBox>
#include <QListWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tk {

class TItemDelegate;

// A mounted file system offered as a drive.
struct TDrive {
    std::string Root; // its mount point
    std::string Type; // its file-system type
};

// The drives in the text of /proc/self/mounts: "/" first (also when the text lacks it),
// the rest by path, each mount point once; kernel, memory and device file systems and
// whatever is mounted under /proc, /sys, /dev or /run (but /run/media) are left out.
std::vector<TDrive> ParseMounts(const std::string& mountsText);
// The drives of this machine whose mount points are directories.
std::vector<TDrive> MountedDrives();

// dir made absolute against the current directory, with ".", ".." and repeated or
// trailing "/" taken out. Symbolic links are kept as they are named.
std::string NormalDir(const std::string& dir);
// Whether dir is root or lies below it (both normal).
bool DirWithin(const std::string& root, const std::string& dir);

} // namespace tk

class TDirectoryListBox;

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // Links the directory list both ways; choosing a drive then opens its directory there.
    void SetDirList(TDirectoryListBox* list);
    TDirectoryListBox* DirList() const { return List; }

    // Offers these drives from now on. Without it the machine's mounts are offered, read
    // afresh each time the list drops down, so that a disc mounted meanwhile is there.
    void SetDrives(std::vector<tk::TDrive> drives);
    const std::vector<tk::TDrive>& Drives() const { return Items; }

    // The root of the chosen drive.
    std::string Drive() const;
    // Chooses a drive as the user does: the linked list opens the directory last opened
    // on it, its root the first time, or the nearest one above that still exists.
    void SetDrive(const std::string& root);
    // The drive whose root is the longest one holding dir.
    std::string DriveOf(const std::string& dir) const;
    // The directory to show for a drive.
    std::string CurrentDirOf(const std::string& root) const;

protected:
    void showPopup() override;

private:
    friend class TDirectoryListBox;
    void Offer(std::vector<tk::TDrive> drives);
    // The list opened dir on root: choose that drive without reopening anything.
    void Opened(const std::string& root, const std::string& dir);
    void Chosen(int index);

    bool Live = true;
    std::vector<tk::TDrive> Items;
    std::map<std::string, std::string> LastDir;
    TDirectoryListBox* List = nullptr;
};

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    int ItemHeight() const { return Height; }
    void SetItemHeight(int height);

    // The open directory.
    std::string Directory() const { return Dir; }
    // The root of the drive the list shows.
    std::string Root() const { return DriveRoot; }
    // Opens dir on its drive.
    void SetDirectory(const std::string& dir);
    // Opens dir shown from root down: a directory reached from a drive stays on that drive
    // even where another file system is mounted. A dir outside root goes to its own drive.
    void OpenOn(const std::string& root, const std::string& dir);
    // The directory an entry stands for.
    std::string ItemPath(int row) const;
    // Opens an entry, as a double-click does.
    void OpenItem(int row);
    // Reads the open directory again; when it has gone, its nearest parent on the drive.
    void Refresh();
    // Rows from 0 to PathCount() - 1 are the path down to the open directory.
    int PathCount() const { return PathRows; }

    std::function<void()> OnChange;

private:
    friend class TDriveComboBox;
    void Fill();

    std::string DriveRoot = "/";
    std::string Dir = "/";
    int PathRows = 0;
    int Height = 16;
    tk::TItemDelegate* Delegate = nullptr;
    TDriveComboBox* Drives = nullptr;
};
