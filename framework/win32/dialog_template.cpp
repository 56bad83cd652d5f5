// The system headers come first: the framework's constants step aside for the system's own.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include "framework/win32/dialog_template.h"

#include <string>
#include <utility>

namespace framework::win32 {
namespace {

// Texts are in the ANSI code page; templates carry UTF-16.
std::wstring Widen(const char* text) {
  if (text == nullptr || text[0] == '\0') return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

class TemplateWriter {
 public:
  void Word(std::uint32_t value) { words_.push_back(static_cast<std::uint16_t>(value)); }
  void Dword(std::uint32_t value) {
    Word(value & 0xFFFFu);
    Word(value >> 16);
  }
  void Text(const char* text) {
    for (wchar_t c : Widen(text)) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void Ordinal(std::uint16_t value) {
    Word(0xFFFFu);
    Word(value);
  }
  void AlignDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<std::uint16_t> Take() { return std::move(words_); }

 private:
  std::vector<std::uint16_t> words_;
};

// The predefined control classes by ordinal; the list view by name.
constexpr std::uint16_t kButtonClass = 0x0080;
constexpr std::uint16_t kEditClass = 0x0081;
constexpr std::uint16_t kStaticClass = 0x0082;

}  // namespace

std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& tpl) {
  TemplateWriter w;
  const bool hasFont = tpl.fontFace != nullptr && tpl.fontFace[0] != '\0';
  std::uint32_t style = tpl.style & ~static_cast<std::uint32_t>(WS_VISIBLE);  // shown by the modal loop
  if (hasFont) {
    style |= DS_SETFONT;
  } else {
    style &= ~static_cast<std::uint32_t>(DS_SETFONT | DS_FIXEDSYS);
  }
  w.Word(1);        // dlgVer
  w.Word(0xFFFFu);  // signature: the extended form
  w.Dword(0);       // helpID
  w.Dword(tpl.exStyle);
  w.Dword(style);
  w.Word(static_cast<std::uint32_t>(tpl.controls.size()));
  w.Word(0);  // x
  w.Word(0);  // y
  w.Word(static_cast<std::uint32_t>(tpl.cx));
  w.Word(static_cast<std::uint32_t>(tpl.cy));
  w.Word(0);  // no menu
  w.Word(0);  // the system's dialog class
  w.Text(tpl.caption);
  if (hasFont) {
    w.Word(static_cast<std::uint32_t>(tpl.pointSize));
    w.Word(FW_NORMAL);
    w.Word(DEFAULT_CHARSET << 8);  // italic = 0, then the character set
    w.Text(tpl.fontFace);
  }
  for (const ControlTemplate& c : tpl.controls) {
    w.AlignDword();
    w.Dword(0);  // helpID
    w.Dword(c.exStyle);
    w.Dword(c.style);
    w.Word(static_cast<std::uint32_t>(c.x));
    w.Word(static_cast<std::uint32_t>(c.y));
    w.Word(static_cast<std::uint32_t>(c.cx));
    w.Word(static_cast<std::uint32_t>(c.cy));
    w.Dword(static_cast<std::uint32_t>(c.id));
    switch (c.kind) {
      case ControlKind::PushButton:
      case ControlKind::CheckBox: w.Ordinal(kButtonClass); break;
      case ControlKind::Edit: w.Ordinal(kEditClass); break;
      case ControlKind::StaticText:
      case ControlKind::StaticIcon: w.Ordinal(kStaticClass); break;
      case ControlKind::ListView: w.Text(WC_LISTVIEWA); break;
    }
    if (c.kind == ControlKind::StaticIcon) {
      w.Ordinal(static_cast<std::uint16_t>(c.iconId));  // the icon resource of the program
    } else {
      w.Text(c.text);
    }
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace framework::win32
