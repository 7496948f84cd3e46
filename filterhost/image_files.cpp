// Reading and writing image files: format choice, whole-file I/O and the shape limits.
#include "filterhost/image_files.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <new>

#include "filterhost/host_image.h"
#include "filterhost/image_codecs.h"
#include "platform/platform.h"

namespace {

// A file this much larger than the largest image cannot be one of ours.
constexpr int64_t kMaxFileBytes = kMaxImageBytes + kMaxImageBytes / 16;

std::string LowerExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool Fail(std::string* error, const std::string& path, const std::string& message) {
  if (error) *error = path + ": " + message;
  return false;
}

bool LoadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  if (!PlatformFileExists(path.c_str())) return Fail(error, path, "no such file");
  PlatformFile* file = PlatformFileOpen(path.c_str(), kFileRead);
  if (!file) return Fail(error, path, "cannot open the file for reading");
  int64_t size = PlatformFileSize(file);
  bool ok = false;
  std::string message;
  if (size < 0) {
    message = "cannot read the file (is it a folder?)";
  } else if (size > kMaxFileBytes || uint64_t(size) > SIZE_MAX) {
    message = "file too large to be an image this tool accepts";
  } else {
    bytes->resize(size_t(size));
    size_t done = 0;
    ok = true;
    while (done < bytes->size()) {
      // Reads in pieces: some systems cap one read at 2 GiB.
      size_t piece = std::min<size_t>(bytes->size() - done, size_t(1) << 30);
      int64_t got = PlatformFileRead(file, bytes->data() + done, piece);
      if (got <= 0) {
        ok = false;
        message = "read failed";
        break;
      }
      done += size_t(got);
    }
  }
  PlatformFileClose(file);
  if (!ok) return Fail(error, path, message);
  return true;
}

bool StoreWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
  PlatformFile* file = PlatformFileOpen(path.c_str(), kFileWriteTruncate);
  if (!file) return Fail(error, path, "cannot create the file");
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    size_t piece = std::min<size_t>(bytes.size() - done, size_t(1) << 30);
    int64_t put = PlatformFileWrite(file, bytes.data() + done, piece);
    if (put <= 0) {
      ok = false;
      break;
    }
    done += size_t(put);
  }
  PlatformFileClose(file);
  if (!ok) {
    // A half-written image would read as truncated later; better none at all.
    PlatformFileDelete(path.c_str());
    return Fail(error, path, "write failed (disk full?)");
  }
  return true;
}

// Writes through PlatformFileWrite in pieces: some systems cap one write at 2 GiB.
bool WriteToFile(void* context, const uint8_t* data, size_t size) {
  auto* file = static_cast<PlatformFile*>(context);
  size_t done = 0;
  while (done < size) {
    size_t piece = std::min<size_t>(size - done, size_t(1) << 30);
    int64_t put = PlatformFileWrite(file, data + done, piece);
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

// Reads exactly `size` bytes unless the file ends or fails first; returns the count.
size_t ReadFully(PlatformFile* file, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t piece = std::min<size_t>(size - done, size_t(1) << 30);
    int64_t got = PlatformFileRead(file, data + done, piece);
    if (got <= 0) break;
    done += size_t(got);
  }
  return done;
}

// PAM/PGM/PPM/PFM straight from the file into the image's samples: the header comes from
// the first bytes, the samples are read where they belong and converted in place, so the
// file never sits in memory beside the image.
bool ReadNetpbmFile(const std::string& path, PlatformFile* file, FileImage* image,
                    std::string* error) {
  const int64_t size = PlatformFileSize(file);
  if (size < 0) return Fail(error, path, "cannot read the file (is it a folder?)");
  if (size > kMaxFileBytes || uint64_t(size) > SIZE_MAX)
    return Fail(error, path, "file too large to be an image this tool accepts");
  std::vector<uint8_t> head(std::min<size_t>(size_t(size), kNetpbmHeadBytes));
  if (!PlatformFileSeek(file, 0) || ReadFully(file, head.data(), head.size()) != head.size())
    return Fail(error, path, "read failed");
  NetpbmLayout layout;
  FileImage decoded;
  std::string message;
  if (!ReadNetpbmHeader(head.data(), head.size(), uint64_t(size), &layout, &message) ||
      !AllocateNetpbmImage(layout, uint64_t(size), &decoded, &message)) {
    return Fail(error, path, message);
  }
  // Whatever of the samples came with the head, then the rest from the file.
  const size_t fromHead = std::min(decoded.samples.size(), head.size() - layout.dataOffset);
  std::memcpy(decoded.samples.data(), head.data() + layout.dataOffset, fromHead);
  const size_t rest = decoded.samples.size() - fromHead;
  if (ReadFully(file, decoded.samples.data() + fromHead, rest) != rest)
    return Fail(error, path, "read failed");
  FinishNetpbmSamples(layout, &decoded);
  *image = std::move(decoded);
  return true;
}

}  // namespace

int32_t FileSampleBytes(int bitsPerSample) {
  return bitsPerSample == 16 ? 2 : bitsPerSample == 32 ? 4 : 1;
}

size_t FileRowBytes(const FileImage& image) {
  return size_t(image.width) * size_t(image.channels) *
         size_t(FileSampleBytes(image.bitsPerSample));
}

bool CheckImageShape(int64_t width, int64_t height, int channels, int bitsPerSample,
                     std::string* error) {
  if (channels < 1 || channels > 4) {
    if (error) *error = "unsupported channel count " + std::to_string(channels);
    return false;
  }
  if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 32) {
    if (error) *error = "unsupported sample depth " + std::to_string(bitsPerSample);
    return false;
  }
  if (width < 1 || height < 1) {
    if (error)
      *error =
          "image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    return false;
  }
  if (width > kMaxImageSide || height > kMaxImageSide) {
    if (error)
      *error = "dimensions too large (" + std::to_string(width) + " x " + std::to_string(height) +
               "; at most " + std::to_string(kMaxImageSide) + " per side)";
    return false;
  }
  // Both sides are at most 10^6, so the product cannot overflow 64 bits.
  int64_t bytes = width * height * channels * FileSampleBytes(bitsPerSample);
  if (bytes > kMaxImageBytes || uint64_t(bytes) > SIZE_MAX / 2) {
    if (error)
      *error = "dimensions too large (" + std::to_string(width) + " x " + std::to_string(height) +
               " needs " + std::to_string(bytes) + " bytes; at most 2^31)";
    return false;
  }
  return true;
}

bool AllocateFileImage(FileImage* image, int64_t width, int64_t height, int channels,
                       int bitsPerSample, std::string* error) {
  if (!CheckImageShape(width, height, channels, bitsPerSample, error)) return false;
  image->width = int32_t(width);
  image->height = int32_t(height);
  image->channels = int16_t(channels);
  image->bitsPerSample = int16_t(bitsPerSample);
  const size_t bytes = size_t(width * height * channels * FileSampleBytes(bitsPerSample));
  ReserveImageBytes(&image->samples, bytes);
  image->samples.assign(bytes, 0);
  return true;
}

bool ValidateFileImage(const FileImage& image, std::string* error) {
  if (!CheckImageShape(image.width, image.height, image.channels, image.bitsPerSample, error)) {
    return false;
  }
  size_t bytes = size_t(image.width) * size_t(image.height) * size_t(image.channels) *
                 size_t(FileSampleBytes(image.bitsPerSample));
  if (image.samples.size() != bytes) {
    if (error)
      *error = "image holds " + std::to_string(image.samples.size()) +
               " bytes of samples, its shape needs " + std::to_string(bytes);
    return false;
  }
  return true;
}

ImageFileFormat ImageFormatFromPath(const std::string& path) {
  std::string ext = LowerExtension(path);
  if (ext == "png") return ImageFileFormat::kPng;
  if (ext == "tif" || ext == "tiff") return ImageFileFormat::kTiff;
  if (ext == "pam") return ImageFileFormat::kPam;
  if (ext == "pgm") return ImageFileFormat::kPgm;
  if (ext == "ppm") return ImageFileFormat::kPpm;
  if (ext == "pfm") return ImageFileFormat::kPfm;
  return ImageFileFormat::kUnknown;
}

ImageFileFormat ImageFormatFromSignature(const uint8_t* data, size_t size) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return ImageFileFormat::kPng;
  if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                    (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42))) {
    return ImageFileFormat::kTiff;
  }
  if (size >= 3 && data[0] == 'P' && std::isspace(data[2])) {
    switch (data[1]) {
      case '7': return ImageFileFormat::kPam;
      case '5': return ImageFileFormat::kPgm;
      case '6': return ImageFileFormat::kPpm;
      case 'F':
      case 'f': return ImageFileFormat::kPfm;
      default: break;
    }
  }
  return ImageFileFormat::kUnknown;
}

const char* ImageFormatName(ImageFileFormat format) {
  switch (format) {
    case ImageFileFormat::kPng: return "PNG";
    case ImageFileFormat::kTiff: return "TIFF";
    case ImageFileFormat::kPam: return "PAM";
    case ImageFileFormat::kPgm: return "PGM";
    case ImageFileFormat::kPpm: return "PPM";
    case ImageFileFormat::kPfm: return "PFM";
    case ImageFileFormat::kUnknown: break;
  }
  return "unknown";
}

bool DecodeImageBytes(const uint8_t* data, size_t size, FileImage* image, std::string* error) {
  try {
    switch (ImageFormatFromSignature(data, size)) {
      case ImageFileFormat::kPng: return DecodePng(data, size, image, error);
      case ImageFileFormat::kPam:
      case ImageFileFormat::kPgm:
      case ImageFileFormat::kPpm:
      case ImageFileFormat::kPfm: return DecodeNetpbm(data, size, image, error);
      case ImageFileFormat::kTiff:
        if (error) *error = "TIFF is read from a file only";
        return false;
      case ImageFileFormat::kUnknown: break;
    }
    if (error) *error = "unsupported format: not a PNG, TIFF, PAM, PGM, PPM or PFM file";
    return false;
  } catch (const std::bad_alloc&) {
    if (error) *error = "out of memory decoding the image";
    return false;
  }
}

bool EncodeImageBytes(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
                      std::string* error) {
  out->clear();
  try {
    if (!ValidateFileImage(image, error)) return false;
    switch (format) {
      case ImageFileFormat::kPng: return EncodePng(image, out, error);
      case ImageFileFormat::kPam:
      case ImageFileFormat::kPgm:
      case ImageFileFormat::kPpm:
      case ImageFileFormat::kPfm: return EncodeNetpbm(format, image, out, error);
      case ImageFileFormat::kTiff:
        if (error) *error = "TIFF is written to a file only";
        return false;
      case ImageFileFormat::kUnknown: break;
    }
    if (error) *error = "unknown image format";
    return false;
  } catch (const std::bad_alloc&) {
    out->clear();
    if (error) *error = "out of memory encoding the image";
    return false;
  }
}

bool ReadImageFile(const std::string& path, FileImage* image, std::string* error) {
  try {
    if (!PlatformFileExists(path.c_str())) return Fail(error, path, "no such file");
    ImageFileFormat format;
    {
      PlatformFile* file = PlatformFileOpen(path.c_str(), kFileRead);
      if (!file) return Fail(error, path, "cannot open the file for reading");
      uint8_t head[8] = {};
      int64_t got = PlatformFileRead(file, head, sizeof head);
      if (got < 0) {
        PlatformFileClose(file);
        return Fail(error, path, "cannot read the file (is it a folder?)");
      }
      format = ImageFormatFromSignature(head, size_t(got));
      if (format == ImageFileFormat::kPam || format == ImageFileFormat::kPgm ||
          format == ImageFileFormat::kPpm || format == ImageFileFormat::kPfm) {
        const bool ok = ReadNetpbmFile(path, file, image, error);
        PlatformFileClose(file);
        return ok;
      }
      PlatformFileClose(file);
    }
    // TIFF goes to its library by path, so a large TIFF is not read into memory twice.
    if (format == ImageFileFormat::kTiff) {
#ifdef TALLOW_HAVE_TIFF
      std::string message;
      if (!ReadTiffFile(path, image, &message)) return Fail(error, path, message);
      return true;
#else
      return Fail(error, path, "TIFF is not available in the Windows build");
#endif
    }
    if (format == ImageFileFormat::kUnknown) {
      return Fail(error, path, "unsupported format: not a PNG, TIFF, PAM, PGM, PPM or PFM file");
    }
    std::vector<uint8_t> bytes;
    if (!LoadWholeFile(path, &bytes, error)) return false;
    std::string message;
    if (!DecodeImageBytes(bytes.data(), bytes.size(), image, &message)) {
      return Fail(error, path, message);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, path, "out of memory reading the image");
  }
}

bool WriteImageFile(const std::string& path, const FileImage& image, std::string* error,
                    const ImageWriteOptions& options) {
  ImageFileFormat format = ImageFormatFromPath(path);
  if (format == ImageFileFormat::kUnknown) {
    return Fail(error, path,
                "unknown image file extension (use .png, .tif, .tiff, .pam, .pgm, .ppm or .pfm)");
  }
  std::string message;
  if (format == ImageFileFormat::kTiff) {
#ifdef TALLOW_HAVE_TIFF
    try {
      if (!ValidateFileImage(image, &message) ||
          !WriteTiffFile(path, image, options.tiffDeflate, &message)) {
        return Fail(error, path, message);
      }
      return true;
    } catch (const std::bad_alloc&) {
      return Fail(error, path, "out of memory writing the image");
    }
#else
    return Fail(error, path, "TIFF is not available in the Windows build");
#endif
  }
  if (format == ImageFileFormat::kPng) {
    std::vector<uint8_t> bytes;
    if (!EncodeImageBytes(format, image, &bytes, &message)) return Fail(error, path, message);
    return StoreWholeFile(path, bytes, error);
  }
  // Netpbm formats go to the file as they are encoded, without a copy of the file in memory.
  if (!ValidateFileImage(image, &message) || !CheckNetpbmEncodable(format, image, &message))
    return Fail(error, path, message);
  PlatformFile* file = PlatformFileOpen(path.c_str(), kFileWriteTruncate);
  if (!file) return Fail(error, path, "cannot create the file");
  bool ok;
  try {
    ok = WriteNetpbm(format, image, ByteSink{WriteToFile, file}, &message);
  } catch (const std::bad_alloc&) {
    ok = false;
    message = "out of memory writing the image";
  }
  PlatformFileClose(file);
  if (!ok) {
    // A half-written image would read as truncated later; better none at all.
    PlatformFileDelete(path.c_str());
    return Fail(error, path, message);
  }
  return true;
}
