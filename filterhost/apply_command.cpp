// `filterhost apply`: runs a filter module over an image file the way a paint program
// replays a recorded action: the parameters go to the plug-in as a scripting descriptor
// at Start, with the dialog switched off.
#include "filterhost/apply_command.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define FILTERHOST_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define FILTERHOST_ISATTY(fd) isatty(fd)
#endif

#include "filterhost/image_convert.h"
#include "filterhost/image_files.h"
#include "filterhost/module_info.h"
#include "filterhost/test_host.h"
#include "glue/glue_catalogue.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;

// The numeric parameters of our filters all run from 0 to 100.
constexpr int32_t kParameterMin = 0;
constexpr int32_t kParameterMax = 100;

std::atomic<bool> gInterrupted{false};
void OnInterrupt(int) { gInterrupted = true; }

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInteger(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != 0) return false;
  *value = v;
  return true;
}

struct ApplyOptions {
  std::string plugin, in, out, mask;
  std::vector<std::pair<std::string, std::string>> params;  // name, value
  bool grey = false;
  int16_t depth = 0;
  bool json = false;
  bool progress = true;
};

// The dictionary's parameters of the module's one event, and its enumerations.
struct Dictionary {
  std::vector<AeteParameter> parameters;
  std::vector<AeteEnumeration> enumerations;
};

const AeteEnumeration* FindEnumeration(const Dictionary& d, uint32_t type) {
  for (const AeteEnumeration& e : d.enumerations)
    if (e.type == type) return &e;
  return nullptr;
}

std::string ParameterNames(const Dictionary& d) {
  std::string names;
  for (const AeteParameter& p : d.parameters) names += (names.empty() ? "" : ", ") + p.name;
  return names;
}

// Turns NAME=VALUE into a descriptor item; false with a message for unknown names and
// values out of range.
bool ResolveParameter(const Dictionary& d, const std::string& name, const std::string& value,
                      DescriptorItem* item, std::string* error) {
  const AeteParameter* parameter = nullptr;
  for (const AeteParameter& p : d.parameters)
    if (Lower(p.name) == Lower(name)) parameter = &p;
  if (!parameter) {
    *error = "unknown parameter '" + name + "' (this module has: " + ParameterNames(d) + ")";
    return false;
  }
  long number = 0;
  const bool isNumber = ParseInteger(value, &number);
  if (parameter->type == typeInteger) {
    if (!isNumber) {
      *error = parameter->name + " needs a whole number, not '" + value + "'";
      return false;
    }
    if (number < kParameterMin || number > kParameterMax) {
      *error = parameter->name + " must be between 0 and 100, not " + value;
      return false;
    }
    *item = IntegerItem(parameter->key, int32_t(number));
    return true;
  }

  // An enumeration: by number or by name.
  const AeteEnumeration* enumeration = FindEnumeration(d, parameter->type);
  uint32_t code = 0;
  if (parameter->type == kGlueEnumType) {
    // Every catalogue mode, also those the dictionary does not list.
    if (isNumber) {
      if (number < 1 || number > kGlueModeCount) {
        *error = "glue must be a mode number from 1 to 69 or a mode name, not " + value;
        return false;
      }
      code = GlueCodeOf(int(number), kGlueEnumType);
    } else {
      for (int n = 1; n <= kGlueModeCount && !code; ++n)
        if (Lower(GlueModeName(n)) == Lower(value)) code = GlueCodeOf(n, kGlueEnumType);
    }
  }
  if (!code && enumeration) {
    const auto& items = enumeration->enumerators;
    if (isNumber && number >= 1 && size_t(number) <= items.size()) code = items[number - 1].code;
    for (const AeteEnumerator& e : items)
      if (!isNumber && Lower(e.name) == Lower(value)) code = e.code;
  }
  if (!code) {
    std::string choices;
    if (enumeration)
      for (const AeteEnumerator& e : enumeration->enumerators)
        choices += (choices.empty() ? "" : ", ") + e.name;
    *error = "'" + value + "' is not a value of " + parameter->name +
             (choices.empty() ? "" : " (" + choices + ", or their numbers from 1)");
    return false;
  }
  *item = EnumeratedItem(parameter->key, parameter->type, code);
  return true;
}

void DrawProgress(void*, int32_t done, int32_t total) {
  if (total <= 0) return;
  int percent = int(int64_t(done) * 100 / total);
  if (percent > 100) percent = 100;
  if (percent < 0) percent = 0;
  const int width = 40;
  const int filled = percent * width / 100;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
               width - filled, "", percent);
  std::fflush(stderr);
}

bool Interrupted(void*) { return gInterrupted.load(); }

std::string JsonEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
      out += buffer;
    } else {
      out += c;
    }
  }
  return out;
}

std::string RecordedJson(const Dictionary& d, const TestHost& host, OSErr result) {
  std::string json = "{\n  \"result\": " + std::to_string(result) + ",\n  \"recorded\": [";
  bool first = true;
  for (const DescriptorItem& item : host.recordedDescriptor) {
    std::string name;
    for (const AeteParameter& p : d.parameters)
      if (p.key == item.key) name = p.name;
    json += first ? "\n" : ",\n";
    first = false;
    json += "    {\"key\": \"" + JsonEscape(FourCCText(item.key)) + "\", \"name\": \"" +
            JsonEscape(name) + "\", ";
    if (item.type == typeEnumerated) {
      std::string label;
      if (item.enumType == kGlueEnumType) {
        int mode = 0;
        if (GlueModeOfCode(item.enumType, item.enumValue, &mode)) label = GlueModeName(mode);
      } else if (const AeteEnumeration* e = FindEnumeration(d, item.enumType)) {
        for (const AeteEnumerator& en : e->enumerators)
          if (en.code == item.enumValue) label = en.name;
      }
      json += "\"type\": \"enum\", \"enumType\": \"" + JsonEscape(FourCCText(item.enumType)) +
              "\", \"value\": \"" + JsonEscape(FourCCText(item.enumValue)) + "\", \"label\": \"" +
              JsonEscape(label) + "\"}";
    } else if (item.type == typeInteger) {
      json += "\"type\": \"integer\", \"value\": " + std::to_string(item.integer) + "}";
    } else {
      json += "\"type\": \"" + JsonEscape(FourCCText(item.type)) + "\"}";
    }
  }
  json += first ? "]\n}\n" : "\n  ]\n}\n";
  return json;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "filterhost apply: %s\n", message.c_str());
  return kExitFailed;
}

}  // namespace

const char* const kApplyUsage =
    "usage: filterhost apply --plugin MODULE --in IMAGE --out IMAGE\n"
    "                        [--param NAME=VALUE ...] [--glue N|NAME] [--mask IMAGE]\n"
    "                        [--gray] [--depth 8|16|32] [--json] [--no-progress]\n"
    "\n"
    "Runs a filter module (.8bf on Windows, .so on Linux) over an image, as a paint\n"
    "program replays a recorded action: the parameters reach the plug-in as a scripting\n"
    "descriptor with the dialog switched off; parameters not named keep their defaults.\n"
    "\n"
    "  --param NAME=VALUE  a parameter by its scripting name (see `filterhost info`):\n"
    "                      Velvet Hue: gamma, hue, saturation, luminance, vibrance;\n"
    "                      Grain Wreck: colors, radius, coarseness, range, sharpen.\n"
    "                      Numbers run from 0 to 100; an enumeration takes its number\n"
    "                      (from 1) or its name, e.g. colors=2 or colors=\"8 colors\".\n"
    "  --glue N|NAME       the glue mode, 1..69 or its name (\"multiply\", \"hue\", ...)\n"
    "  --mask IMAGE        a selection: a grey image of the same size, white = selected\n"
    "  --gray              filter a greyscale copy of the input\n"
    "  --depth 8|16|32     filter at this depth (16-bit files map 0..65535 to the\n"
    "                      host's 0..32768 and back)\n"
    "  --json              print what the plug-in recorded at Finish, as JSON\n"
    "  --no-progress       no progress bar (it is off anyway when stderr is no terminal)\n"
    "\n"
    "Images: PNG (8/16-bit, grey, grey+alpha, RGB, RGBA), PAM/PGM/PPM, PFM, and TIFF\n"
    "(8/16-bit, float) in the Linux build. An alpha channel becomes editable\n"
    "transparency.\n"
    "\n"
    "Exit status: 0 done, 1 failed (bad input or the filter reported an error),\n"
    "2 usage error, 3 cancelled (Ctrl-C).\n";

int RunApplyCommand(const std::vector<std::string>& args) {
  ApplyOptions options;
  auto usage = [](const std::string& message) {
    std::fprintf(stderr, "filterhost apply: %s\n%s", message.c_str(), kApplyUsage);
    return kExitUsage;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kApplyUsage, stdout);
      return kExitOk;
    } else if (arg == "--plugin") {
      if (!value(&options.plugin)) return usage("--plugin needs a module");
    } else if (arg == "--in") {
      if (!value(&options.in)) return usage("--in needs an image");
    } else if (arg == "--out") {
      if (!value(&options.out)) return usage("--out needs an image");
    } else if (arg == "--mask") {
      if (!value(&options.mask)) return usage("--mask needs an image");
    } else if (arg == "--param") {
      if (!value(&v)) return usage("--param needs NAME=VALUE");
      size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return usage("--param needs NAME=VALUE, not '" + v + "'");
      options.params.push_back({v.substr(0, eq), v.substr(eq + 1)});
    } else if (arg == "--glue") {
      if (!value(&v)) return usage("--glue needs a mode number or name");
      options.params.push_back({"glue", v});
    } else if (arg == "--gray" || arg == "--grey") {
      options.grey = true;
    } else if (arg == "--depth") {
      if (!value(&v) || (v != "8" && v != "16" && v != "32"))
        return usage("--depth needs 8, 16 or 32");
      options.depth = int16_t(std::atoi(v.c_str()));
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--no-progress") {
      options.progress = false;
    } else {
      return usage("unknown argument '" + arg + "'");
    }
  }
  if (options.plugin.empty()) return usage("no --plugin given");
  if (options.in.empty()) return usage("no --in image given");
  if (options.out.empty()) return usage("no --out image given");
  if (ImageFormatFromPath(options.out) == ImageFileFormat::kUnknown)
    return usage("unknown output extension in '" + options.out + "'");

  // What the module calls its parameters.
  ModuleInfo info;
  std::string error;
  if (!DescribeModuleFile(options.plugin, &info, &error)) return Fail(error);
  Dictionary dictionary;
  if (info.hasAete && !info.aete.suites.empty() && !info.aete.suites[0].events.empty()) {
    dictionary.parameters = info.aete.suites[0].events[0].parameters;
    dictionary.enumerations = info.aete.enumerations;
  }
  std::vector<DescriptorItem> items;
  for (const auto& p : options.params) {
    DescriptorItem item;
    if (!ResolveParameter(dictionary, p.first, p.second, &item, &error)) return Fail(error);
    for (DescriptorItem& existing : items)
      if (existing.key == item.key) existing = item, item.key = 0;
    if (item.key) items.push_back(item);
  }

  // The picture, as the host holds it.
  TestHost host;
  {
    FileImage file;
    if (!ReadImageFile(options.in, &file, &error) ||
        !FileImageToHostImage(std::move(file), &host.image, &error))
      return Fail(error);
  }
  if (options.grey && !ConvertHostImageToGrey(&host.image, &error)) return Fail(error);
  if (options.depth && !ConvertHostImageDepth(&host.image, options.depth, &error))
    return Fail(error);
  if (!options.mask.empty()) {
    FileImage maskFile;
    HostImage mask;
    if (!ReadImageFile(options.mask, &maskFile, &error) ||
        !FileImageToHostImage(maskFile, &mask, &error) ||
        !ConvertHostImageDepth(&mask, 8, &error) || !ConvertHostImageToGrey(&mask, &error))
      return Fail("mask: " + error);
    if (mask.width != host.image.width || mask.height != host.image.height)
      return Fail("the mask is " + std::to_string(mask.width) + " x " +
                  std::to_string(mask.height) + " but the image is " +
                  std::to_string(host.image.width) + " x " + std::to_string(host.image.height));
    std::vector<uint8_t> selection(size_t(mask.width) * mask.height);
    const int planes = mask.planes;
    for (size_t i = 0; i < selection.size(); ++i) selection[i] = mask.pixels[i * planes];
    SetSelectionMask(host.image, std::move(selection));
  }

  if (!LoadModule(host, options.plugin, &error)) return Fail(error);
  host.recordedDescriptor = items;
  host.hasRecordedDescriptor = true;
  host.settings.replayDescriptor = true;
  host.settings.playInfo = plugInDialogSilent;
  const bool drawProgress = options.progress && FILTERHOST_ISATTY(2);
  if (drawProgress) host.settings.progressObserver = DrawProgress;
  host.settings.abortObserver = Interrupted;
  std::signal(SIGINT, OnInterrupt);

  RunResult run = RunFilter(host, {false});
  if (drawProgress) std::fprintf(stderr, "\r%60s\r", "");
  std::signal(SIGINT, SIG_DFL);
  const std::string recorded = RecordedJson(dictionary, host, run.result);
  ForgetPluginState(host);
  UnloadModule(host);

  if (run.result == userCanceledErr || gInterrupted) {
    std::fprintf(stderr, "filterhost apply: cancelled; %s was not written\n", options.out.c_str());
    return kExitCancelled;
  }
  if (run.result != noErr)
    return Fail("the filter failed with result " + std::to_string(run.result) + "; " +
                options.out + " was not written");

  FileImage out;
  if (!HostImageToFileImage(std::move(host.image), &out, &error)) return Fail(error);
  host.image = HostImage();
  if (!WriteImageFile(options.out, out, &error)) return Fail(error);
  if (options.json) std::fputs(recorded.c_str(), stdout);
  return kExitOk;
}
