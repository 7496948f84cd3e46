// The test host's descriptor store: a recorded descriptor is an ordered list of
// (key, type, value) items, kept in a handle's bytes in the host's own format.
//
// Byte format (native byte order, only ever read back by this host): the tag 'TDS1',
// a uint32 item count, then per item the key and type codes followed by the value:
// 'long' int32; 'doub' double; 'UntF' unit code + double; 'bool' one byte;
// 'enum' enumeration type + code; 'type' and 'GlbC' a class code; 'TEXT' and 'alis'
// a uint32 length + bytes; 'Objc' and 'GlbO' a class code + length + bytes;
// 'obj ' a length + the bytes of a PIDescriptorSimpleReference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_abi.h"

constexpr DescriptorTypeID kTypeUnitFloat = FourCC("UntF");
constexpr DescriptorTypeID kTypeAlias = FourCC("alis");
constexpr DescriptorTypeID kTypeClass = FourCC("type");
constexpr DescriptorTypeID kTypeSimpleReference = FourCC("obj ");
constexpr DescriptorTypeID kTypeObject = FourCC("Objc");
constexpr DescriptorTypeID kTypeScopedClass = FourCC("GlbC");
constexpr DescriptorTypeID kTypeScopedObject = FourCC("GlbO");

// One recorded item. Which fields carry the value depends on `type`:
// typeInteger and counts: `integer`; typeBoolean: `integer` 0/1; typeFloat: `number`;
// kTypeUnitFloat: `unit` + `number`; typeEnumerated: `enumType` + `enumValue`;
// class codes (kTypeClass, kTypeScopedClass): `classID`; text, alias, strings and
// references: `bytes`; objects: `classID` + `bytes`.
struct DescriptorItem {
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;
  int32_t integer = 0;
  double number = 0.0;
  DescriptorUnitID unit = 0;
  DescriptorTypeID enumType = 0;
  DescriptorEnumID enumValue = 0;
  DescriptorClassID classID = 0;
  std::string bytes;
};

DescriptorItem IntegerItem(DescriptorKeyID key, int32_t value);
DescriptorItem FloatItem(DescriptorKeyID key, double value);
DescriptorItem BooleanItem(DescriptorKeyID key, bool value);
DescriptorItem EnumeratedItem(DescriptorKeyID key, DescriptorTypeID enumType,
                              DescriptorEnumID value);
DescriptorItem TextItem(DescriptorKeyID key, const std::string& text);

// The first item with the key, or null.
const DescriptorItem* FindDescriptorItem(const std::vector<DescriptorItem>& items,
                                         DescriptorKeyID key);

std::vector<uint8_t> SerializeDescriptor(const std::vector<DescriptorItem>& items);
// False (and no items) for bytes that are not a complete descriptor in this format.
bool ParseDescriptor(const uint8_t* bytes, size_t size, std::vector<DescriptorItem>* items);

// "GLUE" for FourCC("GLUE"); for messages.
std::string FourCCText(uint32_t code);  // defined with the module information
