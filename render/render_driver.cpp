// The render driver. The product kernels and the worker pool plug in here.
#include "render/render_driver.h"

OSErr RenderFinal() { return noErr; }
