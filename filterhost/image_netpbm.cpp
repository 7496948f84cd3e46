// PAM (P7), PGM (P5), PPM (P6) and PFM (PF / Pf): text headers over raw samples.
//
// PAM:  "P7\n", lines "WIDTH n", "HEIGHT n", "DEPTH n", "MAXVAL n", "TUPLTYPE name", "#..."
//       comments, "ENDHDR\n"; then samples interleaved, rows top down, 16-bit big-endian.
// P5/P6: "P5|P6" width height maxval as whitespace-separated tokens (with "#" comments),
//       one whitespace byte, then samples as for PAM (1 or 3 per pixel).
// PFM:  "PF" (RGB) or "Pf" (grey), width, height, scale; one whitespace byte, then 32-bit
//       floats, little-endian when the scale is negative, big-endian when positive, rows
//       bottom to top.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "filterhost/image_codecs.h"

namespace {

// Longer headers than this are not images but attempts to make us scan for ever.
constexpr size_t kMaxHeaderBytes = 1 << 16;
// Numbers saturate here; anything this large fails the shape checks anyway.
constexpr int64_t kNumberCeiling = int64_t(1) << 40;

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// A cursor over the header bytes; never reads past `end`.
struct HeaderReader {
  const uint8_t* data;
  size_t size;
  size_t pos;

  bool AtEnd() const { return pos >= size; }
  int Peek() const { return pos < size ? data[pos] : -1; }

  // Skips whitespace and "#" comments between P5/P6/PFM header tokens.
  void SkipSpaceAndComments() {
    while (pos < size) {
      if (data[pos] == '#') {
        while (pos < size && data[pos] != '\n' && data[pos] != '\r') ++pos;
      } else if (std::isspace(data[pos])) {
        ++pos;
      } else {
        break;
      }
    }
  }

  std::string Token() {
    std::string token;
    while (pos < size && !std::isspace(data[pos]) && data[pos] != '#' && token.size() < 64) {
      token += char(data[pos++]);
    }
    return token;
  }
};

// Parses an unsigned decimal; saturates at kNumberCeiling. False for anything else.
bool ParseNumber(const std::string& token, int64_t* value) {
  if (token.empty()) return false;
  int64_t v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    v = std::min(kNumberCeiling, v * 10 + (c - '0'));
  }
  *value = v;
  return true;
}

// Allocates the image once its shape passes the limits and the file holds all its
// samples, so a header that claims a huge image costs nothing without the data.
bool AllocateForData(FileImage* image, int64_t width, int64_t height, int channels, int bits,
                     size_t storedSampleBytes, uint64_t available, const char* format,
                     std::string* error) {
  if (!CheckImageShape(width, height, channels, bits, error)) return false;
  uint64_t needed = uint64_t(width) * uint64_t(height) * uint64_t(channels) * storedSampleBytes;
  if (available < needed) {
    return Fail(error, std::string("truncated ") + format + ": " + std::to_string(available) +
                           " bytes of samples, " + std::to_string(needed) + " needed");
  }
  return AllocateFileImage(image, width, height, channels, bits, error);
}

// Turns stored integer samples of the given maxval, already in image->samples as they lie
// in the file (big-endian when 16-bit), into native samples in place, scaling any maxval
// other than 255 and 65535 onto the full 8 or 16-bit range. A stored sample is exactly
// as wide as the decoded one, so each is rewritten where it lies.
void FinishIntegerSamples(int64_t maxval, FileImage* image) {
  uint8_t* samples = image->samples.data();
  if (image->bitsPerSample == 8) {
    if (maxval == 255) return;  // stored as they are
    for (size_t i = 0; i < image->samples.size(); ++i) {
      const int64_t v = std::min<int64_t>(samples[i], maxval);
      samples[i] = uint8_t((v * 255 + maxval / 2) / maxval);
    }
    return;
  }
  const size_t count = image->samples.size() / 2;
  for (size_t i = 0; i < count; ++i) {
    uint32_t v = LoadBigEndian16(samples + 2 * i);
    if (maxval != 65535) {
      v = std::min<uint32_t>(v, uint32_t(maxval));
      v = uint32_t((uint64_t(v) * 65535 + uint64_t(maxval) / 2) / uint64_t(maxval));
    }
    const uint16_t s = uint16_t(v);
    std::memcpy(samples + 2 * i, &s, 2);
  }
}

// Stored PFM floats (in image->samples as they lie in the file) to native floats in place,
// turning the rows from bottom-up to top-down.
void FinishFloatSamples(bool littleEndian, FileImage* image) {
  const size_t rowBytes = FileRowBytes(*image);
  auto toNative = [littleEndian](uint8_t* row, const uint8_t* stored, size_t bytes) {
    for (size_t i = 0; i < bytes; i += 4) {
      const uint8_t* s = stored + i;
      uint32_t bits = littleEndian ? (uint32_t(s[3]) << 24) | (uint32_t(s[2]) << 16) |
                                         (uint32_t(s[1]) << 8) | s[0]
                                   : LoadBigEndian32(s);
      std::memcpy(row + i, &bits, 4);
    }
  };
  std::vector<uint8_t> spare(rowBytes);
  const int64_t height = image->height;
  for (int64_t top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
    uint8_t* upper = image->samples.data() + size_t(top) * rowBytes;
    uint8_t* lower = image->samples.data() + size_t(bottom) * rowBytes;
    std::memcpy(spare.data(), upper, rowBytes);
    toNative(upper, lower, rowBytes);
    toNative(lower, spare.data(), rowBytes);
  }
}

bool ReadPamHeader(const uint8_t* data, size_t headSize, uint64_t size, NetpbmLayout* layout,
                   std::string* error) {
  HeaderReader reader{data, std::min(headSize, kMaxHeaderBytes), 3};
  int64_t width = -1, height = -1, depth = -1, maxval = -1;
  std::string tupleType;
  bool ended = false;
  while (!ended) {
    // One line: "#" comment, blank, or KEYWORD value.
    while (!reader.AtEnd() && (reader.Peek() == ' ' || reader.Peek() == '\t')) ++reader.pos;
    if (reader.AtEnd()) {
      return Fail(error, size > kMaxHeaderBytes ? "corrupt PAM: header too long"
                                                : "truncated PAM: no ENDHDR line");
    }
    size_t lineEnd = reader.pos;
    while (lineEnd < reader.size && reader.data[lineEnd] != '\n') ++lineEnd;
    if (lineEnd == reader.size) {
      return Fail(error, size > kMaxHeaderBytes ? "corrupt PAM: header too long"
                                                : "truncated PAM: no ENDHDR line");
    }
    std::string line(reinterpret_cast<const char*>(data + reader.pos), lineEnd - reader.pos);
    reader.pos = lineEnd + 1;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t split = line.find_first_of(" \t");
    std::string key = line.substr(0, split);
    std::string value;
    if (split != std::string::npos) {
      size_t start = line.find_first_not_of(" \t", split);
      if (start != std::string::npos) value = line.substr(start);
    }
    int64_t* number = key == "WIDTH"    ? &width
                      : key == "HEIGHT" ? &height
                      : key == "DEPTH"  ? &depth
                      : key == "MAXVAL" ? &maxval
                                        : nullptr;
    if (number) {
      if (!ParseNumber(value, number))
        return Fail(error, "corrupt PAM: bad " + key + " '" + value + "'");
    } else if (key == "TUPLTYPE") {
      tupleType = value;
    } else if (key == "ENDHDR") {
      ended = true;
    } else {
      return Fail(error, "corrupt PAM: unknown header line '" + line.substr(0, 40) + "'");
    }
  }
  if (width < 0 || height < 0 || depth < 0 || maxval < 0) {
    return Fail(error, "corrupt PAM: WIDTH, HEIGHT, DEPTH and MAXVAL are all required");
  }
  static const char* const kTupleTypes[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB",
                                             "RGB_ALPHA"};
  int channels = 0;
  for (int c = 1; c <= 4; ++c) {
    if (tupleType == kTupleTypes[c]) channels = c;
  }
  if (tupleType.empty() && depth >= 1 && depth <= 4) channels = int(depth);  // untyped: go by DEPTH
  if (channels == 0) return Fail(error, "unsupported PAM TUPLTYPE '" + tupleType + "'");
  if (depth != channels) {
    return Fail(error, "corrupt PAM: DEPTH " + std::to_string(depth) + " does not match TUPLTYPE " +
                           tupleType);
  }
  if (maxval < 1 || maxval > 65535)
    return Fail(error, "corrupt PAM: MAXVAL " + std::to_string(maxval));
  layout->width = width;
  layout->height = height;
  layout->channels = channels;
  layout->bitsPerSample = maxval > 255 ? 16 : 8;
  layout->maxval = maxval;
  layout->dataOffset = reader.pos;
  return true;
}

bool ReadPnmHeader(const uint8_t* data, size_t headSize, NetpbmLayout* layout,
                   std::string* error) {
  const bool rgb = data[1] == '6';
  const char* format = rgb ? "PPM" : "PGM";
  HeaderReader reader{data, std::min(headSize, kMaxHeaderBytes), 2};
  int64_t fields[3];
  static const char* const kNames[3] = {"width", "height", "maxval"};
  for (int i = 0; i < 3; ++i) {
    reader.SkipSpaceAndComments();
    std::string token = reader.Token();
    if (token.empty() && reader.AtEnd())
      return Fail(error, std::string("truncated ") + format + " header");
    if (!ParseNumber(token, &fields[i])) {
      return Fail(error,
                  std::string("corrupt ") + format + ": bad " + kNames[i] + " '" + token + "'");
    }
  }
  if (reader.AtEnd() || !std::isspace(reader.Peek())) {
    return Fail(error, std::string("truncated ") + format + " header");
  }
  ++reader.pos;  // the single whitespace byte before the samples
  if (fields[2] < 1 || fields[2] > 65535) {
    return Fail(error, std::string("corrupt ") + format + ": MAXVAL " + std::to_string(fields[2]));
  }
  layout->width = fields[0];
  layout->height = fields[1];
  layout->channels = rgb ? 3 : 1;
  layout->bitsPerSample = fields[2] > 255 ? 16 : 8;
  layout->name = format;
  layout->maxval = fields[2];
  layout->dataOffset = reader.pos;
  return true;
}

bool ReadPfmHeader(const uint8_t* data, size_t headSize, NetpbmLayout* layout,
                   std::string* error) {
  const int channels = data[1] == 'F' ? 3 : 1;
  HeaderReader reader{data, std::min(headSize, kMaxHeaderBytes), 2};
  int64_t width = 0, height = 0;
  std::string tokens[3];
  for (std::string& token : tokens) {
    reader.SkipSpaceAndComments();
    token = reader.Token();
    if (token.empty()) return Fail(error, "truncated PFM header");
  }
  if (!ParseNumber(tokens[0], &width) || !ParseNumber(tokens[1], &height)) {
    return Fail(error, "corrupt PFM: bad size '" + tokens[0] + " " + tokens[1] + "'");
  }
  char* end = nullptr;
  double scale = std::strtod(tokens[2].c_str(), &end);
  if (end != tokens[2].c_str() + tokens[2].size() || !std::isfinite(scale) || scale == 0.0) {
    return Fail(error, "corrupt PFM: bad scale '" + tokens[2] + "' (must be a non-zero number)");
  }
  if (reader.AtEnd() || !std::isspace(reader.Peek())) return Fail(error, "truncated PFM header");
  ++reader.pos;
  layout->width = width;
  layout->height = height;
  layout->channels = channels;
  layout->bitsPerSample = 32;
  layout->name = "PFM";
  layout->pfm = true;
  layout->littleEndian = scale < 0;
  layout->dataOffset = reader.pos;
  return true;
}

bool WriteText(const ByteSink& sink, const std::string& text) {
  return sink.write(sink.context, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Samples that need their byte order changed go out through a scratch block of this size.
constexpr size_t kScratchBytes = size_t(1) << 20;

bool WriteIntegerSamples(const ByteSink& sink, const FileImage& image) {
  if (image.bitsPerSample == 8)
    return sink.write(sink.context, image.samples.data(), image.samples.size());
  std::vector<uint8_t> scratch(std::min(kScratchBytes, image.samples.size()));
  for (size_t at = 0; at < image.samples.size(); at += scratch.size()) {
    const size_t piece = std::min(scratch.size(), image.samples.size() - at);
    for (size_t i = 0; i < piece; i += 2) {
      uint16_t v;
      std::memcpy(&v, image.samples.data() + at + i, 2);
      StoreBigEndian16(scratch.data() + i, v);
    }
    if (!sink.write(sink.context, scratch.data(), piece)) return false;
  }
  return true;
}

// PFM rows go bottom to top, little-endian, as many rows to a scratch block as fit.
bool WriteFloatSamples(const ByteSink& sink, const FileImage& image) {
  const size_t rowBytes = FileRowBytes(image);
  const size_t rowsPerBlock = std::max<size_t>(1, kScratchBytes / rowBytes);
  std::vector<uint8_t> scratch(std::min(rowsPerBlock, size_t(image.height)) * rowBytes);
  size_t filled = 0;
  for (int32_t row = 0; row < image.height; ++row) {
    const uint8_t* source = image.samples.data() + size_t(image.height - 1 - row) * rowBytes;
    uint8_t* target = scratch.data() + filled;
    for (size_t i = 0; i < rowBytes; i += 4) {
      uint32_t bits;
      std::memcpy(&bits, source + i, 4);
      for (int b = 0; b < 4; ++b) target[i + size_t(b)] = uint8_t(bits >> (8 * b));
    }
    filled += rowBytes;
    if (filled == scratch.size() || row + 1 == image.height) {
      if (!sink.write(sink.context, scratch.data(), filled)) return false;
      filled = 0;
    }
  }
  return true;
}

bool AppendToVector(void* context, const uint8_t* data, size_t size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(context);
  bytes->insert(bytes->end(), data, data + size);
  return true;
}

}  // namespace

bool ReadNetpbmHeader(const uint8_t* head, size_t headSize, uint64_t fileSize,
                      NetpbmLayout* layout, std::string* error) {
  *layout = NetpbmLayout();
  if (headSize < 3 || head[0] != 'P' || !std::isspace(head[2]))
    return Fail(error, "not a PAM, PGM, PPM or PFM file");
  switch (head[1]) {
    case '7': return ReadPamHeader(head, headSize, fileSize, layout, error);
    case '5':
    case '6': return ReadPnmHeader(head, headSize, layout, error);
    case 'F':
    case 'f': return ReadPfmHeader(head, headSize, layout, error);
    default: return Fail(error, "unsupported netpbm variant P" + std::string(1, char(head[1])));
  }
}

bool AllocateNetpbmImage(const NetpbmLayout& layout, uint64_t fileSize, FileImage* image,
                         std::string* error) {
  const uint64_t available = fileSize - std::min<uint64_t>(fileSize, layout.dataOffset);
  return AllocateForData(image, layout.width, layout.height, layout.channels,
                         layout.bitsPerSample, size_t(FileSampleBytes(layout.bitsPerSample)),
                         available, layout.name, error);
}

void FinishNetpbmSamples(const NetpbmLayout& layout, FileImage* image) {
  if (layout.pfm)
    FinishFloatSamples(layout.littleEndian, image);
  else
    FinishIntegerSamples(layout.maxval, image);
}

bool DecodeNetpbm(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  NetpbmLayout layout;
  if (!ReadNetpbmHeader(data, size, size, &layout, error)) return false;
  FileImage decoded;
  if (!AllocateNetpbmImage(layout, size, &decoded, error)) return false;
  std::memcpy(decoded.samples.data(), data + layout.dataOffset, decoded.samples.size());
  FinishNetpbmSamples(layout, &decoded);
  *image = std::move(decoded);
  return true;
}

ByteSink MemorySink(std::vector<uint8_t>* bytes) {
  return ByteSink{AppendToVector, bytes};
}

bool CheckNetpbmEncodable(ImageFileFormat format, const FileImage& image, std::string* error) {
  if (format == ImageFileFormat::kPfm) {
    if (image.bitsPerSample != 32)
      return Fail(error, "PFM stores 32-bit float samples (convert with --depth 32)");
    if (image.channels != 1 && image.channels != 3) {
      return Fail(error, "PFM stores grey or RGB without alpha; this image has " +
                             std::to_string(image.channels) + " channels");
    }
    return true;
  }
  const char* name = ImageFormatName(format);
  if (image.bitsPerSample == 32) {
    return Fail(error,
                std::string(name) +
                    " stores 8 or 16-bit samples, not 32-bit float (convert with --depth 8 or 16)");
  }
  if (format != ImageFileFormat::kPam) {
    const int wanted = format == ImageFileFormat::kPgm ? 1 : 3;
    if (image.channels != wanted) {
      return Fail(error, std::string(name) + " stores " + (wanted == 1 ? "grey" : "RGB") +
                             " without alpha; this image has " + std::to_string(image.channels) +
                             " channels (use .pam)");
    }
  }
  return true;
}

bool WriteNetpbm(ImageFileFormat format, const FileImage& image, const ByteSink& sink,
                 std::string* error) {
  if (!CheckNetpbmEncodable(format, image, error)) return false;
  const std::string size = std::to_string(image.width) + " " + std::to_string(image.height);
  bool ok;
  if (format == ImageFileFormat::kPfm) {
    const std::string header =
        std::string(image.channels == 3 ? "PF" : "Pf") + "\n" + size + "\n-1.0\n";
    ok = WriteText(sink, header) && WriteFloatSamples(sink, image);
  } else {
    const std::string maxval = image.bitsPerSample == 16 ? "65535" : "255";
    std::string header;
    if (format == ImageFileFormat::kPam) {
      static const char* const kTupleTypes[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB",
                                                 "RGB_ALPHA"};
      header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
               std::to_string(image.height) + "\nDEPTH " + std::to_string(image.channels) +
               "\nMAXVAL " + maxval + "\nTUPLTYPE " + kTupleTypes[image.channels] + "\nENDHDR\n";
    } else {
      header = std::string(format == ImageFileFormat::kPgm ? "P5" : "P6") + "\n" + size + "\n" +
               maxval + "\n";
    }
    ok = WriteText(sink, header) && WriteIntegerSamples(sink, image);
  }
  if (!ok) return Fail(error, "write failed (disk full?)");
  return true;
}

bool EncodeNetpbm(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
                  std::string* error) {
  if (!CheckNetpbmEncodable(format, image, error)) return false;
  out->reserve(out->size() + image.samples.size() + 128);
  return WriteNetpbm(format, image, MemorySink(out), error);
}
