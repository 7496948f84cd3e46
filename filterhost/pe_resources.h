// Reads a Windows PE module (32- or 64-bit) from memory without the system loader:
// headers, sections, resources, exported names and imported DLL names.
//
// Every offset, count and length taken from the file is checked against the bytes
// actually present; a truncated, corrupt or foreign file yields a false result and an
// error text, never a read outside the buffer or an endless walk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kPeMachineI386 = 0x014c;
constexpr uint16_t kPeMachineAmd64 = 0x8664;
constexpr uint32_t kLanguageEnglishUs = 1033;

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;  // file offset of the section's bytes
  uint32_t rawSize = 0;
};

struct PeDataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

struct PeImage {
  std::vector<uint8_t> bytes;  // the whole file; every other field describes it
  uint16_t machine = 0;
  bool isPe32Plus = false;
  bool isDll = false;
  std::vector<PeSection> sections;
  PeDataDirectory exportDirectory;
  PeDataDirectory importDirectory;
  PeDataDirectory resourceDirectory;
};

// One leaf of the resource tree (type / name / language).
struct PeResource {
  std::string typeName;  // UTF-8 when the type is named ("PIPL"); empty for numbered types
  uint32_t typeId = 0;   // for numbered types
  std::string name;      // UTF-8 when the resource is named; empty for numbered ones
  uint32_t id = 0;       // for numbered resources
  uint32_t language = 0;
  uint32_t dataRva = 0;
  uint32_t size = 0;
};

enum class PeLookup { found, notFound, corrupt };

// Reads a whole file (refusing absurdly large ones).
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Checks the DOS, PE, COFF and optional headers and the section table; takes the bytes.
bool ParsePeImage(std::vector<uint8_t> bytes, PeImage* image, std::string* error);

// "i386", "x86-64", ... or "unknown".
const char* PeMachineName(uint16_t machine);

// Every leaf of the resource tree, in directory order. A module without resources
// gives an empty list.
bool ListPeResources(const PeImage& image, std::vector<PeResource>* resources,
                     std::string* error);

// The bytes of one leaf.
bool ReadPeResourceData(const PeImage& image, const PeResource& resource,
                        std::vector<uint8_t>* data, std::string* error);

// The bytes of the resource with a named type (compared without regard to ASCII case),
// a number and a language.
PeLookup FindPeResource(const PeImage& image, const std::string& typeName, uint32_t id,
                        uint32_t language, std::vector<uint8_t>* data, std::string* error);

// Names in the export name table, as stored (a cdecl entry point appears undecorated).
bool ListPeExportNames(const PeImage& image, std::vector<std::string>* names, std::string* error);

// DLL names of the import directory, as stored.
bool ListPeImportNames(const PeImage& image, std::vector<std::string>* dllNames,
                       std::string* error);
