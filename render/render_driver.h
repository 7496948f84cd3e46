// The render driver: renders the filter rectangle into the host image (final), the
// preview region into the preview buffer, or an internal image.
#pragma once

#include "host/host_abi.h"

// Renders the whole filter rectangle into the host's image; returns the result for the
// host (0, -128 on cancel, or the host's advanceState error).
OSErr RenderFinal();
