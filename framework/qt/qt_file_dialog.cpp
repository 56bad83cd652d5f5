#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QPointer>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStyleOptionViewItem>
#include <QUrl>
#include <algorithm>

#include "framework/qt/qt_backend_private.h"
#include "framework/qt/qt_widgets.h"

namespace framework::qt {

namespace {

// Qt reads a filter's patterns from its last parenthesised group; the system's descriptions often
// show the pattern already ("Programs(*.exe)"), so it is added only when it is not there.
// A filter whose pattern is empty stands for "the files you may run": Linux names no suffix for
// them, so the dialog asks the file's permissions instead (ExecutableFiles below).
bool IsExecutableFilter(const std::pair<std::string, std::string>& filter) { return filter.second.empty(); }

QString NameFilter(const std::string& description, const std::string& pattern) {
  QString patterns = pattern.empty() ? QStringLiteral("*") : FromUtf8(pattern);
  patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
  const QString text = FromUtf8(description);
  if (!pattern.empty() && text.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')'))) return text;
  return text + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

// Qt keeps the file dialog's list of places at a width of its own (stored between runs), which cuts
// longer names such as Japanese "Computer": widen it to its widest entry.
void WidenPlaces(QFileDialog& dialog) {
  auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
  auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
  if (places == nullptr || splitter == nullptr || places->model() == nullptr || splitter->count() != 2) return;
  QStyleOptionViewItem option;
  option.initFrom(places);
  option.font = places->font();
  const int small = places->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, places);
  option.decorationSize = places->iconSize().isValid() ? places->iconSize() : QSize(small, small);
  int widest = 0;
  for (int row = 0; row < places->model()->rowCount(places->rootIndex()); ++row) {
    widest = std::max(
        widest, places->itemDelegate()->sizeHint(option, places->model()->index(row, 0, places->rootIndex())).width());
  }
  const int wanted = widest + 2 * places->frameWidth();
  QList<int> sizes = splitter->sizes();
  if (sizes[0] >= wanted) return;
  const int total = std::max(sizes[0] + sizes[1], dialog.sizeHint().width());
  splitter->setSizes({wanted, std::max(total - wanted, 1)});
}

// Shows folders and, while an executables filter is chosen, only files with execute permission.
class ExecutableFiles final : public QSortFilterProxyModel {
 public:
  explicit ExecutableFiles(QObject* parent) : QSortFilterProxyModel(parent) {}
  void SetOnlyExecutables(bool only) {
    if (only == only_) return;
    only_ = only;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (!only_) return true;
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) return true;
    const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
    return info.isDir() || (info.isFile() && info.isExecutable());
  }

 private:
  bool only_ = false;
};

}  // namespace

// ---- the file-open dialog ----

bool QtBackend::ShowFileOpen(WindowId owner, const FileOpenRequest& request, std::string& path) {
  if (Quitting()) return false;
  QFileDialog dialog;
  dialog.setWindowTitle(FromUtf8(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if ((request.flags & OFN_HIDEREADONLY) != 0) dialog.setOption(QFileDialog::ReadOnly, false);
  QStringList filters;
  bool detailsAdded = false;
  std::vector<bool> executables;
  for (const auto& filter : request.filters) {
    filters << NameFilter(filter.first, filter.second);
    detailsAdded = detailsAdded || filters.back() != FromUtf8(filter.first);
    executables.push_back(IsExecutableFilter(filter));
  }
  // Patterns we had to add for this system stay out of sight: the user sees the program's wording.
  if (detailsAdded) dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  ExecutableFiles* proxy = nullptr;
  if (std::find(executables.begin(), executables.end(), true) != executables.end()) {
    // A proxy model needs Qt's own dialog, not the desktop's.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    proxy = new ExecutableFiles(&dialog);
    dialog.setProxyModel(proxy);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [proxy, filters, executables](const QString& chosen) {
                       const qsizetype at = filters.indexOf(chosen);
                       proxy->SetOnlyExecutables(at >= 0 && executables[static_cast<std::size_t>(at)]);
                     });
  }
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = std::clamp(request.filterIndex, 1, static_cast<int>(filters.size())) - 1;
    dialog.selectNameFilter(filters[index]);
    if (proxy != nullptr) proxy->SetOnlyExecutables(executables[static_cast<std::size_t>(index)]);
  }
  if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
  // A wildcard as the initial name only repeats the filter; a real name is offered.
  const QString initial = FromUtf8(request.initialName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) && !initial.contains(QLatin1Char('?'))) {
    dialog.selectFile(initial);
  }
  WidenPlaces(dialog);
  // The process's current directory is never changed: the settings and log files live there.
  const QPointer<QWidget> outerDialog = openFileDialog_;
  openFileDialog_ = &dialog;
  RunNested(dialog, owner);
  openFileDialog_ = outerDialog;
  if (dialog.result() != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return false;
  path = ToUtf8(QFileInfo(chosen.front()).absoluteFilePath());
  return true;
}

// ---- shell ----

bool QtShell::OpenAddress(const std::string& address) {
  const QUrl url(FromUtf8(address));
  return url.isValid() && QDesktopServices::openUrl(url);
}

Icon QtShell::FileIcon(const std::string& path) {
  const QFileInfo info(FromUtf8(path));
  if (!info.exists()) return Icon{};
  QFileIconProvider provider;
  return FromQIcon(provider.icon(info), 16);
}

}  // namespace framework::qt
