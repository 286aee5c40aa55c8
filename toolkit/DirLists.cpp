#include "toolkit/DirLists.h"

#include "runtime/FileSys.h"
#include "runtime/Strings.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <strings.h>

namespace tk {

namespace {

// Kernel interfaces and memory file systems: nothing a user keeps maps on, and every
// directory of theirs is reachable from "/" all the same.
const std::set<std::string>& PseudoTypes() {
    static const std::set<std::string> types = {
        "autofs",          "binfmt_misc", "bpf",       "cgroup",   "cgroup2", "configfs",
        "debugfs",         "devpts",      "devtmpfs",  "efivarfs", "fusectl", "hugetlbfs",
        "mqueue",          "nsfs",        "proc",      "pstore",   "ramfs",   "rpc_pipefs",
        "securityfs",      "selinuxfs",   "sysfs",     "tmpfs",    "tracefs", "nfsd",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs"};
    return types;
}

bool UnderSystemDir(const std::string& dir) {
    for (const char* sys : {"/proc", "/sys", "/dev", "/run"})
        if (DirWithin(sys, dir)) return !DirWithin("/run/media", dir);
    return false;
}

// The kernel writes blanks, tabs, newlines and backslashes in a mount point as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        auto octal = [&](size_t k) {
            return k < field.size() && field[k] >= '0' && field[k] <= '7';
        };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                        (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool NameLess(const std::string& a, const std::string& b) {
    const int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

QString Shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

QIcon DriveIcon(const std::string& type) {
    QStyle* style = QApplication::style();
    if (type == "iso9660" || type == "udf") return style->standardIcon(QStyle::SP_DriveCDIcon);
    if (type.rfind("nfs", 0) == 0 || type == "cifs" || type == "smb3" || type == "fuse.sshfs")
        return style->standardIcon(QStyle::SP_DriveNetIcon);
    return style->standardIcon(QStyle::SP_DriveHDIcon);
}

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndent = 8;

// dir, or when it has gone its nearest parent that is still there, not above root.
std::string NearestExisting(const std::string& root, std::string dir) {
    while (dir != root && dir != "/" && !rt::DirectoryExists(dir)) dir = NormalDir(dir + "/..");
    return dir;
}

} // namespace

std::vector<TDrive> ParseMounts(const std::string& mountsText) {
    std::map<std::string, std::string> found; // the last mount on a point is the one seen
    std::istringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (!(fields >> device >> point >> type)) continue;
        point = Unescape(point);
        if (point.empty() || point.front() != '/') continue;
        point = NormalDir(point);
        found[point] = type;
    }
    std::vector<TDrive> drives{{"/", found.count("/") ? found["/"] : std::string()}};
    for (const auto& [point, type] : found) // in the order of their paths
        if (point != "/" && !PseudoTypes().count(type) && !UnderSystemDir(point))
            drives.push_back({point, type});
    return drives;
}

std::vector<TDrive> MountedDrives() {
    std::ifstream in("/proc/self/mounts");
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<TDrive> drives = ParseMounts(text);
    // Bind mounts of single files are no drives.
    drives.erase(std::remove_if(drives.begin() + 1, drives.end(),
                                [](const TDrive& d) { return !rt::DirectoryExists(d.Root); }),
                 drives.end());
    return drives;
}

std::string NormalDir(const std::string& dir) {
    std::string path = dir;
    if (path.empty() || path.front() != '/') path = rt::JoinPath(rt::GetCurrentDir(), path);
    std::vector<std::string> parts;
    for (std::string& part : rt::Split(path, '/')) {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

bool DirWithin(const std::string& root, const std::string& dir) {
    if (root == "/") return !dir.empty() && dir.front() == '/';
    return dir.compare(0, root.size(), root) == 0 &&
           (dir.size() == root.size() || dir[root.size()] == '/');
}

} // namespace tk

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
    Offer(tk::MountedDrives());
    connect(this, &QComboBox::activated, this, tk::Guard([this](int index) { Chosen(index); }));
}

void TDriveComboBox::SetDirList(TDirectoryListBox* list) {
    if (List) List->Drives = nullptr;
    List = list;
    if (!List) return;
    List->Drives = this;
    const std::string dir = List->Directory();
    List->OpenOn(DriveOf(dir), dir);
}

void TDriveComboBox::SetDrives(std::vector<tk::TDrive> drives) {
    Live = false;
    Offer(std::move(drives));
}

void TDriveComboBox::showPopup() {
    if (Live) tk::Guarded([this] { Offer(tk::MountedDrives()); });
    QComboBox::showPopup();
}

void TDriveComboBox::Offer(std::vector<tk::TDrive> drives) {
    Items = std::move(drives);
    const QSignalBlocker quiet(this);
    clear();
    for (const auto& d : Items) addItem(tk::DriveIcon(d.Type), tk::Shown(d.Root));
    if (List) {
        const std::string dir = List->Directory();
        const std::string root = List->Root();
        const bool kept = std::any_of(Items.begin(), Items.end(),
                                      [&](const tk::TDrive& d) { return d.Root == root; });
        List->OpenOn(kept ? root : DriveOf(dir), dir);
    }
}

std::string TDriveComboBox::Drive() const {
    const int i = currentIndex();
    return i >= 0 && size_t(i) < Items.size() ? Items[size_t(i)].Root : std::string("/");
}

void TDriveComboBox::SetDrive(const std::string& root) {
    const std::string r = tk::NormalDir(root);
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i].Root == r) {
            Chosen(int(i));
            return;
        }
}

std::string TDriveComboBox::DriveOf(const std::string& dir) const {
    std::string best = "/";
    for (const auto& d : Items)
        if (tk::DirWithin(d.Root, dir) && d.Root.size() > best.size()) best = d.Root;
    return best;
}

std::string TDriveComboBox::CurrentDirOf(const std::string& root) const {
    auto it = LastDir.find(root);
    return it == LastDir.end() ? root : tk::NearestExisting(root, it->second);
}

void TDriveComboBox::Opened(const std::string& root, const std::string& dir) {
    LastDir[root] = dir;
    const QSignalBlocker quiet(this);
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i].Root == root) setCurrentIndex(int(i));
}

void TDriveComboBox::Chosen(int index) {
    if (index < 0 || size_t(index) >= Items.size()) return;
    const std::string root = Items[size_t(index)].Root;
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(index);
    }
    if (List) List->OpenOn(root, CurrentDirOf(root));
}

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
    // Every entry is the list's item height high and indented by its depth.
    Delegate = new tk::TItemDelegate(Height, this, tk::kLevelRole, tk::kIndent);
    setItemDelegate(Delegate);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The list is filled anew once the double-click has been handled everywhere: its
    // items must outlive the signal. Enter opens nothing; it belongs to the OK button.
    connect(this, &QAbstractItemView::doubleClicked, this,
            tk::Guard([this](const QModelIndex& index) {
                const std::string path = ItemPath(index.row());
                if (path.empty()) return;
                QMetaObject::invokeMethod(
                    this, [this, path] { tk::Guarded([&] { OpenOn(DriveRoot, path); }); },
                    Qt::QueuedConnection);
            }));
    OpenOn("/", rt::GetCurrentDir());
}

void TDirectoryListBox::SetItemHeight(int height) {
    Height = height;
    Delegate->Height = height;
    doItemsLayout();
}

void TDirectoryListBox::SetDirectory(const std::string& dir) {
    const std::string d = tk::NormalDir(dir);
    OpenOn(Drives ? Drives->DriveOf(d) : std::string("/"), d);
}

void TDirectoryListBox::OpenOn(const std::string& root, const std::string& dir) {
    const std::string d = tk::NormalDir(dir);
    std::string r = tk::NormalDir(root);
    if (!tk::DirWithin(r, d)) r = Drives ? Drives->DriveOf(d) : std::string("/");
    DriveRoot = r;
    Dir = d;
    Fill();
    if (Drives) Drives->Opened(DriveRoot, Dir);
    if (OnChange) OnChange();
}

std::string TDirectoryListBox::ItemPath(int row) const {
    const QListWidgetItem* it = item(row);
    if (!it) return {};
    const QByteArray path = it->data(tk::kPathRole).toByteArray();
    return {path.constData(), size_t(path.size())};
}

void TDirectoryListBox::OpenItem(int row) {
    if (row < 0 || row >= count()) return;
    OpenOn(DriveRoot, ItemPath(row));
}

void TDirectoryListBox::Refresh() {
    OpenOn(DriveRoot, tk::NearestExisting(DriveRoot, Dir));
}

void TDirectoryListBox::Fill() {
    clear();
    QStyle* st = style();
    auto add = [this](const QIcon& icon, const std::string& text, const std::string& path,
                      int level) {
        auto* it = new QListWidgetItem(icon, tk::Shown(text), this);
        it->setData(tk::kPathRole, QByteArray(path.data(), qsizetype(path.size())));
        it->setData(tk::kLevelRole, level);
    };

    // The path from the drive's root down to the open directory.
    const QIcon open = st->standardIcon(QStyle::SP_DirOpenIcon);
    add(open, DriveRoot, DriveRoot, 0);
    int level = 0;
    std::string path = DriveRoot;
    const std::string below = Dir.size() > DriveRoot.size()
                                  ? Dir.substr(DriveRoot == "/" ? 1 : DriveRoot.size() + 1)
                                  : "";
    if (!below.empty()) {
        for (const std::string& name : rt::Split(below, '/')) {
            path = rt::JoinPath(path, name);
            add(open, name, path, ++level);
        }
    }
    PathRows = count();

    // Then its subdirectories; one that cannot be read simply has none.
    std::vector<std::string> subdirs;
    for (auto& name : rt::ListDirectory(Dir))
        if (name.front() != '.' && rt::DirectoryExists(rt::JoinPath(Dir, name)))
            subdirs.push_back(std::move(name));
    std::sort(subdirs.begin(), subdirs.end(), tk::NameLess);
    const QIcon closed = st->standardIcon(QStyle::SP_DirClosedIcon);
    for (const auto& name : subdirs) add(closed, name, rt::JoinPath(Dir, name), level + 1);

    setCurrentRow(PathRows - 1);
}
