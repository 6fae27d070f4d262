#pragma once

namespace klarvoss {

// Given once per instance through the host. It holds no per-cent sign: the
// host takes it as a format.
inline constexpr char warning_text[] =
    "This scene contains black spots which are being scrubbed out by the Klarvoss shader. "
    "To eliminate the use of this shader, please mail this scene to "
    "scenes@klarvoss.example"
    " so that this problem can be rectified in future versions of Orvex and/or mental ray. "
    "Ta!";

}  // namespace klarvoss
