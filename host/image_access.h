// Rectangles exchanged with the host: the filter, input, output and mask rectangles
// in 16-bit or, when the host offers big documents and the plug-in opted in, 32-bit
// coordinates.
#pragma once

#include "host/host_abi.h"

bool UsesBigDocument();
VRect HostFilterRect();
VRect HostInRect();
VRect HostOutRect();
VRect HostMaskRect();
VPoint HostFloatCoord();
void SetHostInRect(const VRect& r);
void SetHostOutRect(const VRect& r);
void SetHostMaskRect(const VRect& r);
// Empty input, output and mask rectangles: the host requests nothing more.
void ClearHostRects();

inline int32_t RectWidth(const VRect& r) { return r.right - r.left; }
inline int32_t RectHeight(const VRect& r) { return r.bottom - r.top; }
