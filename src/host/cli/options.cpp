#include "host/cli/options.h"

#include "host/platform/printable.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hostreg {

namespace {

const char kSynopsis[] =
    "usage: regswitch --registry FILE [--dry-run] [--] SWITCH...\n"
    "       regswitch --registry FILE [--user FILE] --merge FILE.reg [--merge ...]\n"
    "                 [--dry-run] [--] [SWITCH...]\n"
    "       regswitch --image DISK [--partition N] [--merge FILE.reg ...]\n"
    "                 [--dry-run] [--] [SWITCH...]\n"
    "       regswitch --registry FILE --show\n"
    "       regswitch --registry FILE [--user FILE] [--classes FILE] --export FILE.reg\n"
    "       regswitch --image DISK [--partition N] --show\n"
    "       regswitch /?\n"
    "       regswitch --help | --version\n";

const char kAbout[] =
    "\n"
    "Applies Windows 95 machine setting switches to a registry file instead\n"
    "of the live registry: a .reg export (REGEDIT4, or Version 5.00 in\n"
    "UTF-16) or a Windows 9x SYSTEM.DAT. ";
const char kSwitches[] =
    "Switches, in any case,\n"
    "each with :1 or =1 for on and anything else for off:\n"
    "  /SSP  APM suspend on the Start menu      /DMA  IDE DMA for both drives\n"
    "  /DDC  display DDC                        /DIN  DeskMgmt installed marker\n"
    "  /CDP  CD-ROM auto-insert notification    /ACS  reset AC drive spin-down\n";
const char kOptionsHead[] =
    "Options (anywhere before --; switch text that starts with -- goes after "
    "it):\n";

// One option of the host program. A new option is a row here and a field
// in Options.
struct OptionRow {
  const char* name;
  const char* value;  // the value's name in the help, or null for a flag
  const char* help;   // lines after the first start with a newline
  // Takes the value ("" for a flag, and for a value that is missing); false
  // and a message for a bad one.
  bool (*apply)(Options& options, const std::string& value,
                std::string& message);
  bool alone;  // the run does only this: the rest is not looked at
};

const OptionRow kOptionRows[] = {
    {"--registry", "FILE",
     "the registry file to change (saved only if a value\n"
     "changes, atomically, in its own format)",
     [](Options& options, const std::string& value, std::string& message) {
       options.registryPath = value;
       options.haveRegistry = true;
       if (value.empty()) message = "--registry needs a file name";
       return !value.empty();
     },
     false},
    {"--image", "DISK",
     "a disk image holding Windows 9x (raw, qcow2, VDI, VMDK,\n"
     "VHD, VHDX, HDI): changes the SYSTEM.DAT in it (a merge\n"
     "also USER.DAT), in place, in the image's own format",
     [](Options& options, const std::string& value, std::string& message) {
       options.imagePath = value;
       options.haveImage = true;
       if (value.empty()) message = "--image needs a disk image";
       return !value.empty();
     },
     false},
    {"--partition", "N",
     "with --image: the partition that holds Windows, when\n"
     "several do (numbered as fdisk -l does)",
     [](Options& options, const std::string& value, std::string& message) {
       // At most three digits, more than an MBR disk can number.
       if (value.empty() || value.size() > 3 ||
           value.find_first_not_of("0123456789") != std::string::npos ||
           std::stoi(value) == 0) {
         message = "--partition needs a partition number: 1 to 4, or 5 and "
                   "up for a logical drive";
         return false;
       }
       options.partition = std::stoi(value);
       return true;
     },
     false},
    {"--dry-run", nullptr, "print the changes as a .reg fragment, save nothing",
     [](Options& options, const std::string&, std::string&) {
       options.dryRun = true;
       return true;
     },
     false},
    {"--merge", "FILE",
     "apply a .reg file to the registry (and --user) as\n"
     "Windows' importer would, before the switches; may be\n"
     "given several times, applied in order",
     [](Options& options, const std::string& value, std::string& message) {
       options.mergePaths.push_back(value);
       if (value.empty()) message = "--merge needs a file name";
       return !value.empty();
     },
     false},
    {"--user", "FILE",
     "the USER.DAT (HKEY_USERS, HKEY_CURRENT_USER) that\n"
     "merges reach besides the registry",
     [](Options& options, const std::string& value, std::string& message) {
       options.userPath = value;
       options.haveUser = true;
       if (value.empty()) message = "--user needs a file name";
       return !value.empty();
     },
     false},
    {"--classes", "FILE",
     "Windows Me's CLASSES.DAT (HKEY_CLASSES_ROOT), which\n"
     "merges reach besides the registry",
     [](Options& options, const std::string& value, std::string& message) {
       options.classesPath = value;
       options.haveClasses = true;
       if (value.empty()) message = "--classes needs a file name";
       return !value.empty();
     },
     false},
    {"--export", "FILE",
     "write the registry files as one REGEDIT4 .reg file,\n"
     "as Windows 98's registry editor exports (- for\n"
     "standard output); change nothing",
     [](Options& options, const std::string& value, std::string& message) {
       options.exportPath = value;
       options.haveExport = true;
       if (value.empty()) message = "--export needs a file name, or - for standard output";
       return !value.empty();
     },
     false},
    {"--backup", nullptr,
     "before a save, keep each file as it was beside it\n"
     "(FILE.bak, or FILE.bak2... if taken; nothing is\n"
     "ever overwritten)",
     [](Options& options, const std::string&, std::string&) {
       options.backup = true;
       return true;
     },
     false},
    {"--verbose", nullptr,
     "(-v) list on standard error what each switch changed",
     [](Options& options, const std::string&, std::string&) {
       options.verbose = true;
       return true;
     },
     false},
    {"--show", nullptr,
     "print each setting's state in the file (on, off,\n"
     "mixed...) and the values behind it; change nothing",
     [](Options& options, const std::string&, std::string&) {
       options.show = true;
       return true;
     },
     false},
    {"--version", nullptr, "print the program's version",
     [](Options& options, const std::string&, std::string&) {
       options.version = true;
       return true;
     },
     true},
    {"--help", nullptr, "(-h) this text; /? shows the program's about box",
     [](Options& options, const std::string&, std::string&) {
       options.help = true;
       return true;
     },
     true},
};

constexpr size_t kHelpColumn = 20;

// The short forms of options, as Linux tools have them. Every other word
// with one dash is switch text (-dma:1, -SSP).
struct ShortOption {
  const char* word;
  const char* option;
};
const ShortOption kShortOptions[] = {{"-h", "--help"}, {"-v", "--verbose"}};

// Options that may be given more than once, each time adding to a list.
const char* const kRepeatable[] = {"--merge"};

bool Repeatable(const OptionRow* row) {
  for (const char* name : kRepeatable)
    if (std::strcmp(name, row->name) == 0) return true;
  return false;
}

bool UsageError(const std::string& why, std::string& message) {
  message = hostreg::UsageError(why);
  return false;
}

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptionRows)
    if (name == row.name) return &row;
  return nullptr;
}

// One "--name" or "--name=value" word, and the next one where it is the
// value. Moves `i` past what it takes; false for a usage error.
bool TakeOption(int argc, const char* const* argv, int& i,
                std::vector<const OptionRow*>& seen, Options& options,
                std::string& message) {
  std::string word = argv[i++];
  for (const ShortOption& alias : kShortOptions)
    if (word == alias.word) word = alias.option;
  const size_t equals = word.find('=');
  const std::string name = word.substr(0, equals);
  const OptionRow* row = FindOption(name);
  if (row == nullptr)
    return UsageError("unknown option " + name +
                          " (switch text that starts with -- goes after --)",
                      message);
  for (const OptionRow* before : seen)
    if (before == row && !Repeatable(row))
      return UsageError(name + " is given twice", message);
  seen.push_back(row);
  std::string value;
  if (row->value == nullptr && equals != std::string::npos)
    return UsageError(name + " takes no value", message);
  if (row->value != nullptr && equals != std::string::npos) {
    value = word.substr(equals + 1);
  } else if (row->value != nullptr && i < argc) {
    value = argv[i++];  // whatever it looks like, as GNU programs do
  }
  std::string why;
  return row->apply(options, value, why) || UsageError(why, message);
}

bool IsShortOption(const char* word) {
  for (const ShortOption& alias : kShortOptions)
    if (std::strcmp(word, alias.word) == 0) return true;
  return false;
}

}  // namespace

bool IsOptionName(const std::string& name) { return FindOption(name) != nullptr; }

std::string UsageError(const std::string& why) {
  return "regswitch: " + Printable(why) + "\n" + kSynopsis +
         "Run regswitch --help for the options.\n";
}

std::string VersionText() { return "regswitch " REGSWITCH_VERSION "\n"; }

std::string HostAboutText() {
  return std::string("\n") + kSwitches + VersionText();
}

std::string UsageText() {
  std::string text = std::string(kSynopsis) + kAbout + kSwitches + kOptionsHead;
  for (const OptionRow& row : kOptionRows) {
    std::string head = std::string("  ") + row.name;
    if (row.value != nullptr) head += std::string(" ") + row.value;
    head.resize(std::max(head.size() + 1, kHelpColumn), ' ');
    text += head;
    for (const char* c = row.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text.append(kHelpColumn, ' ');
    }
    text += '\n';
  }
  return text;
}

bool ParseOptions(int argc, const char* const* argv, Options& options,
                  std::string& message) {
  if (argc <= 1) {
    message = UsageText();
    return false;
  }
  std::vector<const OptionRow*> seen;
  bool optionsEnded = false;
  std::vector<std::string> words;
  for (int i = 1; i < argc;) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      ++i;
    } else if (!optionsEnded && (std::strncmp(arg, "--", 2) == 0 ||
                                 IsShortOption(arg))) {
      if (!TakeOption(argc, argv, i, seen, options, message)) return false;
      if (seen.back()->alone) return ValidateOptions(options, message);
    } else {
      if (!optionsEnded) options.switchWords.push_back(arg);
      words.push_back(argv[i++]);
    }
  }
  for (size_t j = 0; j < words.size(); ++j) {
    if (j > 0) options.tail += ' ';
    options.tail += words[j];
  }
  std::string why;
  return ValidateOptions(options, why) || UsageError(why, message);
}

}  // namespace hostreg
