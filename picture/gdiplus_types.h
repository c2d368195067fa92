// GDI+'s types and structures for the library's public headers. The build leaves the COM
// declarations out of <windows.h> (WIN32_LEAN_AND_MEAN), and GDI+'s headers need them first.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <propidl.h>
#include <gdiplus.h>
