// The Win32 backend's blocks of controls added at run time, on real windows under Wine: boxes
// beyond the template's eight in further columns, the window growing with them, and the block
// scrolling sideways once the window would outgrow the work area; the added boxes and the
// template's own answer clicks and keys as before.
//
// Usage: mavrin_test_blocks. Prints one line per check; the exit code is the number of failures.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <functional>
#include <vector>

#include "framework/dialog.h"
#include "framework/win32/win32_backend.h"
#include "res/resources.h"
#include "tests/support/box_columns.h"

namespace {

int g_failures = 0;

void Report(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

// Adds columns of boxes when it opens, then runs the checks from inside its modal loop.
class BlockDialog : public framework::CDialog {
 public:
  BlockDialog(int columns, std::function<void(BlockDialog&)> checks)
      : CDialog(IDD_CHANGE_CPU_ASSIGN), columns_(columns), checks_(std::move(checks)) {}
  std::vector<unsigned> clicked;
  RECT before{};

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    GetWindowRect(reinterpret_cast<HWND>(GetSafeHwnd()), &before);
    Report(AddControls(BoxColumns(columns_)), "the block's controls are made");
    SetTimer(1, 200);
    return true;
  }
  bool OnCommand(framework::WParam wParam, framework::LParam lParam) override {
    const unsigned id = framework::LowWord(wParam);
    if (id != IDOK && id != IDCANCEL && framework::HighWord(wParam) == BN_CLICKED) clicked.push_back(id);
    return CDialog::OnCommand(wParam, lParam);
  }

 private:
  void OnTimer(std::uintptr_t) {
    KillTimer(1);
    checks_(*this);
    EndDialog(IDOK);
  }
  static const framework::MessageMap* GetThisMessageMap() {
    static constexpr framework::MessageEntry kEntries[] = {framework::MapTimer<&BlockDialog::OnTimer>()};
    static constexpr framework::MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
    return &kMap;
  }
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  int columns_;
  std::function<void(BlockDialog&)> checks_;
};

HWND Box(BlockDialog& d, int id) {
  HWND dialog = reinterpret_cast<HWND>(d.GetSafeHwnd());
  if (HWND c = GetDlgItem(dialog, id)) return c;
  HWND block = FindWindowExA(dialog, nullptr, "MavrinControlBlock", nullptr);
  return block != nullptr ? GetDlgItem(block, id) : nullptr;
}

RECT Place(BlockDialog& d, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, reinterpret_cast<HWND>(d.GetSafeHwnd()), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  framework::SetResources(&res::ProgramResources());
  framework::win32::Win32Backend backend;
  framework::SetBackend(&backend);

  BlockDialog two(2, [](BlockDialog& d) {
    HWND dialog = reinterpret_cast<HWND>(d.GetSafeHwnd());
    RECT after{};
    GetWindowRect(dialog, &after);
    Report(FindWindowExA(dialog, nullptr, "MavrinControlBlock", nullptr) == nullptr,
           "two more columns fit: nothing scrolls");
    const RECT cpu4 = Place(d, Box(d, IDC_CPU4));
    const RECT cpu0 = Place(d, Box(d, IDC_CPU0));
    const int pitch = cpu4.left - cpu0.left;
    Report(Box(d, 2015) != nullptr && Place(d, Box(d, 2015)).left == cpu4.left + 2 * pitch &&
               Place(d, Box(d, 2015)).top == Place(d, Box(d, IDC_CPU3)).top,
           "CPU 15 sits two columns right of CPU 7, in CPU 3's row");
    Report((after.right - after.left) - (d.before.right - d.before.left) >= 2 * pitch - 1,
           "the window grew by two columns");
    Report(Place(d, GetDlgItem(dialog, IDOK)).left > Place(d, Box(d, 2015)).right,
           "OK moved along, right of the boxes");
    SendMessageA(Box(d, 2015), BM_CLICK, 0, 0);
    SendMessageA(Box(d, IDC_CPU2), BM_CLICK, 0, 0);
    Report(d.ButtonItem(2015).GetCheck() == BST_CHECKED, "an added box checks itself when clicked");
  });
  two.DoModal();
  Report(two.clicked == std::vector<unsigned>({2015, IDC_CPU2}), "the dialog heard both clicks, in order");

  BlockDialog many(254, [](BlockDialog& d) {
    HWND dialog = reinterpret_cast<HWND>(d.GetSafeHwnd());
    HWND block = FindWindowExA(dialog, nullptr, "MavrinControlBlock", nullptr);
    Report(block != nullptr, "1024 boxes scroll in a block of their own");
    RECT window{};
    RECT work{};
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    Report(window.right - window.left <= work.right - work.left, "the window fits the work area");
    Report(Box(d, IDC_CPU0) != nullptr && GetParent(Box(d, IDC_CPU0)) == block,
           "the template's boxes scroll with the others");
    HWND last = Box(d, 2008 + 1015);
    Report(last != nullptr, "CPU 1023 has a box");
    SendMessageA(last, BM_CLICK, 0, 0);
    SendMessageA(Box(d, IDC_CPU0), BM_CLICK, 0, 0);
    Report(d.ButtonItem(2008 + 1015).GetCheck() == BST_CHECKED && d.ButtonItem(IDC_CPU0).GetCheck() == BST_CHECKED,
           "boxes in the scrolling block check and read back through the dialog");
    SendMessageA(block, WM_HSCROLL, SB_RIGHT, 0);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(block, SB_HORZ, &info);
    RECT shown{};
    GetWindowRect(last, &shown);
    RECT area{};
    GetWindowRect(block, &area);
    Report(info.nPos > 0 && shown.right <= area.right && shown.left >= area.left,
           "scrolled to the end, CPU 1023 is in view");
  });
  many.DoModal();
  Report(many.clicked == std::vector<unsigned>({2008 + 1015, IDC_CPU0}), "the dialog heard the scrolled boxes' clicks");

  framework::SetBackend(nullptr);
  std::printf("%d failure(s)\n", g_failures);
  return g_failures;
}
