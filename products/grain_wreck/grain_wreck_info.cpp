// Grain Wreck's declaration to the host: menu entry, modes and scripting dictionary.
#include "glue/glue_catalogue.h"
#include "products/product_info.h"

namespace {
const ScriptParameter kGrainWreckParameters[] = {
    {"glue", kGlueKey, kGlueEnumType, 0xA000},
    {"colors", kColorsKey, kColorsEnumType, 0xA000},
    {"radius", kParamKey('0', '0', '0', '3'), kTypeLong, 0x8000},
    {"coarseness", kParamKey('0', '0', '0', '4'), kTypeLong, 0x8000},
    {"range", kParamKey('0', '0', '0', '5'), kTypeLong, 0x8000},
    {"sharpen", kParamKey('0', '0', '0', '6'), kTypeLong, 0x8000},
};
const ScriptEnumerator kColorsEnumerators[] = {
    {"black/white", kParamKey('G', 'W', '0', '1')},
    {"8 colors", kParamKey('G', 'W', '0', '2')},
    {"greys", kParamKey('G', 'W', '0', '3')},
};
}  // namespace

const ProductInfo kGrainWreckInfo = {
    "Grain Wreck",
    "Grain Wreck...",
    "Tallowmere",
    "Degrades images straight back to the 1980s",
    "Tallowmere",
    kParamKey('T', 'm', 'g', 'w'),
    "Tallowmere Grain Wreck",
    4,
    0,
    {0x50, 0x00},  // greyscale and RGB
    {"in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode) ",
     "( in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode, Gray32Mode, "
     "RGB96Mode) ) && (PSHOP_ImageMode !=  MultichannelMode) "},
    {{2, 1, 1, 0}, {2, 1, 3, 0}, {2, 1, 3, 0}, {2, 1, 3, 0}, {2, 1, 3, 0}, {2, 1, 3, 0},
     {2, 1, 3, 0}},
    kGrainWreckParameters,
    int(sizeof kGrainWreckParameters / sizeof kGrainWreckParameters[0]),
    kColorsEnumType,
    kColorsEnumerators,
    int(sizeof kColorsEnumerators / sizeof kColorsEnumerators[0]),
};
