// The platform's own headers, for the Windows side of the platform layer only. Include this after every
// header of ours: the platform defines many of our constants' names (DRV_OPEN, REG_DWORD, IDOK) as macros.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The system headers need windows.h first.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on
