#include "standin/scene.h"

#include <cmath>

namespace standin {

namespace {

struct Disc {
  float x, y, radius;
  miColor color;
};

constexpr Disc discs[] = {
    {0.30f, 0.55f, 0.18f, {0.85f, 0.25f, 0.20f, 1}},
    {0.62f, 0.45f, 0.22f, {0.20f, 0.55f, 0.85f, 1}},
    {0.48f, 0.75f, 0.12f, {0.30f, 0.80f, 0.35f, 1}},
};

float distance(float ax, float ay, float bx, float by) { return std::hypot(ax - bx, ay - by); }

// The scene's flaw: a scatter of black spots on a regular lattice, jittered.
bool in_black_spot(float u, float v) {
  constexpr float cell = 1.0f / 9;
  const float cu = std::floor(u / cell), cv = std::floor(v / cell);
  const float jitter = std::fmod(std::sin(cu * 12.9898f + cv * 78.233f) * 43758.547f, 1.0f);
  if (std::fabs(jitter) < 0.45f) return false;
  const float sx = (cu + 0.5f) * cell + 0.25f * cell * jitter;
  const float sy = (cv + 0.5f) * cell - 0.2f * cell * jitter;
  return distance(u, v, sx, sy) < 0.16f * cell + 0.1f * cell * std::fabs(jitter);
}

}  // namespace

bool trace_scene(float u, float v, miColor* out) {
  if (distance(u, v, 0.5f, 0.5f) > 0.62f) {
    *out = {0, 0, 0, 1};
    return false;
  }
  miColor c{0.95f - 0.45f * v, 0.92f - 0.35f * v, 1.0f - 0.15f * v, 1};  // sky
  for (const Disc& d : discs) {
    const float r = distance(u, v, d.x, d.y);
    if (r < d.radius) {
      const float light = 1.0f - 0.6f * r / d.radius;
      c = {d.color.r * light, d.color.g * light, d.color.b * light, 1};
    }
  }
  if (in_black_spot(u, v)) c = {0, 0, 0, 1};
  *out = c;
  return true;
}

miColor ramp_color(float u, float v) { return {u, 0.35f + 0.3f * v, 1.0f - u, 1}; }

}  // namespace standin
