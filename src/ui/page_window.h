// The page window: its class, its window procedure (which hands control events to the binding and
// refuses close requests) and the drawing of the controls that have no window of their own.
#pragma once
#include <windows.h>

namespace orv {

inline constexpr UINT_PTR kProgressTimerId = 1;

const wchar_t* pageWindowClass();

}  // namespace orv
