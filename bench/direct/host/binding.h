// Stands in for the binding layer when the shader is built as the baseline:
// the host entry points are declared as imports, resolved by the dynamic
// loader when the library is loaded, as an import library would have them.
#pragma once

#include "host/entry_points.h"

extern "C" {
#define KLARVOSS_DECLARE_IMPORT(name, slot, result, params) result name params;
KLARVOSS_HOST_ENTRY_POINTS(KLARVOSS_DECLARE_IMPORT)
#undef KLARVOSS_DECLARE_IMPORT
}
