// Velvet Hue's declaration to the host: menu entry, modes and scripting dictionary.
#include "glue/glue_catalogue.h"
#include "products/product_info.h"

namespace {
const ScriptParameter kVelvetHueParameters[] = {
    {"glue", kGlueKey, kGlueEnumType, 0xA000},
    {"gamma", kParamKey('0', '0', '0', '1'), kTypeLong, 0x8000},
    {"hue", kParamKey('0', '0', '0', '2'), kTypeLong, 0x8000},
    {"saturation", kParamKey('0', '0', '0', '3'), kTypeLong, 0x8000},
    {"luminance", kParamKey('0', '0', '0', '4'), kTypeLong, 0x8000},
    {"vibrance", kParamKey('0', '0', '0', '9'), kTypeLong, 0x8000},
};
}  // namespace

const ProductInfo kVelvetHueInfo = {
    "Velvet Hue",
    "Velvet Hue...",
    "Tallowmere",
    "Changes HSB color with realistic results",
    "Tallowmere",
    kParamKey('T', 'M', 'V', 'H'),
    "Tallowmere Velvet Hue",
    4,
    0,
    {0x10, 0x00},  // RGB only
    {"in (PSHOP_ImageMode, RGBMode,  RGB48Mode) ",
     "( in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode, Gray32Mode, "
     "RGB96Mode) ) && (PSHOP_ImageMode !=  MultichannelMode) "},
    {{1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 0}, {1, 1, 1, 0},
     {1, 1, 1, 0}},
    kVelvetHueParameters,
    int(sizeof kVelvetHueParameters / sizeof kVelvetHueParameters[0]),
    0,
    nullptr,
    0,
};
