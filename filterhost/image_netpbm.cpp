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
                     size_t storedSampleBytes, size_t available, const char* format,
                     std::string* error) {
  if (!CheckImageShape(width, height, channels, bits, error)) return false;
  uint64_t needed = uint64_t(width) * uint64_t(height) * uint64_t(channels) * storedSampleBytes;
  if (available < needed) {
    return Fail(error, std::string("truncated ") + format + ": " + std::to_string(available) +
                           " bytes of samples, " + std::to_string(needed) + " needed");
  }
  return AllocateFileImage(image, width, height, channels, bits, error);
}

// Reads `count` samples of the given maxval into the image, scaling any maxval other than
// 255 and 65535 onto the full 8 or 16-bit range.
void ReadIntegerSamples(const uint8_t* data, int64_t maxval, FileImage* image) {
  const size_t count = image->samples.size() / size_t(FileSampleBytes(image->bitsPerSample));
  const size_t sourceBytes = maxval > 255 ? 2 : 1;
  const int64_t fullScale = image->bitsPerSample == 16 ? 65535 : 255;
  for (size_t i = 0; i < count; ++i) {
    int64_t v = sourceBytes == 2 ? LoadBigEndian16(data + 2 * i) : data[i];
    if (v > maxval) v = maxval;
    if (maxval != fullScale) v = (v * fullScale + maxval / 2) / maxval;
    if (image->bitsPerSample == 16) {
      uint16_t s = uint16_t(v);
      std::memcpy(image->samples.data() + 2 * i, &s, 2);
    } else {
      image->samples[i] = uint8_t(v);
    }
  }
}

bool DecodePam(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  HeaderReader reader{data, std::min(size, kMaxHeaderBytes), 3};
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
  FileImage decoded;
  if (!AllocateForData(&decoded, width, height, channels, maxval > 255 ? 16 : 8,
                       maxval > 255 ? 2 : 1, size - reader.pos, "PAM", error)) {
    return false;
  }
  ReadIntegerSamples(data + reader.pos, maxval, &decoded);
  *image = std::move(decoded);
  return true;
}

bool DecodePnm(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  const bool rgb = data[1] == '6';
  const char* format = rgb ? "PPM" : "PGM";
  HeaderReader reader{data, std::min(size, kMaxHeaderBytes), 2};
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
  FileImage decoded;
  if (!AllocateForData(&decoded, fields[0], fields[1], rgb ? 3 : 1, fields[2] > 255 ? 16 : 8,
                       fields[2] > 255 ? 2 : 1, size - reader.pos, format, error)) {
    return false;
  }
  ReadIntegerSamples(data + reader.pos, fields[2], &decoded);
  *image = std::move(decoded);
  return true;
}

bool DecodePfm(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  const int channels = data[1] == 'F' ? 3 : 1;
  HeaderReader reader{data, std::min(size, kMaxHeaderBytes), 2};
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
  FileImage decoded;
  if (!AllocateForData(&decoded, width, height, channels, 32, 4, size - reader.pos, "PFM", error)) {
    return false;
  }
  const size_t rowBytes = FileRowBytes(decoded);
  const bool littleEndian = scale < 0;
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* source = data + reader.pos + size_t(row) * rowBytes;
    uint8_t* target = decoded.samples.data() + size_t(height - 1 - row) * rowBytes;
    for (size_t i = 0; i < rowBytes; i += 4) {
      const uint8_t* s = source + i;
      uint32_t bits = littleEndian ? (uint32_t(s[3]) << 24) | (uint32_t(s[2]) << 16) |
                                         (uint32_t(s[1]) << 8) | s[0]
                                   : LoadBigEndian32(s);
      std::memcpy(target + i, &bits, 4);
    }
  }
  *image = std::move(decoded);
  return true;
}

void AppendText(std::vector<uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
}

void AppendIntegerSamples(std::vector<uint8_t>* out, const FileImage& image) {
  if (image.bitsPerSample == 8) {
    out->insert(out->end(), image.samples.begin(), image.samples.end());
    return;
  }
  size_t at = out->size();
  out->resize(at + image.samples.size());
  for (size_t i = 0; i < image.samples.size(); i += 2) {
    uint16_t v;
    std::memcpy(&v, image.samples.data() + i, 2);
    StoreBigEndian16(out->data() + at + i, v);
  }
}

}  // namespace

bool DecodeNetpbm(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  if (size < 3 || data[0] != 'P' || !std::isspace(data[2]))
    return Fail(error, "not a PAM, PGM, PPM or PFM file");
  switch (data[1]) {
    case '7': return DecodePam(data, size, image, error);
    case '5':
    case '6': return DecodePnm(data, size, image, error);
    case 'F':
    case 'f': return DecodePfm(data, size, image, error);
    default: return Fail(error, "unsupported netpbm variant P" + std::string(1, char(data[1])));
  }
}

bool EncodeNetpbm(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
                  std::string* error) {
  const std::string size = std::to_string(image.width) + " " + std::to_string(image.height);
  if (format == ImageFileFormat::kPfm) {
    if (image.bitsPerSample != 32)
      return Fail(error, "PFM stores 32-bit float samples (convert with --depth 32)");
    if (image.channels != 1 && image.channels != 3) {
      return Fail(error, "PFM stores grey or RGB without alpha; this image has " +
                             std::to_string(image.channels) + " channels");
    }
    AppendText(out, std::string(image.channels == 3 ? "PF" : "Pf") + "\n" + size + "\n-1.0\n");
    const size_t rowBytes = FileRowBytes(image);
    size_t at = out->size();
    out->resize(at + image.samples.size());
    for (int32_t row = 0; row < image.height; ++row) {
      const uint8_t* source = image.samples.data() + size_t(image.height - 1 - row) * rowBytes;
      uint8_t* target = out->data() + at + size_t(row) * rowBytes;
      for (size_t i = 0; i < rowBytes; i += 4) {
        uint32_t bits;
        std::memcpy(&bits, source + i, 4);
        for (int b = 0; b < 4; ++b) target[i + size_t(b)] = uint8_t(bits >> (8 * b));
      }
    }
    return true;
  }
  const char* name = ImageFormatName(format);
  if (image.bitsPerSample == 32) {
    return Fail(error,
                std::string(name) +
                    " stores 8 or 16-bit samples, not 32-bit float (convert with --depth 8 or 16)");
  }
  const std::string maxval = image.bitsPerSample == 16 ? "65535" : "255";
  if (format == ImageFileFormat::kPam) {
    static const char* const kTupleTypes[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB",
                                               "RGB_ALPHA"};
    AppendText(out, "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                        std::to_string(image.height) + "\nDEPTH " + std::to_string(image.channels) +
                        "\nMAXVAL " + maxval + "\nTUPLTYPE " + kTupleTypes[image.channels] +
                        "\nENDHDR\n");
  } else {
    const int wanted = format == ImageFileFormat::kPgm ? 1 : 3;
    if (image.channels != wanted) {
      return Fail(error, std::string(name) + " stores " + (wanted == 1 ? "grey" : "RGB") +
                             " without alpha; this image has " + std::to_string(image.channels) +
                             " channels (use .pam)");
    }
    AppendText(out, std::string(wanted == 1 ? "P5" : "P6") + "\n" + size + "\n" + maxval + "\n");
  }
  AppendIntegerSamples(out, image);
  return true;
}
