// The `filterhost` command-line tool: one sub-command per job, each with its own help.
//
// Exit codes: 0 success, 1 bad input (missing, foreign or corrupt module), 2 usage error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "filterhost/apply_command.h"
#include "filterhost/image_convert.h"
#include "filterhost/image_files.h"
#include "filterhost/module_info.h"
#include "filterhost/test_host.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;

struct SubCommand {
  const char* name;
  const char* summary;
  const char* usage;  // full help text of the sub-command
  int (*run)(const SubCommand& command, const std::vector<std::string>& args);
};

bool IsHelpOption(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int UsageError(const SubCommand& command, const std::string& message) {
  std::fprintf(stderr, "filterhost %s: %s\n%s", command.name, message.c_str(), command.usage);
  return kExitUsage;
}

int RunInfo(const SubCommand& command, const std::vector<std::string>& args) {
  std::string modulePath;
  bool json = false;
  for (const std::string& arg : args) {
    if (IsHelpOption(arg)) {
      std::fputs(command.usage, stdout);
      return kExitOk;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(command, "unknown option '" + arg + "'");
    } else if (modulePath.empty()) {
      modulePath = arg;
    } else {
      return UsageError(command, "more than one module given");
    }
  }
  if (modulePath.empty()) return UsageError(command, "no module given");

  ModuleInfo info;
  std::string error;
  if (!DescribeModuleFile(modulePath, &info, &error)) {
    std::fprintf(stderr, "filterhost info: %s\n", error.c_str());
    return kExitBadInput;
  }
  std::string report = json ? FormatModuleInfoJson(info) : FormatModuleInfoText(info);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return kExitOk;
}

// Loads an image into the host's in-memory image and saves it again: the same path an
// image takes around a filter, without the filter.
int RunConvert(const SubCommand& command, const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  int16_t depth = 0;
  bool grey = false, rgb = false;
  ImageWriteOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelpOption(arg)) {
      std::fputs(command.usage, stdout);
      return kExitOk;
    }
    if (arg == "--depth") {
      if (i + 1 == args.size()) return UsageError(command, "--depth needs 8, 16 or 32");
      const std::string& value = args[++i];
      if (value != "8" && value != "16" && value != "32") {
        return UsageError(command, "--depth must be 8, 16 or 32, not '" + value + "'");
      }
      depth = int16_t(std::stoi(value));
    } else if (arg == "--gray" || arg == "--grey") {
      grey = true;
    } else if (arg == "--rgb") {
      rgb = true;
    } else if (arg == "--uncompressed") {
      options.tiffDeflate = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(command, "unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return UsageError(command, "needs an input and an output file");
  if (grey && rgb) return UsageError(command, "--gray and --rgb exclude each other");
  if (ImageFormatFromPath(paths[1]) == ImageFileFormat::kUnknown) {
    return UsageError(command, "unknown output extension in '" + paths[1] + "'");
  }

  FileImage file;
  HostImage host;
  std::string error;
  bool ok = ReadImageFile(paths[0], &file, &error) &&
            FileImageToHostImage(std::move(file), &host, &error);
  file = FileImage();  // the host image holds the pixels from here on
  if (ok && depth) ok = ConvertHostImageDepth(&host, depth, &error);
  if (ok && grey) ok = ConvertHostImageToGrey(&host, &error);
  if (ok && rgb) ok = ConvertHostImageToRgb(&host, &error);
  if (ok) ok = HostImageToFileImage(std::move(host), &file, &error);
  if (ok) {
    host = HostImage();
    ok = WriteImageFile(paths[1], file, &error, options);
  }
  if (!ok) {
    std::fprintf(stderr, "filterhost convert: %s\n", error.c_str());
    return kExitBadInput;
  }
  return kExitOk;
}

// Calls the module's About selector, as a host's About menu does; the module shows its
// About box (Windows) and returns when it is closed.
int RunAbout(const SubCommand& command, const std::vector<std::string>& args) {
  if (args.size() == 1 && IsHelpOption(args[0])) {
    std::fputs(command.usage, stdout);
    return kExitOk;
  }
  if (args.size() != 1) return UsageError(command, "needs exactly one module");
  TestHost host;
  std::string error;
  if (!LoadModule(host, args[0], &error)) {
    std::fprintf(stderr, "filterhost about: %s\n", error.c_str());
    return kExitBadInput;
  }
  const OSErr result = CallSelector(host, filterSelectorAbout);
  UnloadModule(host);
  if (result != noErr) {
    std::fprintf(stderr, "filterhost about: the module answered %d\n", result);
    return kExitBadInput;
  }
  return kExitOk;
}

int RunApply(const SubCommand& command, const std::vector<std::string>& args) {
  return RunApplyCommand(args);
}

const SubCommand kSubCommands[] = {
    {"info", "show what a plug-in module declares (PiPL, AETE, exports)",
     "usage: filterhost info MODULE [--json]\n"
     "\n"
     "Reads a filter module (.8bf, 32- or 64-bit) straight from the file, without\n"
     "loading it, and prints its machine type, exported and imported names, resources,\n"
     "the decoded plug-in property list (PiPL) and scripting dictionary (AETE).\n"
     "\n"
     "  --json     print the same information as JSON\n"
     "  --help     show this help\n"
     "\n"
     "Exit status: 0 success, 1 missing, foreign or corrupt module, 2 usage error.\n",
     RunInfo},
    {"apply", "run a filter module over an image", kApplyUsage, RunApply},
    {"about", "show a module's About box (its About selector)",
     "usage: filterhost about MODULE\n"
     "\n"
     "Loads the module and calls its About selector, as a paint program's About menu\n"
     "does. The Windows modules show their About box; the Linux modules have no user\n"
     "interface and return at once.\n",
     RunAbout},
    {"convert", "convert an image file to another format, depth or colour",
     "usage: filterhost convert IN OUT [--depth 8|16|32] [--gray | --rgb] [--uncompressed]\n"
     "\n"
     "Loads IN into the host's in-memory image and saves it as OUT, the same way `apply`\n"
     "loads and saves around a filter. IN is recognised by its content, OUT's format by\n"
     "its extension: .png (8/16-bit), .tif/.tiff (8/16-bit, float; not in the Windows\n"
     "build), .pam (8/16-bit, with alpha), .pgm/.ppm (8/16-bit), .pfm (float, no alpha).\n"
     "16-bit samples pass through the host's 0..32768 range, so a value may move by one.\n"
     "\n"
     "  --depth N       convert to 8-bit, 16-bit or 32-bit float samples\n"
     "  --gray          convert to grey (luma 0.299 R + 0.587 G + 0.114 B), keeping alpha\n"
     "  --rgb           convert grey to RGB, keeping alpha\n"
     "  --uncompressed  write TIFF without compression (default: deflate)\n"
     "  --help          show this help\n"
     "\n"
     "Exit status: 0 success, 1 unreadable input or failed conversion or write, 2 usage error.\n",
     RunConvert},
};

void PrintGlobalHelp(std::FILE* out) {
  std::fputs(
      "usage: filterhost COMMAND [ARGS...]\n"
      "       filterhost help [COMMAND]\n"
      "       filterhost COMMAND --help\n"
      "\n"
      "Commands:\n",
      out);
  for (const SubCommand& c : kSubCommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
}

const SubCommand* FindSubCommand(const std::string& name) {
  for (const SubCommand& c : kSubCommands)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) {
    PrintGlobalHelp(stderr);
    return kExitUsage;
  }
  if (IsHelpOption(args[0]) || args[0] == "help") {
    if (args[0] == "help" && args.size() > 1) {
      const SubCommand* command = FindSubCommand(args[1]);
      if (!command) {
        std::fprintf(stderr, "filterhost: unknown command '%s'\n", args[1].c_str());
        return kExitUsage;
      }
      std::fputs(command->usage, stdout);
      return kExitOk;
    }
    PrintGlobalHelp(stdout);
    return kExitOk;
  }
  const SubCommand* command = FindSubCommand(args[0]);
  if (!command) {
    std::fprintf(stderr, "filterhost: unknown command '%s'\n\n", args[0].c_str());
    PrintGlobalHelp(stderr);
    return kExitUsage;
  }
  if (args.size() > 1 && IsHelpOption(args[1])) {
    std::fputs(command->usage, stdout);
    return kExitOk;
  }
  try {
    return command->run(*command, std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const std::exception& e) {
    // Only allocation failure can get here; report it rather than abort.
    std::fprintf(stderr, "filterhost %s: %s\n", command->name, e.what());
    return kExitBadInput;
  }
}
