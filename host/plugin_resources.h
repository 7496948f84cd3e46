// Builds the bytes of a module's two resources from its product table: the plug-in
// property list (PiPL) that puts the filter into the host's menu, and the scripting
// dictionary (AETE) that names its event and parameters for the action recorder.
#pragma once

#include <cstdint>
#include <vector>

#include "products/product_info.h"

constexpr int kResourceNumber = 16000;

// Windows binary form: little-endian, a leading word 1, properties padded to 4 bytes
// with the padded length recorded. `for64Bit` selects the '8664' entry point.
std::vector<uint8_t> BuildPipl(const ProductInfo& product, bool for64Bit);
// Windows binary form: little-endian, no alignment after strings.
std::vector<uint8_t> BuildAete(const ProductInfo& product);
