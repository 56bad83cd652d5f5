#pragma once
// The program's resources as the framework sees them: it finds templates, menus, strings and icons
// by id through whichever provider the program installed, as it reaches windows through the
// backend. The framework itself holds no program's data.
#include <span>

#include "framework/resource_types.h"

namespace framework {

// The texts a backend shows on its own, where the system would show its own words.
enum class BackendText {
  kErrorCaption,  // a message box asked without a caption
  kButtonOk,
  kButtonCancel,
  kButtonYes,
  kButtonNo,
  kSystemMenuMinimize,
  kSystemMenuClose,
};

class IResourceProvider {
 public:
  virtual ~IResourceProvider() = default;

  // nullptr when there is no such resource; what is found lives as long as the provider and
  // speaks the program's current language.
  virtual const DialogTemplate* FindDialogTemplate(int id) const = 0;
  virtual const MenuTemplate* FindMenuTemplate(int id) const = 0;
  virtual const char* FindString(int id) const = 0;
  // The edge lengths icon id is drawn at, largest first (empty: no such icon).
  virtual std::span<const int> IconSizes(int id) const = 0;
  // Draws icon id at size (one of IconSizes). False, leaving out empty, otherwise.
  virtual bool RenderIcon(int id, int size, IconImage& out) const = 0;
  virtual const char* Text(BackendText text) const = 0;
  // The current language as its two-letter code ("ja", "en"), for a toolkit's own texts.
  virtual const char* LanguageCode() const = 0;
};

// Installed by the program at start (and by tests), before the first dialog is made. Until then
// no resource is found and the backend's texts are empty.
void SetResources(const IResourceProvider* provider);
const IResourceProvider& Resources();

}  // namespace framework
