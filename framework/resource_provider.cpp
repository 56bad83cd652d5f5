#include "framework/resource_provider.h"

namespace framework {

namespace {

// Finding nothing rather than crashing keeps a program or test that forgot to install its
// resources debuggable: its dialogs fail to open instead of taking the process down.
class NoResources final : public IResourceProvider {
 public:
  const DialogTemplate* FindDialogTemplate(int) const override { return nullptr; }
  const MenuTemplate* FindMenuTemplate(int) const override { return nullptr; }
  const char* FindString(int) const override { return nullptr; }
  std::span<const int> IconSizes(int) const override { return {}; }
  bool RenderIcon(int, int, IconImage&) const override { return false; }
  const char* Text(BackendText) const override { return ""; }
  const char* LanguageCode() const override { return "en"; }
};

const NoResources kNoResources;
const IResourceProvider* g_resources = nullptr;

}  // namespace

void SetResources(const IResourceProvider* provider) { g_resources = provider; }

const IResourceProvider& Resources() { return g_resources != nullptr ? *g_resources : kNoResources; }

}  // namespace framework
