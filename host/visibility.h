// Symbol visibility. On ELF everything is hidden unless marked exported;
// on Windows the module-definition file alone decides what is exported.
#pragma once

#if defined(_WIN32)
#define KLARVOSS_EXPORT
#define KLARVOSS_HIDDEN
#else
#define KLARVOSS_EXPORT __attribute__((visibility("default")))
#define KLARVOSS_HIDDEN __attribute__((visibility("hidden")))
#endif
