// PNG: our own chunk layer (signature, IHDR, PLTE, tRNS, IDAT, IEND, CRC) over zlib.
//
// Layout: 8-byte signature, then chunks of [length:u32 BE][type:4][data][crc32 of type+data].
// The IDAT data concatenated is one zlib stream of rows, each a filter byte and the row's
// samples big-endian (sub-byte samples packed from the high bit). Interlaced files store
// the seven Adam7 passes one after another, each as its own little image.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "filterhost/image_codecs.h"

namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr uint32_t kMaxChunkLength = 0x7fffffffu;
constexpr size_t kIdatChunkBytes = size_t(1) << 18;

enum PngColourType : uint8_t {
  kPngGrey = 0,
  kPngRgb = 2,
  kPngPalette = 3,
  kPngGreyAlpha = 4,
  kPngRgba = 6,
};

struct PngPass {
  int32_t xStart, yStart, xStep, yStep;
};
const PngPass kWholeImage[1] = {{0, 0, 1, 1}};
const PngPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colourType = 0;
  bool interlaced = false;
};

// What tRNS says, in raw sample values before any scaling.
struct PngTransparency {
  bool present = false;
  uint16_t key[3] = {0, 0, 0};  // grey in key[0], or red, green, blue
  uint8_t paletteAlpha[256];
  int paletteAlphaCount = 0;
};

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

std::string ChunkName(const uint8_t* type) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    char c = char(type[i]);
    name += (std::isalpha(static_cast<unsigned char>(c)) ? c : '?');
  }
  return name;
}

int SourceChannels(int colourType) {
  switch (colourType) {
    case kPngGrey:
    case kPngPalette: return 1;
    case kPngGreyAlpha: return 2;
    case kPngRgb: return 3;
    case kPngRgba: return 4;
    default: return 0;
  }
}

bool DepthAllowed(int colourType, int bitDepth) {
  switch (colourType) {
    case kPngGrey:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case kPngPalette: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case kPngRgb:
    case kPngGreyAlpha:
    case kPngRgba: return bitDepth == 8 || bitDepth == 16;
    default: return false;
  }
}

int64_t PassLength(uint32_t size, int32_t start, int32_t step) {
  return size > uint32_t(start) ? (int64_t(size) - start + step - 1) / step : 0;
}

int64_t PackedRowBytes(int64_t pixels, int bitsPerPixel) { return (pixels * bitsPerPixel + 7) / 8; }

int PaethPredictor(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Undoes one row's filter in place; `prior` is the previous unfiltered row of the pass or
// null for its first row.
bool UnfilterRow(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t bpp) {
  switch (filter) {
    case 0: return true;
    case 1:
      for (size_t i = bpp; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
      return true;
    case 2:
      if (prior)
        for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
      return true;
    case 3:
      for (size_t i = 0; i < rowBytes; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int up = prior ? prior[i] : 0;
        row[i] = uint8_t(row[i] + ((left + up) >> 1));
      }
      return true;
    case 4:
      for (size_t i = 0; i < rowBytes; ++i) {
        int left = i >= bpp ? row[i - bpp] : 0;
        int up = prior ? prior[i] : 0;
        int upLeft = (prior && i >= bpp) ? prior[i - bpp] : 0;
        row[i] = uint8_t(row[i] + PaethPredictor(left, up, upLeft));
      }
      return true;
    default: return false;
  }
}

// The sample at index `index` of a packed row of `bitDepth`-bit samples.
uint16_t PackedSample(const uint8_t* row, int64_t index, int bitDepth) {
  if (bitDepth == 16) return LoadBigEndian16(row + index * 2);
  if (bitDepth == 8) return row[index];
  int64_t bit = index * bitDepth;
  int shift = 8 - bitDepth - int(bit & 7);
  return uint16_t((row[bit >> 3] >> shift) & ((1 << bitDepth) - 1));
}

void StoreOutputSample(FileImage* image, size_t index, uint16_t value) {
  if (image->bitsPerSample == 16) {
    std::memcpy(image->samples.data() + index * 2, &value, 2);
  } else {
    image->samples[index] = uint8_t(value);
  }
}

bool ParseHeader(const uint8_t* data, uint32_t length, PngHeader* header, std::string* error) {
  if (length != 13)
    return Fail(error, "corrupt PNG: IHDR chunk has length " + std::to_string(length));
  header->width = LoadBigEndian32(data);
  header->height = LoadBigEndian32(data + 4);
  header->bitDepth = data[8];
  header->colourType = data[9];
  if (data[10] != 0 || data[11] != 0) {
    return Fail(error, "unsupported PNG: unknown compression or filter method");
  }
  if (data[12] > 1)
    return Fail(error, "corrupt PNG: unknown interlace method " + std::to_string(data[12]));
  header->interlaced = data[12] == 1;
  if (SourceChannels(header->colourType) == 0) {
    return Fail(error, "unsupported PNG colour type " + std::to_string(header->colourType));
  }
  if (!DepthAllowed(header->colourType, header->bitDepth)) {
    return Fail(error, "unsupported PNG bit depth " + std::to_string(header->bitDepth) +
                           " for colour type " + std::to_string(header->colourType));
  }
  if (header->width == 0 || header->height == 0)
    return Fail(error, "corrupt PNG: zero width or height");
  return true;
}

// Inflates the IDAT chunks into a buffer that grows with the data actually present, so a
// header claiming a huge image costs memory only if the file really holds the data.
struct PngInflater {
  z_stream stream{};
  bool open = false;
  bool ended = false;
  size_t expected = 0;
  std::vector<uint8_t> raw;
  size_t produced = 0;

  ~PngInflater() {
    if (open) inflateEnd(&stream);
  }

  bool Begin(size_t expectedBytes, std::string* error) {
    expected = expectedBytes;
    if (inflateInit(&stream) != Z_OK) return Fail(error, "zlib could not start inflating");
    open = true;
    return true;
  }

  bool Feed(const uint8_t* data, uint32_t length, std::string* error) {
    if (ended) return true;  // trailing IDAT bytes after the stream end are ignored
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = length;
    while (stream.avail_in > 0) {
      uint8_t overflow[64];
      if (produced == raw.size() && produced < expected) {
        raw.resize(std::min(expected, std::max<size_t>(raw.size() * 2, size_t(1) << 20)));
      }
      bool full = produced == expected;
      stream.next_out = full ? overflow : raw.data() + produced;
      stream.avail_out =
          full ? uInt(sizeof overflow) : uInt(std::min<size_t>(raw.size() - produced, 1u << 30));
      uInt before = stream.avail_out;
      int status = inflate(&stream, Z_NO_FLUSH);
      size_t made = before - stream.avail_out;
      if (full && made > 0)
        return Fail(error, "corrupt PNG: more image data than the header describes");
      produced += full ? 0 : made;
      if (status == Z_STREAM_END) {
        ended = true;
        return true;
      }
      if (status == Z_BUF_ERROR && made == 0) break;  // needs more input
      if (status != Z_OK) {
        return Fail(error, std::string("corrupt PNG: bad compressed data (") +
                               (stream.msg ? stream.msg : "zlib error") + ")");
      }
    }
    return true;
  }
};

// Converts the unfiltered passes into the output image.
bool ExpandPixels(const PngHeader& header, const PngTransparency& transparency,
                  const uint8_t* palette, int paletteCount, const uint8_t* raw, FileImage* image,
                  std::string* error) {
  const int sourceChannels = SourceChannels(header.colourType);
  const int bitsPerPixel = sourceChannels * header.bitDepth;
  const bool keyed =
      transparency.present && (header.colourType == kPngGrey || header.colourType == kPngRgb);
  const int maxRaw = (1 << header.bitDepth) - 1;
  const int outChannels = image->channels;
  const uint16_t opaque = image->bitsPerSample == 16 ? 65535 : 255;
  const PngPass* passes = header.interlaced ? kAdam7 : kWholeImage;
  const int passCount = header.interlaced ? 7 : 1;
  size_t offset = 0;
  for (int p = 0; p < passCount; ++p) {
    const PngPass& pass = passes[p];
    int64_t passWidth = PassLength(header.width, pass.xStart, pass.xStep);
    int64_t passHeight = PassLength(header.height, pass.yStart, pass.yStep);
    if (passWidth == 0 || passHeight == 0) continue;
    size_t rowBytes = size_t(PackedRowBytes(passWidth, bitsPerPixel));
    for (int64_t row = 0; row < passHeight; ++row) {
      const uint8_t* samples = raw + offset + 1;
      offset += 1 + rowBytes;
      size_t y = size_t(pass.yStart + row * pass.yStep);
      for (int64_t i = 0; i < passWidth; ++i) {
        size_t x = size_t(pass.xStart + i * pass.xStep);
        size_t out = (y * size_t(header.width) + x) * size_t(outChannels);
        uint16_t v[4];
        for (int c = 0; c < sourceChannels; ++c)
          v[c] = PackedSample(samples, i * sourceChannels + c, header.bitDepth);
        if (header.colourType == kPngPalette) {
          if (v[0] >= paletteCount) {
            return Fail(error, "corrupt PNG: palette index " + std::to_string(v[0]) +
                                   " beyond the " + std::to_string(paletteCount) +
                                   "-entry palette");
          }
          for (int c = 0; c < 3; ++c) StoreOutputSample(image, out + c, palette[v[0] * 3 + c]);
          if (outChannels == 4) {
            StoreOutputSample(
                image, out + 3,
                v[0] < transparency.paletteAlphaCount ? transparency.paletteAlpha[v[0]] : 255);
          }
          continue;
        }
        bool transparent = keyed;
        for (int c = 0; c < sourceChannels && keyed; ++c)
          transparent = transparent && v[c] == transparency.key[c];
        for (int c = 0; c < sourceChannels; ++c) {
          // 1/2/4-bit grey scales exactly onto 0..255 (255 is a multiple of 1, 3 and 15).
          uint16_t value = header.bitDepth < 8 ? uint16_t(v[c] * (255 / maxRaw)) : v[c];
          StoreOutputSample(image, out + c, value);
        }
        if (keyed) StoreOutputSample(image, out + sourceChannels, transparent ? 0 : opaque);
      }
    }
  }
  return true;
}

// Sum of the filtered bytes read as signed values: the usual guess at which filter
// compresses a row best.
uint64_t FilterCost(const uint8_t* row, size_t bytes) {
  uint64_t cost = 0;
  for (size_t i = 0; i < bytes; ++i) cost += uint64_t(std::abs(int(int8_t(row[i]))));
  return cost;
}

// Writes the five filters of a row into `candidates` (5 × (1 + rowBytes)) and returns the
// index of the cheapest.
int FilterRow(const uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t bpp,
              uint8_t* candidates) {
  int best = 0;
  uint64_t bestCost = UINT64_MAX;
  for (int filter = 0; filter < 5; ++filter) {
    uint8_t* out = candidates + size_t(filter) * (1 + rowBytes);
    out[0] = uint8_t(filter);
    for (size_t i = 0; i < rowBytes; ++i) {
      int left = i >= bpp ? row[i - bpp] : 0;
      int up = prior ? prior[i] : 0;
      int upLeft = (prior && i >= bpp) ? prior[i - bpp] : 0;
      int predicted = 0;
      switch (filter) {
        case 1: predicted = left; break;
        case 2: predicted = up; break;
        case 3: predicted = (left + up) >> 1; break;
        case 4: predicted = PaethPredictor(left, up, upLeft); break;
        default: break;
      }
      out[1 + i] = uint8_t(row[i] - predicted);
    }
    uint64_t cost = FilterCost(out + 1, rowBytes);
    if (cost < bestCost) {
      bestCost = cost;
      best = filter;
    }
  }
  return best;
}

void AppendChunk(std::vector<uint8_t>* out, const char* type, const uint8_t* data, size_t length) {
  AppendBigEndian32(out, uint32_t(length));
  size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  if (length) out->insert(out->end(), data, data + length);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out->data() + typeAt, uInt(4 + length));
  AppendBigEndian32(out, uint32_t(crc));
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  if (size < 8 || std::memcmp(data, kPngSignature, 8) != 0) return Fail(error, "not a PNG file");
  PngHeader header;
  PngTransparency transparency;
  uint8_t palette[256 * 3] = {};
  int paletteCount = 0;
  bool haveHeader = false, sawIdat = false, sawEnd = false;
  PngInflater inflater;
  int outChannels = 0;
  int outBits = 8;
  size_t pos = 8;
  while (!sawEnd) {
    if (size - pos < 12) {
      return Fail(error, pos == size ? "truncated PNG: no IEND chunk"
                                     : "truncated PNG: a chunk header is cut off");
    }
    uint32_t length = LoadBigEndian32(data + pos);
    const uint8_t* type = data + pos + 4;
    std::string name = ChunkName(type);
    if (length > kMaxChunkLength)
      return Fail(error, "corrupt PNG: chunk " + name + " has an impossible length");
    if (length > size - pos - 12)
      return Fail(error, "truncated PNG: the " + name + " chunk is cut off");
    const uint8_t* body = type + 4;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, type, uInt(4 + length));
    if (uint32_t(crc) != LoadBigEndian32(body + length)) {
      return Fail(error, "corrupt PNG: CRC mismatch in the " + name + " chunk");
    }
    pos += 12 + size_t(length);
    for (int i = 0; i < 4; ++i) {
      if (!std::isalpha(type[i])) return Fail(error, "corrupt PNG: bad chunk type");
    }
    const bool critical = (type[0] & 0x20) == 0;
    if (!haveHeader) {
      if (name != "IHDR")
        return Fail(error, "corrupt PNG: the first chunk is " + name + ", not IHDR");
      if (!ParseHeader(body, length, &header, error)) return false;
      haveHeader = true;
      continue;
    }
    if (name == "PLTE") {
      if (sawIdat) return Fail(error, "corrupt PNG: PLTE after the image data");
      if (length == 0 || length % 3 != 0 || length > 768)
        return Fail(error, "corrupt PNG: bad PLTE length");
      paletteCount = int(length / 3);
      std::memcpy(palette, body, length);
    } else if (name == "tRNS") {
      if (sawIdat) return Fail(error, "corrupt PNG: tRNS after the image data");
      if (header.colourType == kPngPalette) {
        if (paletteCount == 0 || int(length) > paletteCount)
          return Fail(error, "corrupt PNG: bad tRNS length");
        transparency.paletteAlphaCount = int(length);
        std::memcpy(transparency.paletteAlpha, body, length);
        transparency.present = length > 0;
      } else if (header.colourType == kPngGrey || header.colourType == kPngRgb) {
        int keyCount = header.colourType == kPngGrey ? 1 : 3;
        if (int(length) != keyCount * 2) return Fail(error, "corrupt PNG: bad tRNS length");
        for (int c = 0; c < keyCount; ++c) transparency.key[c] = LoadBigEndian16(body + 2 * c);
        transparency.present = true;
      }  // images with an alpha channel must not carry tRNS; ignore it
    } else if (name == "IDAT") {
      if (!sawIdat) {
        if (header.colourType == kPngPalette && paletteCount == 0) {
          return Fail(error, "corrupt PNG: palette image without a PLTE chunk");
        }
        outBits = header.bitDepth == 16 ? 16 : 8;
        outChannels = header.colourType == kPngPalette ? 3 : SourceChannels(header.colourType);
        if (transparency.present) ++outChannels;
        // Check the output's shape before any allocation; the raw data is no larger.
        if (!CheckImageShape(header.width, header.height, outChannels, outBits, error))
          return false;
        const int bitsPerPixel = SourceChannels(header.colourType) * header.bitDepth;
        int64_t expected = 0;
        const PngPass* passes = header.interlaced ? kAdam7 : kWholeImage;
        for (int p = 0; p < (header.interlaced ? 7 : 1); ++p) {
          int64_t w = PassLength(header.width, passes[p].xStart, passes[p].xStep);
          int64_t h = PassLength(header.height, passes[p].yStart, passes[p].yStep);
          if (w > 0 && h > 0) expected += h * (1 + PackedRowBytes(w, bitsPerPixel));
        }
        if (!inflater.Begin(size_t(expected), error)) return false;
        sawIdat = true;
      }
      if (!inflater.Feed(body, length, error)) return false;
    } else if (name == "IEND") {
      sawEnd = true;
    } else if (critical) {
      return Fail(error, "unsupported PNG: unknown critical chunk " + name);
    }
  }
  if (!sawIdat) return Fail(error, "corrupt PNG: no image data (IDAT)");
  if (inflater.produced < inflater.expected) {
    return Fail(error, "truncated PNG: the image data ends early (" +
                           std::to_string(inflater.produced) + " of " +
                           std::to_string(inflater.expected) + " bytes)");
  }

  // Unfilter every pass in place.
  const int bitsPerPixel = SourceChannels(header.colourType) * header.bitDepth;
  const size_t bpp = size_t(std::max(1, bitsPerPixel / 8));
  uint8_t* raw = inflater.raw.data();
  size_t offset = 0;
  const PngPass* passes = header.interlaced ? kAdam7 : kWholeImage;
  for (int p = 0; p < (header.interlaced ? 7 : 1); ++p) {
    int64_t w = PassLength(header.width, passes[p].xStart, passes[p].xStep);
    int64_t h = PassLength(header.height, passes[p].yStart, passes[p].yStep);
    if (w == 0 || h == 0) continue;
    size_t rowBytes = size_t(PackedRowBytes(w, bitsPerPixel));
    const uint8_t* prior = nullptr;
    for (int64_t row = 0; row < h; ++row) {
      uint8_t* line = raw + offset;
      if (!UnfilterRow(line[0], line + 1, prior, rowBytes, bpp)) {
        return Fail(error, "corrupt PNG: unknown filter type " + std::to_string(line[0]));
      }
      prior = line + 1;
      offset += 1 + rowBytes;
    }
  }

  FileImage decoded;
  if (!AllocateFileImage(&decoded, header.width, header.height, outChannels, outBits, error))
    return false;
  if (!ExpandPixels(header, transparency, palette, paletteCount, raw, &decoded, error))
    return false;
  *image = std::move(decoded);
  return true;
}

bool EncodePng(const FileImage& image, std::vector<uint8_t>* out, std::string* error) {
  if (image.bitsPerSample == 32) {
    return Fail(error,
                "PNG stores 8 or 16-bit samples, not 32-bit float (convert with --depth 8 or 16)");
  }
  static const uint8_t kColourTypes[5] = {0, kPngGrey, kPngGreyAlpha, kPngRgb, kPngRgba};
  const size_t sampleBytes = size_t(FileSampleBytes(image.bitsPerSample));
  const size_t bpp = size_t(image.channels) * sampleBytes;
  const size_t rowBytes = FileRowBytes(image);

  out->assign(kPngSignature, kPngSignature + 8);
  uint8_t ihdr[13];
  StoreBigEndian32(ihdr, uint32_t(image.width));
  StoreBigEndian32(ihdr + 4, uint32_t(image.height));
  ihdr[8] = uint8_t(image.bitsPerSample);
  ihdr[9] = kColourTypes[image.channels];
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  AppendChunk(out, "IHDR", ihdr, sizeof ihdr);

  z_stream stream{};
  if (deflateInit(&stream, 6) != Z_OK) return Fail(error, "zlib could not start deflating");
  std::vector<uint8_t> rows[2] = {std::vector<uint8_t>(rowBytes), std::vector<uint8_t>(rowBytes)};
  std::vector<uint8_t> candidates(5 * (1 + rowBytes));
  std::vector<uint8_t> compressed(kIdatChunkBytes);
  stream.next_out = compressed.data();
  stream.avail_out = uInt(compressed.size());
  bool ok = true;
  for (int32_t y = 0; y <= image.height && ok; ++y) {
    const bool last = y == image.height;
    uint8_t* row = rows[y & 1].data();
    const uint8_t* prior = y > 0 ? rows[(y - 1) & 1].data() : nullptr;
    if (!last) {
      const uint8_t* source = image.samples.data() + size_t(y) * rowBytes;
      if (sampleBytes == 2) {
        for (size_t i = 0; i < rowBytes; i += 2) {
          uint16_t v;
          std::memcpy(&v, source + i, 2);
          StoreBigEndian16(row + i, v);
        }
      } else {
        std::memcpy(row, source, rowBytes);
      }
      int filter = FilterRow(row, prior, rowBytes, bpp, candidates.data());
      stream.next_in = candidates.data() + size_t(filter) * (1 + rowBytes);
      stream.avail_in = uInt(1 + rowBytes);
    }
    for (;;) {
      int status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) {
        ok = false;
        break;
      }
      if (stream.avail_out == 0 || (last && status == Z_STREAM_END)) {
        size_t bytes = compressed.size() - stream.avail_out;
        if (bytes) AppendChunk(out, "IDAT", compressed.data(), bytes);
        stream.next_out = compressed.data();
        stream.avail_out = uInt(compressed.size());
      }
      if (last ? status == Z_STREAM_END : (stream.avail_in == 0 && stream.avail_out > 0)) break;
    }
  }
  deflateEnd(&stream);
  if (!ok) {
    out->clear();
    return Fail(error, "zlib failed while compressing");
  }
  AppendChunk(out, "IEND", nullptr, 0);
  return true;
}
