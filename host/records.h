// The host's records, as far as this library reads them.
//
// Every build, whatever its pointer width, uses the byte offsets of the
// host's 32-bit layout; the static_asserts below pin them.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using miBoolean = std::int32_t;  // 0 is false, anything else true
using miTag = std::uint32_t;
using miQ_type = std::int32_t;   // query code of mi_query

inline constexpr miBoolean miFALSE = 0;
inline constexpr miBoolean miTRUE = 1;

// The one query this library asks: the address of the instance's user word.
inline constexpr miQ_type miQ_FUNC_USERPTR = 51;

// Four components in the host's colour form; only ever copied whole.
struct miColor {
  float r, g, b, a;
};

struct miVector {
  float x, y, z;
};

// The shader function record: only the parameter indirection offset is read.
struct miFunction {
  unsigned char unread_[96];
  std::int32_t parameter_indirect;  // 0: every parameter is given in place
};

// The host's per-call shader state.
struct miState {
  unsigned char unread_head_[68];
  miVector org;  // ray origin
  miVector dir;  // ray direction
  unsigned char unread_mid_[256 - 92];
  miFunction* shader;  // record of the shader being called
};

}  // extern "C"

static_assert(sizeof(miBoolean) == 4);
static_assert(sizeof(miColor) == 16);
static_assert(offsetof(miFunction, parameter_indirect) == 96);
static_assert(offsetof(miState, org) == 68);
static_assert(offsetof(miState, dir) == 80);
static_assert(offsetof(miState, shader) == 256);
