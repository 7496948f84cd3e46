// A small PE reader of our own: headers, sections, the resource tree, export names and
// import DLL names, read straight from the file's bytes on any platform.
#include "filterhost/pe_resources.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Larger files are not plug-in modules; refusing them keeps a mistaken path cheap.
constexpr uint64_t kMaxFileSize = 512ull * 1024 * 1024;
// A resource tree is type / name / language; a hostile file can still share
// directories so that the walk multiplies, hence a cap on the leaves visited.
constexpr size_t kMaxResourceLeaves = 65536;
// For the same reason, a cap on the directory bytes (entries and names) one walk reads.
constexpr size_t kResourceWalkBudget = 64u * 1024 * 1024;
constexpr size_t kMaxNameLength = 4096;
constexpr size_t kMaxImports = 4096;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Finds the file bytes behind [rva, rva + length). Only bytes stored in the file count:
// the zero fill a loader adds past a section's raw data never holds resources or names.
bool MapRva(const PeImage& image, uint64_t rva, uint64_t length, const uint8_t** out,
            std::string* error, const char* what) {
  for (const PeSection& s : image.sections) {
    uint64_t span = s.virtualSize ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva >= uint64_t(s.virtualAddress) + span) continue;
    uint64_t offset = rva - s.virtualAddress;
    if (offset + length > s.rawSize)
      return Fail(error, std::string(what) + " at RVA " + Hex(rva) + " (" +
                             std::to_string(length) + " bytes) runs past the data of section '" +
                             s.name + "'");
    uint64_t fileOffset = uint64_t(s.rawOffset) + offset;
    if (fileOffset + length > image.bytes.size())
      return Fail(error, std::string(what) + " at RVA " + Hex(rva) +
                             " lies past the end of the file (truncated?)");
    *out = image.bytes.data() + fileOffset;
    return true;
  }
  return Fail(error, std::string(what) + " at RVA " + Hex(rva) + " lies outside every section");
}

// A zero-terminated 8-bit name at an RVA, which must end inside its section.
bool ReadCString(const PeImage& image, uint32_t rva, std::string* text, std::string* error,
                 const char* what) {
  const uint8_t* first = nullptr;
  if (!MapRva(image, rva, 1, &first, error, what)) return false;
  text->clear();
  for (size_t i = 0; i < kMaxNameLength; ++i) {
    const uint8_t* p = nullptr;
    if (!MapRva(image, uint64_t(rva) + i, 1, &p, nullptr, what))
      return Fail(error, std::string(what) + " at RVA " + Hex(rva) + " has no terminator");
    if (*p == 0) return true;
    text->push_back(char(*p));
  }
  return Fail(error, std::string(what) + " at RVA " + Hex(rva) + " is longer than " +
                         std::to_string(kMaxNameLength) + " bytes");
}

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(char(c));
  } else if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  }
}

// ---- resource tree ---------------------------------------------------------------

struct ResourceEntry {
  bool isNamed = false;
  std::string name;      // UTF-8 when named
  uint32_t id = 0;       // when numbered
  bool isDirectory = false;
  uint32_t target = 0;   // offset from the tree's start
};

// Offsets inside the tree are relative to its start; this turns them into bytes.
bool MapTreeOffset(const PeImage& image, uint32_t offset, uint32_t length, const uint8_t** out,
                   std::string* error, const char* what) {
  return MapRva(image, uint64_t(image.resourceDirectory.rva) + offset, length, out, error, what);
}

bool SpendBudget(size_t* budget, size_t amount, std::string* error) {
  if (amount > *budget)
    return Fail(error, "the resource tree is too large or shares directories too often; "
                       "it is corrupt");
  *budget -= amount;
  return true;
}

bool ReadResourceName(const PeImage& image, uint32_t offset, std::string* name,
                      size_t* budget, std::string* error) {
  const uint8_t* p = nullptr;
  if (!MapTreeOffset(image, offset, 2, &p, error, "resource name")) return false;
  uint16_t count = Le16(p);
  if (!SpendBudget(budget, 2 + 2u * count, error)) return false;
  if (!MapTreeOffset(image, offset, 2 + 2u * count, &p, error, "resource name")) return false;
  name->clear();
  // Unpaired surrogates become U+FFFD; pairs are combined.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = Le16(p + 2 + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      uint32_t low = Le16(p + 4 + 2 * i);
      if (low >= 0xDC00 && low < 0xE000) {
        uint32_t full = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        name->push_back(char(0xF0 | (full >> 18)));
        name->push_back(char(0x80 | ((full >> 12) & 0x3F)));
        name->push_back(char(0x80 | ((full >> 6) & 0x3F)));
        name->push_back(char(0x80 | (full & 0x3F)));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    AppendUtf8(c, name);
  }
  return true;
}

bool ReadResourceDirectory(const PeImage& image, uint32_t offset,
                           std::vector<ResourceEntry>* entries, size_t* budget,
                           std::string* error) {
  const uint8_t* header = nullptr;
  if (!MapTreeOffset(image, offset, 16, &header, error, "resource directory")) return false;
  uint32_t count = uint32_t(Le16(header + 12)) + Le16(header + 14);
  if (!SpendBudget(budget, 16 + 8u * count, error)) return false;
  const uint8_t* table = nullptr;
  if (!MapTreeOffset(image, offset + 16u, 8 * count, &table, error,
                     "resource directory entries"))
    return false;
  entries->clear();
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = table + 8 * i;
    uint32_t nameField = Le32(e);
    uint32_t targetField = Le32(e + 4);
    ResourceEntry entry;
    entry.isNamed = (nameField & 0x80000000u) != 0;
    if (entry.isNamed) {
      if (!ReadResourceName(image, nameField & 0x7FFFFFFFu, &entry.name, budget, error)) return false;
    } else {
      entry.id = nameField;
    }
    entry.isDirectory = (targetField & 0x80000000u) != 0;
    entry.target = targetField & 0x7FFFFFFFu;
    entries->push_back(entry);
  }
  return true;
}

bool ReadDataEntry(const PeImage& image, uint32_t offset, PeResource* leaf, std::string* error) {
  const uint8_t* p = nullptr;
  if (!MapTreeOffset(image, offset, 16, &p, error, "resource data entry")) return false;
  leaf->dataRva = Le32(p);
  leaf->size = Le32(p + 4);
  return true;
}

bool NamesEqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = x - 'a' + 'A';
    if (y >= 'a' && y <= 'z') y = y - 'a' + 'A';
    if (x != y) return false;
  }
  return true;
}

// A directory that points back at one of its ancestors would make the walk endless.
bool CheckNoLoop(const std::vector<uint32_t>& ancestors, uint32_t target, std::string* error) {
  for (uint32_t a : ancestors)
    if (a == target)
      return Fail(error, "the resource tree loops back to the directory at offset " + Hex(target));
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Fail(error, "cannot open '" + path + "': " + std::strerror(errno));
  // Read in chunks rather than trusting a size query: that also serves pipes and turns
  // a directory into a read error instead of a bogus size.
  bytes->clear();
  uint8_t chunk[65536];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (bytes->size() > kMaxFileSize) {
      std::fclose(f);
      return Fail(error, "'" + path + "' is too large to be a plug-in module");
    }
    if (got < sizeof chunk) break;
  }
  bool failed = std::ferror(f) != 0;
  int code = errno;
  std::fclose(f);
  if (failed) return Fail(error, "cannot read '" + path + "': " + std::strerror(code));
  return true;
}

bool ParsePeImage(std::vector<uint8_t> bytes, PeImage* image, std::string* error) {
  *image = PeImage();
  image->bytes = std::move(bytes);
  const std::vector<uint8_t>& b = image->bytes;
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z')
    return Fail(error, "not a Windows module: no 'MZ' header");
  uint32_t pe = Le32(&b[0x3C]);
  if (uint64_t(pe) + 24 > b.size())
    return Fail(error, "not a PE module: the PE header offset " + Hex(pe) +
                           " lies past the end of the file");
  if (std::memcmp(&b[pe], "PE\0\0", 4) != 0)
    return Fail(error, "not a PE module: no 'PE' signature at offset " + Hex(pe));
  const uint8_t* coff = &b[pe + 4];
  image->machine = Le16(coff);
  uint16_t sectionCount = Le16(coff + 2);
  uint16_t optionalSize = Le16(coff + 16);
  image->isDll = (Le16(coff + 18) & 0x2000) != 0;

  uint64_t optional = uint64_t(pe) + 24;
  if (optionalSize < 2 || optional + optionalSize > b.size())
    return Fail(error, "the optional header (" + std::to_string(optionalSize) +
                           " bytes) does not fit in the file");
  uint16_t magic = Le16(&b[optional]);
  uint32_t countField, directoriesAt;
  if (magic == 0x10B) {
    countField = 92;
    directoriesAt = 96;
  } else if (magic == 0x20B) {
    image->isPe32Plus = true;
    countField = 108;
    directoriesAt = 112;
  } else {
    return Fail(error, "unknown optional header magic " + Hex(magic) +
                           " (expected 0x10b for PE32 or 0x20b for PE32+)");
  }
  if (optionalSize < directoriesAt)
    return Fail(error, "the optional header is too short (" + std::to_string(optionalSize) +
                           " bytes) for a " + (image->isPe32Plus ? "PE32+" : "PE32") + " image");
  uint32_t directoryCount = Le32(&b[optional + countField]);
  PeDataDirectory* wanted[3] = {&image->exportDirectory, &image->importDirectory,
                                &image->resourceDirectory};
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t at = directoriesAt + 8 * i;
    if (i >= directoryCount || at + 8 > optionalSize) break;
    wanted[i]->rva = Le32(&b[optional + at]);
    wanted[i]->size = Le32(&b[optional + at + 4]);
  }

  uint64_t table = optional + optionalSize;
  if (table + 40ull * sectionCount > b.size())
    return Fail(error, "the section table (" + std::to_string(sectionCount) +
                           " sections) runs past the end of the file");
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &b[table + 40ull * i];
    PeSection section;
    size_t nameLength = 0;
    while (nameLength < 8 && s[nameLength]) ++nameLength;
    section.name.assign(reinterpret_cast<const char*>(s), nameLength);
    section.virtualSize = Le32(s + 8);
    section.virtualAddress = Le32(s + 12);
    section.rawSize = Le32(s + 16);
    section.rawOffset = Le32(s + 20);
    if (section.rawSize && uint64_t(section.rawOffset) + section.rawSize > b.size())
      return Fail(error, "section '" + section.name + "' runs past the end of the file (" +
                             std::to_string(b.size()) + " bytes; truncated?)");
    image->sections.push_back(section);
  }
  return true;
}

const char* PeMachineName(uint16_t machine) {
  switch (machine) {
    case kPeMachineI386: return "i386";
    case kPeMachineAmd64: return "x86-64";
    case 0xAA64: return "arm64";
    case 0x01C4: return "arm";
    default: return "unknown";
  }
}

bool ListPeResources(const PeImage& image, std::vector<PeResource>* resources,
                     std::string* error) {
  resources->clear();
  if (image.resourceDirectory.rva == 0) return true;
  std::vector<ResourceEntry> types, names, languages;
  size_t budget = kResourceWalkBudget;
  if (!ReadResourceDirectory(image, 0, &types, &budget, error)) return false;
  for (const ResourceEntry& type : types) {
    if (!type.isDirectory)
      return Fail(error, "resource type entry points at data instead of a directory");
    if (!CheckNoLoop({0}, type.target, error)) return false;
    if (!ReadResourceDirectory(image, type.target, &names, &budget, error)) return false;
    for (const ResourceEntry& name : names) {
      if (!name.isDirectory)
        return Fail(error, "resource name entry points at data instead of a directory");
      if (!CheckNoLoop({0, type.target}, name.target, error)) return false;
      if (!ReadResourceDirectory(image, name.target, &languages, &budget, error)) return false;
      for (const ResourceEntry& language : languages) {
        if (language.isDirectory) {
          if (!CheckNoLoop({0, type.target, name.target}, language.target, error)) return false;
          return Fail(error, "the resource tree is deeper than type / name / language");
        }
        if (resources->size() >= kMaxResourceLeaves)
          return Fail(error, "more than " + std::to_string(kMaxResourceLeaves) +
                                 " resources; the resource tree is corrupt");
        PeResource leaf;
        leaf.typeName = type.isNamed ? type.name : std::string();
        leaf.typeId = type.id;
        leaf.name = name.isNamed ? name.name : std::string();
        leaf.id = name.id;
        leaf.language = language.id;
        if (!ReadDataEntry(image, language.target, &leaf, error)) return false;
        resources->push_back(leaf);
      }
    }
  }
  return true;
}

bool ReadPeResourceData(const PeImage& image, const PeResource& resource,
                        std::vector<uint8_t>* data, std::string* error) {
  const uint8_t* p = nullptr;
  if (!MapRva(image, resource.dataRva, resource.size, &p, error, "resource data")) return false;
  data->assign(p, p + resource.size);
  return true;
}

PeLookup FindPeResource(const PeImage& image, const std::string& typeName, uint32_t id,
                        uint32_t language, std::vector<uint8_t>* data, std::string* error) {
  if (image.resourceDirectory.rva == 0) return PeLookup::notFound;
  std::vector<ResourceEntry> entries;
  // Walks exactly three levels, so a looping tree cannot keep it going.
  uint32_t directory = 0;
  size_t budget = kResourceWalkBudget;
  for (int level = 0; level < 3; ++level) {
    if (!ReadResourceDirectory(image, directory, &entries, &budget, error)) return PeLookup::corrupt;
    const ResourceEntry* match = nullptr;
    for (const ResourceEntry& e : entries) {
      bool hit = level == 0   ? e.isNamed && NamesEqualIgnoringCase(e.name, typeName)
                 : level == 1 ? !e.isNamed && e.id == id
                              : !e.isNamed && e.id == language;
      if (hit) {
        match = &e;
        break;
      }
    }
    if (!match) return PeLookup::notFound;
    if (match->isDirectory != (level < 2)) {
      Fail(error, level < 2 ? "a resource directory entry points at data"
                            : "the resource tree is deeper than type / name / language");
      return PeLookup::corrupt;
    }
    directory = match->target;
  }
  PeResource leaf;
  if (!ReadDataEntry(image, directory, &leaf, error) || !ReadPeResourceData(image, leaf, data, error))
    return PeLookup::corrupt;
  return PeLookup::found;
}

bool ListPeExportNames(const PeImage& image, std::vector<std::string>* names,
                       std::string* error) {
  names->clear();
  if (image.exportDirectory.rva == 0) return true;
  const uint8_t* d = nullptr;
  if (!MapRva(image, image.exportDirectory.rva, 40, &d, error, "export directory")) return false;
  uint32_t nameCount = Le32(d + 24);
  uint32_t nameTable = Le32(d + 32);
  if (nameCount == 0) return true;  // ordinal-only exports leave the table address at 0
  const uint8_t* table = nullptr;
  if (!MapRva(image, nameTable, 4ull * nameCount, &table, error, "export name table"))
    return false;
  for (uint32_t i = 0; i < nameCount; ++i) {
    std::string name;
    if (!ReadCString(image, Le32(table + 4 * i), &name, error, "export name")) return false;
    names->push_back(name);
  }
  return true;
}

bool ListPeImportNames(const PeImage& image, std::vector<std::string>* dllNames,
                       std::string* error) {
  dllNames->clear();
  if (image.importDirectory.rva == 0) return true;
  // The descriptor array ends with an all-zero entry; its declared size is not reliable.
  for (size_t i = 0;; ++i) {
    if (i >= kMaxImports)
      return Fail(error, "the import directory has no terminating entry");
    const uint8_t* d = nullptr;
    if (!MapRva(image, uint64_t(image.importDirectory.rva) + 20 * i, 20, &d, error,
                "import descriptor"))
      return false;
    static const uint8_t kZero[20] = {};
    if (std::memcmp(d, kZero, 20) == 0) return true;
    std::string name;
    if (!ReadCString(image, Le32(d + 12), &name, error, "imported DLL name")) return false;
    dllNames->push_back(name);
  }
}
