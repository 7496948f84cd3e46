// The render driver: renders the filter for the final image (renderMode 0), for the
// preview buffer (renderMode 1) or, later, into an internal image (renderMode 2). It
// sets up the working rectangle and the host's rectangles, lets the product prepare its
// tables, runs the worker pool, and puts back every host field and setting it changed.
#pragma once

#include "host/host_abi.h"

// The area the current render covers; saved and restored around every render.
extern VRect gWorkingRect;

// Renders the whole filter rectangle into the host's image; returns the result for the
// host (0, -128 on cancel, or the host's error).
OSErr RenderFinal();
// Renders the state record's view rectangle into the preview buffer at previewScale
// (the buffer is allocated anew for the region). Returns the plug-in's result.
OSErr RenderPreview();
