// Image files of the command-line host: round trips, PNG decoding paths, the 16-bit host
// mapping, depth conversions, and hostile files that must fail cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "filterhost/image_convert.h"
#include "filterhost/image_files.h"
#include "platform/platform.h"

namespace {

// ---- helpers ----------------------------------------------------------------------

std::string TempPath(const std::string& name) {
  char folder[kPathMax];
  PlatformTempFolder(folder, sizeof folder);
  return std::string(folder) + "tallow_image_files_" + std::to_string(PlatformTickMs()) + "_" +
         name;
}

// A file that removes itself when the test ends.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& name) : path(TempPath(name)) {}
  ~TempFile() { PlatformFileDelete(path.c_str()); }
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  PlatformFile* file = PlatformFileOpen(path.c_str(), kFileWriteTruncate);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(PlatformFileWrite(file, bytes.data(), bytes.size()), int64_t(bytes.size()));
  PlatformFileClose(file);
}

// A small asymmetric image whose samples differ by position and channel and include both
// ends of the range, so flips, swaps and byte-order mistakes all show.
FileImage MakeTestImage(int32_t width, int32_t height, int channels, int bits) {
  FileImage image;
  std::string error;
  EXPECT_TRUE(AllocateFileImage(&image, width, height, channels, bits, &error)) << error;
  uint32_t state = 12345u + uint32_t(channels * 31 + bits);
  const size_t count = image.samples.size() / size_t(FileSampleBytes(bits));
  for (size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    uint32_t r = state >> 8;
    if (bits == 8) {
      image.samples[i] = i == 0 ? 0 : i == 1 ? 255 : uint8_t(r);
    } else if (bits == 16) {
      uint16_t v = i == 0 ? 0 : i == 1 ? 65535 : i == 2 ? 1 : uint16_t(r);
      std::memcpy(image.samples.data() + 2 * i, &v, 2);
    } else {
      float v = i == 0 ? 0.0f : i == 1 ? 1.0f : i == 2 ? -2.5f : float(r % 100000) / 37000.0f;
      std::memcpy(image.samples.data() + 4 * i, &v, 4);
    }
  }
  return image;
}

void ExpectSameImage(const FileImage& expected, const FileImage& actual) {
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
  EXPECT_EQ(actual.channels, expected.channels);
  EXPECT_EQ(actual.bitsPerSample, expected.bitsPerSample);
  EXPECT_TRUE(actual.samples == expected.samples) << "samples differ";
}

// ---- a PNG writer of our own for the decoder's other paths ---------------------------

void AppendU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void AppendChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
  AppendU32(out, uint32_t(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out->insert(out->end(), typed.begin(), typed.end());
  AppendU32(out, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

std::vector<uint8_t> Ihdr(uint32_t width, uint32_t height, int depth, int colour,
                          int interlace = 0) {
  std::vector<uint8_t> data;
  AppendU32(&data, width);
  AppendU32(&data, height);
  data.insert(data.end(), {uint8_t(depth), uint8_t(colour), 0, 0, uint8_t(interlace)});
  return data;
}

struct PngChunk {
  const char* type;
  std::vector<uint8_t> data;
};

// Signature, IHDR, the extra chunks, `raw` (filter bytes included) deflated into IDAT
// chunks of `idatPiece` bytes, IEND.
std::vector<uint8_t> BuildPng(const std::vector<uint8_t>& ihdr, const std::vector<PngChunk>& extra,
                              const std::vector<uint8_t>& raw, size_t idatPiece = 1 << 20) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  AppendChunk(&png, "IHDR", ihdr);
  for (const PngChunk& chunk : extra) AppendChunk(&png, chunk.type, chunk.data);
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  EXPECT_EQ(compress(packed.data(), &packedSize, raw.data(), uLong(raw.size())), Z_OK);
  packed.resize(packedSize);
  for (size_t at = 0; at < packed.size(); at += idatPiece) {
    size_t n = std::min(idatPiece, packed.size() - at);
    AppendChunk(&png, "IDAT",
                std::vector<uint8_t>(packed.begin() + long(at), packed.begin() + long(at + n)));
  }
  AppendChunk(&png, "IEND", {});
  return png;
}

int Paeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
}

// Filters packed rows with filter type (row % 5), so every filter appears.
std::vector<uint8_t> FilterRowsCycling(const std::vector<uint8_t>& rows, size_t rowBytes,
                                       size_t bpp) {
  std::vector<uint8_t> raw;
  size_t height = rows.size() / rowBytes;
  for (size_t y = 0; y < height; ++y) {
    int filter = int(y % 5);
    raw.push_back(uint8_t(filter));
    const uint8_t* row = rows.data() + y * rowBytes;
    const uint8_t* prior = y ? row - rowBytes : nullptr;
    for (size_t i = 0; i < rowBytes; ++i) {
      int a = i >= bpp ? row[i - bpp] : 0, b = prior ? prior[i] : 0,
          c = (prior && i >= bpp) ? prior[i - bpp] : 0;
      int predicted[5] = {0, a, b, (a + b) / 2, Paeth(a, b, c)};
      raw.push_back(uint8_t(row[i] - predicted[filter]));
    }
  }
  return raw;
}

// Big-endian packed rows of an 8/16-bit image, as PNG stores them.
std::vector<uint8_t> PackedRows(const FileImage& image) {
  std::vector<uint8_t> rows(image.samples.size());
  for (size_t i = 0; i < rows.size(); i += size_t(FileSampleBytes(image.bitsPerSample))) {
    if (image.bitsPerSample == 16) {
      uint16_t v;
      std::memcpy(&v, image.samples.data() + i, 2);
      rows[i] = uint8_t(v >> 8);
      rows[i + 1] = uint8_t(v);
    } else {
      rows[i] = image.samples[i];
    }
  }
  return rows;
}

int PngColourType(int channels) {
  return channels == 1 ? 0 : channels == 2 ? 4 : channels == 3 ? 2 : 6;
}

std::vector<uint8_t> ValidPng() {
  return BuildPng(Ihdr(3, 2, 8, 2), {}, std::vector<uint8_t>(2 * 10, 0));
}

// ---- round trips -------------------------------------------------------------------

struct RoundTripCase {
  const char* extension;
  int channels;
  int bits;
};

TEST(ImageFileRoundTrip, EachFormatLayoutAndDepthComesBackExactly) {
  std::vector<RoundTripCase> cases;
  for (int bits : {8, 16}) {
    for (int channels = 1; channels <= 4; ++channels) {
      cases.push_back({"png", channels, bits});
      cases.push_back({"pam", channels, bits});
    }
    cases.push_back({"pgm", 1, bits});
    cases.push_back({"ppm", 3, bits});
  }
  cases.push_back({"pfm", 1, 32});
  cases.push_back({"pfm", 3, 32});
#ifndef _WIN32
  for (int bits : {8, 16, 32})
    for (int channels = 1; channels <= 4; ++channels) cases.push_back({"tif", channels, bits});
#endif
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(std::string(c.extension) + " channels " + std::to_string(c.channels) + " bits " +
                 std::to_string(c.bits));
    FileImage original = MakeTestImage(7, 5, c.channels, c.bits);
    TempFile file(std::string("round.") + c.extension);
    std::string error;
    ASSERT_TRUE(WriteImageFile(file.path, original, &error)) << error;
    FileImage loaded;
    ASSERT_TRUE(ReadImageFile(file.path, &loaded, &error)) << error;
    ExpectSameImage(original, loaded);
  }
}

#ifndef _WIN32
TEST(ImageFileRoundTrip, TiffUncompressedAndDeflateBothReadBack) {
  FileImage original = MakeTestImage(33, 9, 4, 16);
  for (bool deflate : {false, true}) {
    TempFile file("plain.tiff");
    std::string error;
    ImageWriteOptions options;
    options.tiffDeflate = deflate;
    ASSERT_TRUE(WriteImageFile(file.path, original, &error, options)) << error;
    FileImage loaded;
    ASSERT_TRUE(ReadImageFile(file.path, &loaded, &error)) << error;
    ExpectSameImage(original, loaded);
  }
}
#endif

TEST(ImageFileRoundTrip, LargerPngWithSmoothAndNoisyRowsSpansSeveralIdatChunks) {
  // Enough rows for more than one IDAT chunk and for the adaptive filter to pick
  // different filters: a gradient half and a noise half.
  FileImage image;
  std::string error;
  ASSERT_TRUE(AllocateFileImage(&image, 301, 400, 3, 16, &error)) << error;
  uint32_t state = 7;
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width * 3; ++x) {
      state = state * 1664525u + 1013904223u;
      uint16_t v = y < 200 ? uint16_t(x * 70 + y * 3) : uint16_t(state >> 16);
      std::memcpy(image.samples.data() + (size_t(y) * size_t(image.width) * 3 + size_t(x)) * 2, &v,
                  2);
    }
  }
  std::vector<uint8_t> png;
  ASSERT_TRUE(EncodeImageBytes(ImageFileFormat::kPng, image, &png, &error)) << error;
  FileImage loaded;
  ASSERT_TRUE(DecodeImageBytes(png.data(), png.size(), &loaded, &error)) << error;
  ExpectSameImage(image, loaded);
}

// ---- PNG decoding paths our writer does not produce ---------------------------------

TEST(PngDecode, EveryFilterTypeAndEveryLayoutUnfilters) {
  for (int bits : {8, 16}) {
    for (int channels = 1; channels <= 4; ++channels) {
      SCOPED_TRACE("channels " + std::to_string(channels) + " bits " + std::to_string(bits));
      FileImage image = MakeTestImage(9, 11, channels, bits);
      size_t bpp = size_t(channels * bits / 8);
      std::vector<uint8_t> raw = FilterRowsCycling(PackedRows(image), bpp * 9, bpp);
      // Tiny IDAT pieces: the stream must survive being split anywhere.
      std::vector<uint8_t> png = BuildPng(Ihdr(9, 11, bits, PngColourType(channels)), {}, raw, 7);
      FileImage loaded;
      std::string error;
      ASSERT_TRUE(DecodeImageBytes(png.data(), png.size(), &loaded, &error)) << error;
      ExpectSameImage(image, loaded);
    }
  }
}

TEST(PngDecode, InterlacedMatchesTheSameImageStraight) {
  const int32_t width = 11, height = 9;
  FileImage image = MakeTestImage(width, height, 3, 8);
  static const int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::vector<uint8_t> raw;
  for (const auto& pass : kPasses) {
    std::vector<uint8_t> rows;
    size_t passWidth = 0;
    for (int32_t y = pass[1]; y < height; y += pass[3]) {
      passWidth = 0;
      for (int32_t x = pass[0]; x < width; x += pass[2], ++passWidth) {
        const uint8_t* p = image.samples.data() + (size_t(y) * width + size_t(x)) * 3;
        rows.insert(rows.end(), p, p + 3);
      }
    }
    if (passWidth == 0 || rows.empty()) continue;
    std::vector<uint8_t> filtered = FilterRowsCycling(rows, passWidth * 3, 3);
    raw.insert(raw.end(), filtered.begin(), filtered.end());
  }
  std::vector<uint8_t> png = BuildPng(Ihdr(width, height, 8, 2, 1), {}, raw);
  FileImage loaded;
  std::string error;
  ASSERT_TRUE(DecodeImageBytes(png.data(), png.size(), &loaded, &error)) << error;
  ExpectSameImage(image, loaded);
}

TEST(PngDecode, PaletteLowBitGreyAndColourKeysExpand) {
  struct Case {
    const char* name;
    std::vector<uint8_t> ihdr;
    std::vector<PngChunk> extra;
    std::vector<uint8_t> raw;  // filter byte 0 per row
    int channels, bits;
    std::vector<uint8_t> expected;  // 8-bit samples, or 16-bit ones as native uint16 bytes
  };
  auto native16 = [](std::vector<uint16_t> values) {
    std::vector<uint8_t> bytes(values.size() * 2);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
  };
  std::vector<Case> cases = {
      {"palette with partial tRNS",
       Ihdr(3, 1, 8, 3),
       {{"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90}}, {"tRNS", {0, 128}}},
       {0, 2, 1, 0},
       4,
       8,
       {70, 80, 90, 255, 40, 50, 60, 128, 10, 20, 30, 0}},
      {"2-bit palette",
       Ihdr(5, 1, 2, 3),
       {{"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}},
       {0, 0x1B, 0xC0},
       3,
       8,  // indices 0 1 2 3 | 3
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 10, 11, 12}},
      {"1-bit grey",
       Ihdr(10, 1, 1, 0),
       {},
       {0, 0xA5, 0x80},
       1,
       8,
       {255, 0, 255, 0, 0, 255, 0, 255, 255, 0}},
      {"4-bit grey", Ihdr(3, 1, 4, 0), {}, {0, 0x0F, 0x70}, 1, 8, {0, 255, 119}},
      {"2-bit grey with key",
       Ihdr(4, 1, 2, 0),
       {{"tRNS", {0, 2}}},
       {0, 0x1B},
       2,
       8,
       {0, 255, 85, 255, 170, 0, 255, 255}},
      {"RGB with key",
       Ihdr(2, 1, 8, 2),
       {{"tRNS", {0, 1, 0, 2, 0, 3}}},
       {0, 1, 2, 3, 1, 2, 4},
       4,
       8,
       {1, 2, 3, 0, 1, 2, 4, 255}},
      {"16-bit grey with key",
       Ihdr(2, 1, 16, 0),
       {{"tRNS", {0x12, 0x34}}},
       {0, 0x12, 0x34, 0xFF, 0xFE},
       2,
       16,
       native16({0x1234, 0, 0xFFFE, 65535})},
      {"unknown ancillary chunk ignored",
       Ihdr(1, 1, 8, 0),
       {{"tEXt", {'a', 0, 'b'}}},
       {0, 77},
       1,
       8,
       {77}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> png = BuildPng(c.ihdr, c.extra, c.raw);
    FileImage loaded;
    std::string error;
    ASSERT_TRUE(DecodeImageBytes(png.data(), png.size(), &loaded, &error)) << error;
    EXPECT_EQ(loaded.channels, c.channels);
    EXPECT_EQ(loaded.bitsPerSample, c.bits);
    EXPECT_EQ(loaded.samples, c.expected);
  }
}

// ---- hostile and broken files ------------------------------------------------------

TEST(ImageFileErrors, BrokenAndHostileFilesFailWithTheirReason) {
  std::vector<uint8_t> valid = ValidPng();
  std::vector<uint8_t> badCrc = valid;
  badCrc[valid.size() - 20] ^= 0x40;  // inside the IDAT data
  std::vector<uint8_t> truncatedIdat(valid.begin(), valid.end() - 20);
  std::vector<uint8_t> noIend(valid.begin(), valid.end() - 12);
  std::vector<uint8_t> hugeLength = valid;
  hugeLength[33] = 0xFF;  // the IDAT length field, right after IHDR
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  auto withFloats = [](std::string header, size_t floats) {
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(bytes.size() + floats * 4, 0);
    return bytes;
  };

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* expected;  // part of the message
  };
  std::vector<Case> cases = {
      {"png bad crc", badCrc, "CRC"},
      {"png truncated idat", truncatedIdat, "truncated"},
      {"png no iend", noIend, "truncated"},
      {"png impossible chunk length", hugeLength, "impossible length"},
      {"png enormous ihdr", BuildPng(Ihdr(0x7FFFFFFF, 0x7FFFFFFF, 16, 6), {}, {0}), "too large"},
      {"png over 2^31 bytes", BuildPng(Ihdr(30000, 30000, 8, 6), {}, {0}), "too large"},
      {"png zero width", BuildPng(Ihdr(0, 5, 8, 0), {}, {0}), "zero"},
      // Within the limits but without the data: must fail without allocating 1.6 GB.
      {"png large claim, little data",
       BuildPng(Ihdr(20000, 20000, 8, 6), {}, std::vector<uint8_t>(1000, 0)), "ends early"},
      {"png short image data", BuildPng(Ihdr(4, 4, 8, 0), {}, std::vector<uint8_t>(10, 0)),
       "ends early"},
      {"png extra image data", BuildPng(Ihdr(1, 1, 8, 0), {}, std::vector<uint8_t>(50, 0)),
       "more image data"},
      {"png bad filter", BuildPng(Ihdr(1, 1, 8, 0), {}, {9, 0}), "filter"},
      {"png bad depth", BuildPng(Ihdr(1, 1, 3, 0), {}, {0, 0}), "bit depth"},
      {"png palette index", BuildPng(Ihdr(1, 1, 8, 3), {{"PLTE", {1, 2, 3}}}, {0, 5}),
       "palette index"},
      {"png palette missing", BuildPng(Ihdr(1, 1, 8, 3), {}, {0, 0}), "PLTE"},
      {"png garbage deflate",
       [] {
         std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
         AppendChunk(&png, "IHDR", Ihdr(2, 2, 8, 0));
         AppendChunk(&png, "IDAT", {0x78, 0x9c, 0xFF, 0xFF, 0xFF, 0xFF});
         AppendChunk(&png, "IEND", {});
         return png;
       }(),
       "compressed"},
      {"pam huge width",
       text("P7\nWIDTH 99999999999999999999\nHEIGHT 2\nDEPTH 1\nMAXVAL 255\nTUPLTYPE "
            "GRAYSCALE\nENDHDR\n"),
       "too large"},
      {"pam over 2^31 bytes",
       text("P7\nWIDTH 900000\nHEIGHT 900000\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n"),
       "too large"},
      {"pam large claim, little data",
       text("P7\nWIDTH 20000\nHEIGHT 20000\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcd"),
       "truncated"},
      {"pam truncated",
       text("P7\nWIDTH 3\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nabc"), "truncated"},
      {"pam no endhdr", text("P7\nWIDTH 3\nHEIGHT 2\n"), "ENDHDR"},
      {"pam depth mismatch",
       text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nabc"), "DEPTH"},
      {"pam unknown tupltype",
       text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\nabcd"), "TUPLTYPE"},
      {"pgm maxval 0", text("P5 1 1 0\n\x01"), "MAXVAL"},
      {"ppm negative width", text("P6 -3 1 255\nabc"), "width"},
      {"pfm zero scale", withFloats("PF\n1 1\n0.0\n", 3), "scale"},
      {"pfm word scale", withFloats("Pf\n1 1\nbig\n", 1), "scale"},
      {"pfm nan scale", withFloats("Pf\n1 1\nnan\n", 1), "scale"},
      {"pfm truncated", withFloats("PF\n2 2\n-1.0\n", 11), "truncated"},
      {"pfm huge", withFloats("Pf\n1000000 1000000\n-1\n", 1), "too large"},
      {"garbage", text("hello, world"), "unsupported format"},
      {"empty", {}, "unsupported format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileImage image;
    std::string error;
    EXPECT_FALSE(DecodeImageBytes(c.bytes.data(), c.bytes.size(), &image, &error));
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_TRUE(image.samples.empty());
  }
}

TEST(ImageFileErrors, EveryTruncationAndByteFlipOfSmallFilesFailsSafely) {
  // Under the address sanitizer this catches any read past a length check.
  std::vector<std::vector<uint8_t>> files;
  std::string error;
  for (ImageFileFormat format :
       {ImageFileFormat::kPng, ImageFileFormat::kPam, ImageFileFormat::kPpm}) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(EncodeImageBytes(format, MakeTestImage(5, 3, 3, 16), &bytes, &error)) << error;
    files.push_back(bytes);
  }
  std::vector<uint8_t> pfm;
  ASSERT_TRUE(EncodeImageBytes(ImageFileFormat::kPfm, MakeTestImage(5, 3, 3, 32), &pfm, &error))
      << error;
  files.push_back(pfm);
  std::vector<uint8_t> interlaced =
      BuildPng(Ihdr(3, 3, 2, 3, 1), {{"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {9}}},
               std::vector<uint8_t>(20, 0));
  files.push_back(interlaced);
  for (const std::vector<uint8_t>& file : files) {
    for (size_t length = 0; length < file.size(); ++length) {
      std::vector<uint8_t> cut(file.begin(), file.begin() + long(length));
      FileImage image;
      EXPECT_FALSE(DecodeImageBytes(cut.data(), cut.size(), &image, &error)) << "length " << length;
    }
    for (size_t at = 0; at < file.size(); ++at) {
      std::vector<uint8_t> flipped = file;
      flipped[at] ^= 0x5A;
      FileImage image;
      if (DecodeImageBytes(flipped.data(), flipped.size(), &image, &error)) {
        EXPECT_EQ(image.samples.size(), size_t(image.width) * size_t(image.height) *
                                            size_t(image.channels) *
                                            size_t(FileSampleBytes(image.bitsPerSample)));
      }
    }
  }
}

TEST(ImageFileErrors, FileLevelProblemsAreNamed) {
  std::string error;
  FileImage image;
  EXPECT_FALSE(ReadImageFile(TempPath("does-not-exist.png"), &image, &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;

  FileImage rgba = MakeTestImage(3, 2, 4, 8);
  EXPECT_FALSE(WriteImageFile(TempPath("x.bmp"), rgba, &error));
  EXPECT_NE(error.find("extension"), std::string::npos) << error;
  EXPECT_FALSE(WriteImageFile(TempPath("x.pfm"), MakeTestImage(3, 2, 4, 32), &error));
  EXPECT_NE(error.find("alpha"), std::string::npos) << error;
  EXPECT_FALSE(WriteImageFile(TempPath("x.png"), MakeTestImage(3, 2, 3, 32), &error));
  EXPECT_NE(error.find("float"), std::string::npos) << error;
  EXPECT_FALSE(WriteImageFile(TempPath("x.ppm"), rgba, &error));
  EXPECT_NE(error.find("channels"), std::string::npos) << error;
  FileImage inconsistent = rgba;
  inconsistent.samples.pop_back();
  EXPECT_FALSE(WriteImageFile(TempPath("x.png"), inconsistent, &error));

  // A TIFF that ends after its header.
  TempFile tiff("broken.tif");
  WriteBytes(tiff.path, {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0});
  EXPECT_FALSE(ReadImageFile(tiff.path, &image, &error));
  EXPECT_NE(error.find(tiff.path), std::string::npos) << "messages name the file: " << error;
#ifdef _WIN32
  EXPECT_NE(error.find("TIFF is not available in the Windows build"), std::string::npos) << error;
  EXPECT_FALSE(WriteImageFile(TempPath("x.tif"), rgba, &error));
  EXPECT_NE(error.find("TIFF is not available in the Windows build"), std::string::npos) << error;
#else
  EXPECT_NE(error.find("TIFF"), std::string::npos) << error;
#endif
}

// ---- mapping to the host image -----------------------------------------------------

TEST(HostMapping, SixteenBitFileSamplesRoundToTheHostRange) {
  const uint16_t kCases[][2] = {{0, 0},         {1, 1},         {2, 1},
                                {32767, 16384}, {65534, 32767}, {65535, 32768}};
  for (const auto& c : kCases) EXPECT_EQ(FileSample16ToHost(c[0]), c[1]) << "file " << c[0];
  EXPECT_EQ(HostSample16ToFile(0), 0);
  EXPECT_EQ(HostSample16ToFile(32768), 65535);
  EXPECT_EQ(HostSample16ToFile(40000), 65535);  // out-of-range host values clamp
  EXPECT_EQ(HostSample16ToFile(-5), 0);
  for (int32_t h = 0; h <= 32768; ++h) ASSERT_EQ(FileSample16ToHost(HostSample16ToFile(h)), h);
  for (int32_t v = 0; v <= 65535; ++v) {
    ASSERT_LE(std::abs(int32_t(HostSample16ToFile(FileSample16ToHost(uint16_t(v)))) - v), 1) << v;
  }
}

TEST(HostMapping, FileChannelsBecomePlanesAndComeBack) {
  for (int bits : {8, 16, 32}) {
    for (int channels = 1; channels <= 4; ++channels) {
      SCOPED_TRACE("channels " + std::to_string(channels) + " bits " + std::to_string(bits));
      FileImage file = MakeTestImage(5, 3, channels, bits);
      HostImage host;
      std::string error;
      ASSERT_TRUE(FileImageToHostImage(file, &host, &error)) << error;
      EXPECT_EQ(host.planes, channels);
      EXPECT_EQ(host.depth, bits);
      EXPECT_EQ(HasEditableTransparency(host), channels == 2 || channels == 4);
      // Pixel (1, 2), last channel, in the host's own scale.
      size_t index = (2 * 5 + 1) * size_t(channels) + size_t(channels - 1);
      double expected = bits == 8 ? file.samples[index] : 0.0;
      if (bits == 16) {
        uint16_t v;
        std::memcpy(&v, file.samples.data() + 2 * index, 2);
        expected = FileSample16ToHost(v);
      } else if (bits == 32) {
        float v;
        std::memcpy(&v, file.samples.data() + 4 * index, 4);
        expected = v;
      }
      EXPECT_EQ(ReadSample(host, 1, 2, int16_t(channels - 1)), expected);
      FileImage back;
      ASSERT_TRUE(HostImageToFileImage(host, &back, &error)) << error;
      if (bits != 16) ExpectSameImage(file, back);
    }
  }
}

TEST(HostMapping, DepthConversionsRoundTripAndClamp) {
  std::string error;
  HostImage eight = MakeHostImage(256, 1, 1, 8);
  for (int v = 0; v < 256; ++v) eight.pixels[size_t(v)] = uint8_t(v);
  for (int16_t via : {int16_t(16), int16_t(32)}) {
    HostImage image = eight;
    ASSERT_TRUE(ConvertHostImageDepth(&image, via, &error)) << error;
    EXPECT_EQ(ReadSample(image, 255, 0, 0), via == 16 ? 32768.0 : 1.0);
    EXPECT_EQ(ReadSample(image, 128, 0, 0), via == 16 ? 16448.0 : double(128.0f / 255.0f));
    ASSERT_TRUE(ConvertHostImageDepth(&image, 8, &error)) << error;
    EXPECT_EQ(image.pixels, eight.pixels) << "8 -> " << via << " -> 8";
  }
  HostImage sixteen = MakeHostImage(32769, 1, 1, 16);
  for (int32_t h = 0; h <= 32768; ++h) WriteSample(sixteen, h, 0, 0, h);
  HostImage image = sixteen;
  ASSERT_TRUE(ConvertHostImageDepth(&image, 32, &error)) << error;
  ASSERT_TRUE(ConvertHostImageDepth(&image, 16, &error)) << error;
  EXPECT_EQ(image.pixels, sixteen.pixels) << "16 -> 32 -> 16";

  HostImage floats = MakeHostImage(4, 1, 1, 32);
  const float kValues[4] = {-0.5f, 1.5f, std::nanf(""), 0.5f};
  std::memcpy(floats.pixels.data(), kValues, sizeof kValues);
  HostImage toEight = floats, toSixteen = floats;
  ASSERT_TRUE(ConvertHostImageDepth(&toEight, 8, &error)) << error;
  ASSERT_TRUE(ConvertHostImageDepth(&toSixteen, 16, &error)) << error;
  EXPECT_EQ(toEight.pixels, (std::vector<uint8_t>{0, 255, 0, 128}));
  const double kSixteen[4] = {0, 32768, 0, 16384};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadSample(toSixteen, x, 0, 0), kSixteen[x]);
  EXPECT_EQ(toSixteen.imageMode, plugInModeGray16);
  EXPECT_FALSE(ConvertHostImageDepth(&toSixteen, 12, &error));
}

TEST(HostMapping, GreyAndRgbConversionsKeepAlpha) {
  std::string error;
  HostImage rgba = MakeHostImage(2, 1, 4, 8);
  rgba.pixels = {255, 0, 0, 200, 10, 20, 30, 40};
  HostImage grey = rgba;
  ASSERT_TRUE(ConvertHostImageToGrey(&grey, &error)) << error;
  EXPECT_EQ(grey.planes, 2);
  EXPECT_TRUE(HasEditableTransparency(grey));
  EXPECT_EQ(grey.pixels,
            (std::vector<uint8_t>{76, 200, 18, 40}));  // 0.299 × 255; 2.99 + 11.74 + 3.42

  HostImage rgb = grey;
  ASSERT_TRUE(ConvertHostImageToRgb(&rgb, &error)) << error;
  EXPECT_EQ(rgb.planes, 4);
  EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{76, 76, 76, 200, 18, 18, 18, 40}));

  HostImage sixteen = MakeHostImage(1, 1, 3, 16);
  WriteSample(sixteen, 0, 0, 1, 32768);  // pure green
  ASSERT_TRUE(ConvertHostImageToGrey(&sixteen, &error)) << error;
  EXPECT_EQ(sixteen.planes, 1);
  EXPECT_EQ(ReadSample(sixteen, 0, 0, 0), std::round(0.587 * 32768));
  EXPECT_EQ(sixteen.imageMode, plugInModeGray16);
}

}  // namespace
