#pragma once
// The program's resources as data: dialog templates 100, 102, 130, 131 and 132, menu 129,
// string 101 and icon 128, which is drawn in code at each of its sizes. Templates, menu and string
// are those of the current language (res/texts.h).
#include <span>

#include "framework/resource_provider.h"
#include "framework/resource_types.h"
#include "res/resource.h"
#include "res/texts.h"

namespace res {

// nullptr when there is no such resource.
const framework::DialogTemplate* FindDialogTemplate(int id);
const framework::MenuTemplate* FindMenuTemplate(int id);
const char* FindString(int id);

// Every dialog template, in id order.
std::span<const framework::DialogTemplate* const> DialogTemplates();

// The edge lengths icon id is drawn at, largest first (empty: no such icon).
std::span<const int> IconSizes(int id);
// Draws icon id at size (one of IconSizes). False, leaving out empty, otherwise.
bool RenderIcon(int id, int size, framework::IconImage& out);

// All of the above for the framework, which the program installs with framework::SetResources.
const framework::IResourceProvider& ProgramResources();

}  // namespace res
