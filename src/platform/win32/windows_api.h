// The Windows headers this backend needs, in one place. MinGW's HID headers
// carry no C++ linkage guard, so they are wrapped here; and its inline
// NtCurrentTeb() trips -Warray-bounds at -O2, which is silenced for these
// headers only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <windows.h>
#include <mmsystem.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#pragma GCC diagnostic pop
