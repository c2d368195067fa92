// The GDI+ flat interface as the picture library calls it. A handful of functions are linked
// as ordinary imports (start-up, stream decoding and encoding, encoder lists, the graphics of
// an image, solid fills, brush and pen deletion, text hints, smoothing, world transform and
// rectangle outlines); every other one goes through a binding slot in namespace `gdip`, so a
// system whose GDI+ lacks a rarely used function still runs until that function is called.
//
// mingw declares the flat functions inside Gdiplus::DllExports; the using-directive makes them
// visible as ::GdipXxx, which is where the binding macro looks for the system prototype. This
// header is private to picture/*.cpp.
#pragma once

#include "picture/gdiplus_types.h"

#include "runtime/binding.h"

using namespace Gdiplus::DllExports;

#define TAMBREL_GDIP(function) TAMBREL_BOUND(gdip, "gdiplus", function)
#define TAMBREL_SYS(library, function) TAMBREL_BOUND(sys, library, function)
