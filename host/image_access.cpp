// Reading and writing the host's rectangles in either coordinate width.
#include "host/image_access.h"

#include "host/plugin_globals.h"

bool UsesBigDocument() {
  return gFilterRecord->bigDocumentData &&
         gFilterRecord->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

static VRect Widen(const HostRect& r) { return {r.top, r.left, r.bottom, r.right}; }
static HostRect Narrow(const VRect& r) {
  return {int16_t(r.top), int16_t(r.left), int16_t(r.bottom), int16_t(r.right)};
}

VRect HostFilterRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->filterRect32
                           : Widen(gFilterRecord->filterRect);
}
VRect HostInRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->inRect32
                           : Widen(gFilterRecord->inRect);
}
VRect HostOutRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->outRect32
                           : Widen(gFilterRecord->outRect);
}
VRect HostMaskRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->maskRect32
                           : Widen(gFilterRecord->maskRect);
}
VPoint HostFloatCoord() {
  if (UsesBigDocument()) return gFilterRecord->bigDocumentData->floatCoord32;
  return {gFilterRecord->floatCoord.v, gFilterRecord->floatCoord.h};
}

void SetHostInRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->inRect32 = r;
  else gFilterRecord->inRect = Narrow(r);
}
void SetHostOutRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->outRect32 = r;
  else gFilterRecord->outRect = Narrow(r);
}
void SetHostMaskRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->maskRect32 = r;
  else gFilterRecord->maskRect = Narrow(r);
}

// Both coordinate widths are cleared: a host may look at either to decide that the
// plug-in wants nothing more.
void ClearHostRects() {
  const HostRect empty16 = {0, 0, 0, 0};
  gFilterRecord->inRect = empty16;
  gFilterRecord->outRect = empty16;
  gFilterRecord->maskRect = empty16;
  if (BigDocumentStruct* big = gFilterRecord->bigDocumentData) {
    const VRect empty = {0, 0, 0, 0};
    big->inRect32 = empty;
    big->outRect32 = empty;
    big->maskRect32 = empty;
  }
}
