#pragma once
// The system builds a dialog's window and controls from a template in memory, so each of our
// templates is written out in the system's extended (DLGTEMPLATEEX) form.
#include <cstdint>
#include <vector>

#include "framework/resource_types.h"

namespace framework::win32 {

// The words of the extended template for tpl: shown by the modal loop rather than at creation,
// texts converted from the ANSI code page, icons by the program's resource ids.
std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& tpl);

}  // namespace framework::win32
