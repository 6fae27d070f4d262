// The stand-in renderer's scene: a procedural picture with black spots.
#pragma once

#include "host/records.h"

namespace standin {

// Traces the eye ray through image point (u, v), both 0..1. False where the
// ray leaves the lens's field (the picture's corners); `out` is then black.
bool trace_scene(float u, float v, miColor* out);

// The colour the renderer computes for a `color` parameter given as a ramp.
miColor ramp_color(float u, float v);

}  // namespace standin
