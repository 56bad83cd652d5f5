#pragma once
// The desktop's shell services on Linux: opening an address with the user's handler (xdg-open) and
// the small icon of an executable, taken from the desktop entry (.desktop file) that starts it and
// the icon theme. Icons are handed on as image files for the backend to load.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/shell.h"

namespace platform {

// Where desktop entries and icons are looked for.
struct ShellPaths {
  // Directories holding desktop entries, most important first ($XDG_DATA_HOME/applications, then
  // each $XDG_DATA_DIRS/applications).
  std::vector<std::string> applicationDirs;
  // Icon theme directories searched for Icon= names (each holding 16x16/apps, 22x22/apps, ...).
  std::vector<std::string> iconThemeDirs;
  // Directories of loose icon files (pixmaps).
  std::vector<std::string> pixmapDirs;
  // The command search path, as $PATH.
  std::string searchPath;

  // The XDG base directories of the environment, with their defaults when unset or empty.
  static ShellPaths FromEnvironment();
};

class LinuxShell final : public framework::IShell {
 public:
  LinuxShell();
  // opener: the program that opens addresses; a bare name is looked up in paths.searchPath.
  explicit LinuxShell(ShellPaths paths, std::string opener = "xdg-open");

  // Starts the opener with address, detached (it outlives neither a zombie nor our descriptors).
  // False when the address is empty or looks like an option, or the opener cannot be started.
  bool OpenAddress(const std::string& address) override;
  // The 16-pixel icon of the executable at path: its desktop entry's icon, else a generic
  // executable icon. Paths are compared with ASCII case folded, as the program lower-cases them.
  framework::Icon FileIcon(const std::string& path) override;

  // The image file FileIcon would use for path; empty when it would use the generic icon.
  std::string IconFileFor(const std::string& path);
  // How often the desktop-entry index has been built.
  int IndexBuilds() const { return indexBuilds_; }

 private:
  struct DirStamp {
    std::string path;
    bool exists = false;
    std::int64_t mtimeNs = 0;
    std::int64_t size = 0;
    ino_t inode = 0;
  };

  void RefreshIndexIfStale();
  void BuildIndex();
  void ScanApplicationDir(const std::string& dir, const std::string& prefix, int depth,
                          std::map<std::string, bool>& seenIds);
  void AddDesktopEntry(const std::string& file);
  // The icon file for an Icon= value, or empty.
  std::string ResolveIconName(const std::string& name);
  std::string GenericIconFile();
  std::vector<DirStamp> CurrentStamps() const;

  ShellPaths paths_;
  std::string opener_;
  // Lower-cased executable path -> Icon= value of the first desktop entry that starts it.
  std::map<std::string, std::string> iconNameByExe_;
  // Caches, emptied with every rebuild of the index.
  std::map<std::string, std::string> iconFileByName_;
  std::map<std::string, framework::Icon> iconByFile_;
  std::map<std::string, std::string> iconFileByExe_;
  bool genericResolved_ = false;
  std::string genericFile_;
  framework::Icon genericIcon_;
  std::vector<DirStamp> stamps_;
  bool indexed_ = false;
  // A directory changed so close to the build that a later change may carry the same time stamp:
  // the index is built once more when that uncertainty has passed.
  bool racy_ = false;
  std::int64_t racyRecheckNs_ = 0;
  int indexBuilds_ = 0;
};

// The program a desktop entry's Exec= value starts: its first word, unquoted, past a leading
// "env NAME=value ..."; empty when there is none.
std::string DesktopExecProgram(const std::string& exec);

}  // namespace platform
