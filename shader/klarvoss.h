// The Klarvoss shader's exported entry points and its parameter block.
#pragma once

#include "host/records.h"
#include "host/visibility.h"

extern "C" {

// The parameter block the host builds for each instance, in the order of
// the shader's declaration in Klarvoss.mi.
struct Klarvoss_params {
  miBoolean use_color;  // whether `color` replaces the traced colour
  miColor color;
};

// The shader's version; the declaration file states the same number.
KLARVOSS_EXPORT int Klarvoss_version(void);

// With a null `params` (the call for the shader as a whole): asks for one
// call per instance through `inst_req` and touches nothing else. With an
// instance's block: arms the instance's one warning again.
KLARVOSS_EXPORT void Klarvoss_init(miState* state, Klarvoss_params* params,
                                   miBoolean* inst_req);

// Shades one eye ray: traces it through the host, warns once per instance,
// and when `use_color` is set replaces the traced colour with `color` and
// returns 1. Returns 0, leaving the traced colour, otherwise or when the
// trace fails.
KLARVOSS_EXPORT miBoolean Klarvoss(miColor* result, miState* state, Klarvoss_params* params);

}  // extern "C"

static_assert(offsetof(Klarvoss_params, use_color) == 0);
static_assert(offsetof(Klarvoss_params, color) == 4);
