#include "program/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "tavosim/sav_file.h"

#ifndef TAVOSIM_VERSION
#error "TAVOSIM_VERSION must name the project's version"
#endif

namespace tavosim {

namespace {

constexpr const char* kProgram = "tavosim";
constexpr uint64_t kMaxCount = kForever - 1;  // "always" stands for kForever
constexpr size_t kMaxGen1Serial = 19;         // the longest serial number a backup name holds

// --- strict numbers ---------------------------------------------------------

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const int lower = std::tolower(static_cast<unsigned char>(c));
  if (base == 16 && lower >= 'a' && lower <= 'f') {
    return lower - 'a' + 10;
  }
  return -1;
}

std::optional<uint64_t> ParseNumber(std::string_view text, int base, uint64_t max) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (const char c : text) {
    const int digit = DigitValue(c, base);
    const auto d = static_cast<uint64_t>(digit);
    if (digit < 0 || d > max || value > (max - d) / static_cast<uint64_t>(base)) {
      return std::nullopt;
    }
    value = value * static_cast<uint64_t>(base) + d;
  }
  return value;
}

[[noreturn]] void Refuse(const std::string& option, const std::string& text,
                         const std::string& wanted) {
  throw CLI::ValidationError(option, "'" + text + "' is not " + wanted);
}

uint64_t Decimal(const std::string& option, const std::string& text, uint64_t min, uint64_t max) {
  const auto value = ParseNumber(text, 10, max);
  if (!value || *value < min) {
    Refuse(option, text,
           "a decimal number from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return *value;
}

uint64_t Hex(const std::string& option, const std::string& text, uint64_t max) {
  const auto value = ParseNumber(text, 16, max);
  if (!value) {
    std::ostringstream wanted;
    wanted << "a hexadecimal number up to " << std::hex << std::uppercase << max;
    Refuse(option, text, wanted.str());
  }
  return *value;
}

// A fault count: a number of answers, or "always".
int Count(const std::string& option, const std::string& text) {
  if (text == "always") {
    return kForever;
  }
  const auto value = ParseNumber(text, 10, kMaxCount);
  if (!value) {
    Refuse(option, text, "a count of answers (a decimal number) or 'always'");
  }
  return static_cast<int>(*value);
}

// "VALUE" or "VALUE<separator>SECOND".
std::pair<std::string, std::optional<std::string>> Split(const std::string& text, char separator) {
  const size_t at = text.find(separator);
  if (at == std::string::npos) {
    return {text, std::nullopt};
  }
  return {text.substr(0, at), text.substr(at + 1)};
}

// --- identity ---------------------------------------------------------------

struct Identity {
  uint32_t platformId;
  uint32_t softwareWord;
};

// Identity words that hosts take for each generation.
constexpr std::array<Identity, 7> kGenerations{{
    {0x12345678, 0x01000124},  // 0: a platform hosts do not know
    {0x13000007, 0x01000124},  // 1: TAVO V1
    {0x37000013, 0x01000122},  // 2: TAVO V2, software ...0122
    {0x37000013, 0x01000124},  // 3: TAVO V2, software ...0124 (the default)
    {0x37000013, 0x01000125},  // 4: TAVO V2, other software
    {0x37000020, 0x01000124},  // 5: TQ7
    {0x37000020, 0xAA030133},  // 6: TQ7, software ..030133
}};

bool Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool HexDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return DigitValue(c, 16) >= 0; });
}

// The serial number where the module's generation keeps it: as text for the
// first generation; in OTP memory for the others, as a record of type 1 with
// 5 bytes (10 hex digits), or for generations 5 and 6 also as 14 characters
// stored in reverse order.
void ApplySerial(const std::string& text, ModuleConfig& config) {
  const int generation = ModuleGeneration(config.platformId, config.softwareWord);
  if (text.empty() || text.size() > kMaxGen1Serial || !Printable(text)) {
    Refuse("--serial", text, "1 to 19 printable characters without blanks");
  }
  config.gen1Serial = text;
  Bytes otp(config.otp.size(), 0xFF);
  if (text.size() == 10 && HexDigits(text)) {
    otp[0] = 0x01;
    for (size_t i = 0; i < 5; ++i) {
      otp[1 + i] =
          static_cast<uint8_t>(DigitValue(text[2 * i], 16) * 16 + DigitValue(text[2 * i + 1], 16));
    }
  } else if (text.size() == 14 && generation >= 5) {
    std::reverse_copy(text.begin(), text.end(), otp.begin());
  } else if (generation != 1) {
    Refuse("--serial", text,
           "a serial number of a generation " + std::to_string(generation) +
               " module: 10 hexadecimal digits" + (generation >= 5 ? " or 14 characters" : ""));
  }
  config.otp = std::move(otp);
}

void ApplySav(const std::string& path, ModuleConfig& config) {
  std::string error;
  auto sections = LoadSavFile(path, error);
  if (!sections) {
    throw CLI::ValidationError("--sav", path + ": " + error);
  }
  config.sections = std::move(*sections);
}

// --- the command line -------------------------------------------------------

constexpr const char* kDescription =
    "tavosim - serves simulated TAVO GSM modules on pseudo-terminals\n"
    "\n"
    "Each module gets a pseudo-terminal of its own, which a host opens as the module's\n"
    "serial port (for TavoLink2: TAVOLINK_COM5=<path> makes it COM5). The paths are\n"
    "printed on stdout, one line per module, as soon as the modules listen; then the\n"
    "program serves until SIGINT (Ctrl-C) or SIGTERM, closes the terminals and removes\n"
    "its links. The module answers the AT greeting and the switch into TAT mode, TAT\n"
    "requests (version, serial number, sections 0, 8, 11, 13, 18, 37, 40, memory,\n"
    "restart) and, after a restart or with --boot, its boot code and flash loader.\n";

constexpr const char* kFooter =
    "Start mode and the open delay: a module in AT mode is switched into TAT mode by\n"
    "the host with \"AT+KTAT=1\"; the host then waits its open delay (12000 ms by\n"
    "default: tavolink_SetTATDelay, or the tool's --open-delay) before it identifies\n"
    "the module. A module started with --tat is found at once by the host's version\n"
    "probe, without that wait.\n"
    "\n"
    "Counts N of the faults are numbers of answers (or 'always'); the fault wears off\n"
    "after them. Hexadecimal values may carry one leading 0x.\n"
    "\n"
    "Exit status: 0 after a clean stop, 1 when the terminals or links cannot be made,\n"
    "2 for a bad command line or .SAV file.\n"
    "\n"
    "Example: tavosim -n 2 --tat --link /tmp/tavo   serves /tmp/tavo0 and /tmp/tavo1";

// The help as a person reads it on an 80-column terminal: the value's name
// after the option, the description wrapped beside it.
constexpr size_t kHelpColumn = 30;
constexpr size_t kHelpWidth = 80;

class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(kHelpColumn); }

  // "-n, --modules", as man pages write it.
  std::string make_option_name(const CLI::Option* option, bool positional) const override {
    std::string names = CLI::Formatter::make_option_name(option, positional);
    for (size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2)) {
      names.insert(at + 1, " ");
    }
    return names;
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    const std::string type = option->get_type_name();
    return type.empty() ? std::string() : " " + type;
  }

  std::string make_option_desc(const CLI::Option* option) const override {
    std::string wrapped;
    size_t lineStart = 0;
    std::istringstream words(option->get_description());
    for (std::string word; words >> word;) {
      if (!wrapped.empty() &&
          wrapped.size() - lineStart + 1 + word.size() > kHelpWidth - kHelpColumn) {
        wrapped += '\n';
        lineStart = wrapped.size();
      } else if (!wrapped.empty()) {
        wrapped += ' ';
      }
      wrapped += word;
    }
    return wrapped;
  }
};

constexpr const char* kModulesGroup = "Modules";
constexpr const char* kIdentityGroup = "Identity";
constexpr const char* kStartGroup = "Start mode (default: AT mode, as a module just switched on)";
constexpr const char* kLineGroup = "Line";
constexpr const char* kFaultsGroup = "Faults";

// The options and their effect on `o`. Every value is checked in its own
// callback, so that the message names the option.
void Define(CLI::App& app, ProgramOptions& o) {
  ModuleConfig& c = o.config;
  Faults& f = o.faults;
  LoaderFaults& lf = o.faults.loader;
  const auto text = [&app](const char* name, const char* type, const char* group, const char* help,
                           const std::function<void(const std::string&)>& apply) {
    return app.add_option_function<std::string>(name, apply, help)->type_name(type)->group(group);
  };
  const auto repeated = [&app](const char* name, const char* type, const char* help,
                               const std::function<void(const std::string&)>& apply) {
    return app
        .add_option_function<std::vector<std::string>>(
            name,
            [apply](const std::vector<std::string>& values) {
              std::for_each(values.begin(), values.end(), apply);
            },
            help)
        ->type_name(type)
        ->allow_extra_args(false)
        ->group(kFaultsGroup);
  };
  const auto flag = [&app](const char* name, bool& to, const char* group, const char* help) {
    return app.add_flag(name, to, help)->group(group);
  };
  const auto count = [&text](const char* name, int& to, const char* help) {
    return text(name, "N", kFaultsGroup, help,
                [&to, name](const std::string& v) { to = Count(name, v); });
  };
  const auto bytes = [&text](const char* name, std::optional<size_t>& to, const char* help) {
    return text(name, "BYTES", kFaultsGroup, help, [&to, name](const std::string& v) {
      to = Decimal(name, v, 0, std::numeric_limits<uint32_t>::max());
    });
  };
  const auto section = [](const std::string& name, const std::string& v) {
    return static_cast<uint8_t>(Decimal(name, v, 0, 255));
  };

  app.set_version_flag("--version", std::string(kProgram) + " (TavoLink2) " + TAVOSIM_VERSION,
                       "Print the version and exit");
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.footer(kFooter);
  app.formatter(std::make_shared<HelpFormatter>());

  // Modules.
  text("-n,--modules", "N", kModulesGroup, "Serve N modules, each on its own terminal (1 to 16)",
       [&o](const std::string& v) {
         o.modules = static_cast<int>(Decimal("--modules", v, 1, kMaxModules));
       });
  text("--link", "PATH", kModulesGroup,
       "Make PATH a symbolic link to the terminal; with several modules PATH0, PATH1, ... "
       "An existing link that is stale (to nothing or to a /dev/pts terminal) is replaced; "
       "anything else at PATH is left alone and the program stops",
       [&o](const std::string& v) {
         if (v.empty()) {
           throw CLI::ValidationError("--link", "the path is empty");
         }
         o.link = v;
       });
  flag("-v,--verbose", o.verbose, kModulesGroup,
       "Log the line to stderr: one line per TAT frame, AT text or loader command, with the "
       "time in seconds, the module's number, 'in' (from the host) or 'out' and the bytes");

  // Identity.
  const auto platform =
      text("--platform", "HEX", kIdentityGroup, "Platform identifier (default 37000013, a TAVO V2)",
           [&c](const std::string& v) {
             c.platformId = static_cast<uint32_t>(Hex("--platform", v, ~0U));
           });
  const auto software = text("--software", "HEX", kIdentityGroup,
                             "Software word (default 01000124)", [&c](const std::string& v) {
                               c.softwareWord = static_cast<uint32_t>(Hex("--software", v, ~0U));
                             });
  text("--generation", "G", kIdentityGroup,
       "Identity words of a module of generation G as hosts tell it: 0 unknown platform, "
       "1 TAVO V1 (13000007), 2 to 4 TAVO V2 (37000013 with software ...0122, ...0124, "
       "...0125), 5 and 6 TQ7 (37000020 with ...0124, AA030133)",
       [&c](const std::string& v) {
         const Identity& id = kGenerations[Decimal("--generation", v, 0, kGenerations.size() - 1)];
         c.platformId = id.platformId;
         c.softwareWord = id.softwareWord;
       })
      ->excludes(platform)
      ->excludes(software);
  text("--serial", "TEXT", kIdentityGroup,
       "Serial number: 10 hex digits (kept in OTP memory), for generations 5 and 6 also 14 "
       "characters, for generation 1 any text of up to 19 characters (default 123456789A, "
       "TV1-0012345 for generation 1)",
       [&c](const std::string& v) { ApplySerial(v, c); });
  text("--sav", "FILE", kIdentityGroup,
       "Take the module's sections from a .SAV backup: it holds exactly the sections saved "
       "in FILE",
       [&c](const std::string& v) { ApplySav(v, c); });

  // Start mode.
  const auto tat = flag("--tat", c.startInTat, kStartGroup,
                        "Start in TAT mode, as a module that a previous session left there");
  flag("--boot", c.startInBoot, kStartGroup,
       "Start in the boot code, waiting for a host's software download as long as it takes")
      ->excludes(tat);

  // Line.
  text("--line-speed", "on|off", kLineGroup,
       "Pace the line at the baud rate the host sets, 10 bits a byte (default off: as fast as "
       "the terminal)",
       [&o](const std::string& v) {
         if (v != "on" && v != "off") {
           Refuse("--line-speed", v, "on or off");
         }
         o.pty.emulateLineSpeed = v == "on";
       });
  text("--chunk", "N", kLineGroup,
       "When pacing, bytes handed to the host at once: 1 (default) each byte, 16 a UART's FIFO, "
       "64 a USB adapter (1 to 4096)",
       [&o](const std::string& v) { o.pty.chunkSize = Decimal("--chunk", v, 1, 4096); });
  text("--flash-rate", "BYTES_PER_S", kLineGroup,
       "The loader flashes this many bytes a second and paces the host with XON/XOFF "
       "(default 0: as fast as the bytes come)",
       [&c](const std::string& v) {
         c.loader.flashBytesPerSecond = static_cast<uint32_t>(Decimal("--flash-rate", v, 0, ~0U));
       });
  text("--ack-every", "N", kLineGroup,
       "The loader sends '.' every N blocks of 512 bytes (default 16)", [&c](const std::string& v) {
         c.loader.ackEveryBlocks = static_cast<uint32_t>(Decimal("--ack-every", v, 1, ~0U));
       });

  // Faults of the TAT answers.
  flag("--deaf", f.deaf, kFaultsGroup, "Ignore every byte from the host, in every mode");
  count("--silent", f.silentAnswers, "Serve the next N requests without answering them");
  count("--garbage", f.garbageBeforeAnswers, "Send noise before the next N answers");
  count("--wrong-code", f.wrongCodeBeforeAnswers,
        "Send a frame with another answer code before the next N answers");
  count("--bad-checksum", f.badChecksumAnswers, "Spoil the checksum of the next N answers");
  count("--oversized", f.oversizedAnswers,
        "Replace the next N answers by a header announcing 32767 bytes that never come");
  count("--truncated", f.truncatedAnswers, "Send only the first 10 bytes of the next N answers");
  text("--answer-delay", "MS", kFaultsGroup, "Send every answer this late",
       [&f](const std::string& v) {
         f.answerDelayMs = static_cast<uint32_t>(Decimal("--answer-delay", v, 0, ~0U));
       });
  text("--drop-on-request", "BYTES", kFaultsGroup,
       "At the first request send the first BYTES bytes of its answer, then close the line",
       [&f](const std::string& v) {
         f.dropOnNextRequest = true;
         f.dropAnswerBytes = Decimal("--drop-on-request", v, 0, 0xFFFF);
       });
  repeated("--unknown-section", "ID", "Act as if section ID did not exist (repeatable)",
           [&f, section](const std::string& v) {
             f.unknownSections.insert(section("--unknown-section", v));
           });
  repeated("--refuse-write", "ID",
           "Neither make nor answer memory writes into section ID (repeatable)",
           [&f, section](const std::string& v) {
             f.refusedWrites.insert(section("--refuse-write", v));
           });
  repeated("--lose-read", "ID[@N]",
           "Leave the N-th read (from 0, default 0) of section ID unanswered once (repeatable)",
           [&f, section](const std::string& v) {
             const auto [id, index] = Split(v, '@');
             f.chunkDrops.push_back(ChunkDrop{
                 section("--lose-read", id),
                 index ? static_cast<int>(Decimal("--lose-read", *index, 0, kMaxCount)) : 0});
           });

  // Faults of the boot code and the loader.
  flag("--loader-never-syncs", lf.neverSyncs, kFaultsGroup,
       "The boot code never answers 0x16: no download can start");
  flag("--erase-fails", lf.eraseFails, kFaultsGroup, "The loader's erase never ends");
  flag("--no-block-acks", lf.noBlockAcks, kFaultsGroup,
       "The loader sends no '.' while it takes software");
  text("--block-status", "HEX[@BLOCKS]", kFaultsGroup,
       "Send this byte once in place of the first '.' due after BLOCKS blocks (default 0), "
       "as a flash write error",
       [&lf](const std::string& v) {
         const auto [status, blocks] = Split(v, '@');
         lf.blockStatus = static_cast<uint8_t>(Hex("--block-status", status, 0xFF));
         lf.blockStatusAfterBlocks =
             blocks ? static_cast<uint32_t>(Decimal("--block-status", *blocks, 0, ~0U)) : 0;
       });
  bytes("--hold-xoff-after", lf.holdXoffAfterBytes,
        "After BYTES software bytes the loader sends XOFF and never XON");
  bytes("--drop-after", lf.dropAfterSoftwareBytes, "After BYTES software bytes the line goes dead");
  repeated("--lose-command", "HEX[:N]",
           "Lose the next N (default 1) loader commands of this byte (repeatable)",
           [&lf](const std::string& v) {
             const auto [command, times] = Split(v, ':');
             lf.lostCommands[static_cast<uint8_t>(Hex("--lose-command", command, 0xFF))] =
                 times ? Count("--lose-command", *times) : 1;
           });
}

}  // namespace

int ModuleGeneration(uint32_t platformId, uint32_t softwareWord) {
  switch (platformId) {
    case 0x13000007:
      return 1;
    case 0x37000013:
      return (softwareWord & 0xFFFF) == 0x0122 ? 2 : (softwareWord & 0xFFFF) == 0x0124 ? 3 : 4;
    case 0x37000020:
      return (softwareWord & 0xFFFFFF) == 0x030133 ? 6 : 5;
    default:
      return 0;
  }
}

std::string LinkPath(const std::string& link, int count, int index) {
  return count == 1 ? link : link + std::to_string(index);
}

ParseOutcome ParseProgramOptions(int argc, const char* const* argv, ProgramOptions& options) {
  CLI::App app(kDescription, kProgram);
  Define(app, options);
  try {
    app.parse(argc, argv);
    if (options.config.startInBoot) {
      options.config.loader.bootWindowMs = std::numeric_limits<uint32_t>::max();
    }
  } catch (const CLI::ParseError& e) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(e, out, err);
    if (code == 0) {
      return {false, 0, out.str()};
    }
    return {
        false, 2,
        std::string(kProgram) + ": " + e.what() + "\n" + "Try 'tavosim --help' for the options.\n"};
  }
  return {true, 0, {}};
}

}  // namespace tavosim
