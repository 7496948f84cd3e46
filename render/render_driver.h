// The render driver: renders the filter for the final image (renderMode 0), for the
// preview buffer (renderMode 1) or into an internal image (renderMode 2). It
// sets up the working rectangle and the host's rectangles, lets the product prepare its
// tables, runs the worker pool, and puts back every host field and setting it changed.
#pragma once

#include "host/host_abi.h"

// The area the current render covers; saved and restored around every render.
extern VRect gWorkingRect;

// Renders the whole filter rectangle into the host's image; returns the result for the
// host (0, -128 on cancel, or the host's error).
OSErr RenderFinal();
struct TiledImage;
// Renders an internal image (formats 3, 4 or 9) in place: each pixel is read from level
// 0 and the result written back. Used by the exports, and in tests against RenderFinal.
OSErr RenderIntoImage(TiledImage* image);

// Renders the state record's view rectangle into the preview buffer at previewScale
// (the buffer is allocated anew for the region). Returns the plug-in's result.
OSErr RenderPreview();
