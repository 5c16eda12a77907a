// vokram-cli: split, check and join from a shell, with the window's checks
// and messages.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "Console.h"
#include "GetCRC.h"
#include "Operations.h"
#include "ProgressLine.h"
#include "Stop.h"
#include "Text.h"
#include "Version.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace vokram::cli {

namespace {

// kFolderChanged: a run failed and could not put the folder back as it was.
constexpr int kOk = 0, kFailed = 1, kUsage = 2, kFolderChanged = 3;
constexpr int kUnrepairable = 2;  // check: pieces lost or damaged beyond what recovery files restore

constexpr std::string_view kHelp =
    "Usage:\n"
    "  vokram-cli split SOURCE OUTDIR --min KB --max KB [--base NAME] [--bat] [--no-vok]\n"
    "                   [--recovery N] [--seed N] [--force] [--quiet]\n"
    "  vokram-cli check VOKFILE [--quiet]\n"
    "  vokram-cli join VOKFILE [OUTDIR] [--force] [--quiet]\n"
    "  vokram-cli repair VOKFILE [--force] [--quiet]\n"
    "  vokram-cli crc FILE\n"
    "  vokram-cli --version\n"
    "\n"
    "split  cuts SOURCE into pieces of random sizes between --min and --max KiB\n"
    "       (OUTDIR/NAME.000, .001, ...; NAME defaults to SOURCE's name without\n"
    "       its extension), with a .vok descriptor (unless --no-vok) and a batch\n"
    "       file that rebuilds SOURCE by COPY (--bat). --seed N draws the sizes\n"
    "       from a seeded generator instead of the fixed default sequence.\n"
    "       --recovery N also writes PAR2 recovery files (NAME.par2 and\n"
    "       NAME.volX+Y.par2, none larger than the largest piece) with which any\n"
    "       N pieces (1 to 999) may be lost or damaged and SOURCE still comes\n"
    "       back, by par2, MultiPar or another PAR2 tool.\n"
    "check  reports every piece listed in VOKFILE as missing (×), damaged (△)\n"
    "       or sound (○), judged by PAR2 recovery files beside them too, and\n"
    "       then whether those files can restore what is lost. Exit status 0:\n"
    "       all sound; 1: recovery files can restore the rest; 2: nothing can.\n"
    "join   writes the source again from the pieces beside VOKFILE into OUTDIR\n"
    "       (default: VOKFILE's folder), rebuilding lost or damaged pieces from\n"
    "       recovery files beside them where it must.\n"
    "repair writes lost and damaged pieces anew from the recovery files beside\n"
    "       VOKFILE, so that the set can be passed on whole; a damaged piece is\n"
    "       replaced only with --force.\n"
    "crc    prints the CRC-16 of FILE as four hexadecimal digits.\n"
    "\n"
    "-- ends the options: every argument after it is a file or folder name,\n"
    "even one that begins with \"-\" (vokram-cli crc -- -x.bin).\n"
    "\n"
    "split and join replace no file: when a file already has an output's name\n"
    "they name it and exit with status 1, unless --force (-f) is given. A folder\n"
    "under an output's name is never replaced. What they write is on the disk\n"
    "(synced) before they report success. A run changes its folder all or\n"
    "nothing: one that was killed is settled by the next split or join into\n"
    "that folder, which says so first; check names such a run. Exit status 3:\n"
    "a run failed and could not put every earlier file back (the message says\n"
    "where it is; the next run into the folder puts it back).\n"
    "\n"
    "On a terminal, split, check and join show their progress on stderr\n"
    "(percentage, MiB/s, time left) unless --quiet is given. Ctrl-C or SIGTERM\n"
    "stops them cleanly: what the run created is removed; exit status 130\n"
    "(143 after SIGTERM).\n"
#ifdef _WIN32
    "\n"
    "In a console window text is written as Unicode. Redirected to a file or a\n"
    "pipe it is written in the console's code page: Shift-JIS (932) on a\n"
    "Japanese system, UTF-8 after chcp 65001.\n"
#endif
    ;

std::string Utf8(const NativeString& s) { return ToUtf8(std::filesystem::path(s)); }

void Line(std::string_view text) { Out(std::string(text) + "\n"); }
void ErrLine(std::string_view text) { Err(std::string(text) + "\n"); }

int Usage(std::string_view problem) {
  if (!problem.empty()) ErrLine(problem);
  Err(kHelp);
  return kUsage;
}

// The flows' answers on a console: progress on stderr while a step runs,
// texts on stdout (reports, figures, success) or stderr (everything else).
class ConsoleView final : public OperationView {
 public:
  explicit ConsoleView(bool quiet) : quiet_(quiet) {}

  std::exception_ptr Run(Operation, const Work& work, bool&) override {
    ProgressLine line(!quiet_ && StderrIsTerminal());
    line_ = &line;
    std::exception_ptr failure;
    try {
      // Stops on a signal.
      work(Progress{[&line](std::uint64_t done, std::uint64_t total) { line.Update(done, total); },
                    &StopRequested()});
    } catch (...) {
      failure = std::current_exception();
    }
    line.Clear();
    line_ = nullptr;
    return failure;
  }
  void Refuse(const std::string& text, Focus) override { ErrLine(text); }
  void Notice(const std::string& text) override { ErrLine(text); }
  // Without --force a file under an output's name refuses the run: the
  // window's question, the file it is about, and how to say yes here.
  bool AskToReplace(const std::string& question, const std::filesystem::path& first) override {
    ErrLine(question);
    ErrLine(ToUtf8(first));
    ErrLine(MessageText(MessageId::UseForce));
    return false;
  }
  void Pending(const std::string& text) override {
    if (line_) line_->Clear();
    ErrLine(text);
  }
  void Report(const PieceReport& piece) override {
    if (line_) line_->Clear();  // the report line goes where the progress stood
#ifdef _WIN32
    Out(ReportLine(piece));
#else
    Out(ReportLine(piece, "\n"));  // the shell's line break
#endif
  }
  void Conclude(const std::string& text) override {
    if (line_) line_->Clear();
    Line(text);
  }
  void Summary(const std::string& text) override { Line(text); }
  void End(Ending ending, const std::string& text) override {
    if (ending == Ending::Done) {
      Line(text);
    } else {
      ErrLine(text);
    }
  }

 private:
  bool quiet_;
  ProgressLine* line_ = nullptr;
};

int ExitStatus(Ending ending) {
  switch (ending) {
    case Ending::Done:
    case Ending::DoneWithWarning: return kOk;
    case Ending::FolderChanged: return kFolderChanged;
    case Ending::Stopped: return StoppedExitStatus();
    default: return kFailed;
  }
}

constexpr NativeView kEndOfOptions = VOKRAM_NATIVE("--");

// Takes every form of a flag out of the options, the arguments before "--";
// true when it was there.
bool TakeFlag(std::vector<NativeString>& args, std::initializer_list<NativeView> forms) {
  const auto options = std::find(args.begin(), args.end(), kEndOfOptions);
  const auto rest = std::remove_if(args.begin(), options, [&](const NativeString& a) {
    return std::find(forms.begin(), forms.end(), NativeView(a)) != forms.end();
  });
  const bool found = rest != options;
  args.erase(rest, options);
  return found;
}

// Drops the "--" that ends the options of a command whose other arguments are
// all names: what follows it is left as it is.
void DropEndOfOptions(std::vector<NativeString>& args) {
  if (const auto end = std::find(args.begin(), args.end(), kEndOfOptions); end != args.end()) args.erase(end);
}

// A seed is a plain decimal number of 32 bits: no sign, nothing after it.
std::optional<std::uint32_t> ParseSeed(const std::string& text) {
  std::uint32_t seed = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, seed);
  if (error != std::errc() || stop != end) return std::nullopt;
  return seed;
}

bool TakeQuiet(std::vector<NativeString>& args) { return TakeFlag(args, {VOKRAM_NATIVE("--quiet")}); }
bool TakeForce(std::vector<NativeString>& args) {
  return TakeFlag(args, {VOKRAM_NATIVE("--force"), VOKRAM_NATIVE("-f")});
}

int Split(std::vector<NativeString> args) {
  const bool quiet = TakeQuiet(args);
  SplitFields fields;
  SplitOptions options;
  options.replaceExisting = TakeForce(args);
  std::optional<std::uint32_t> seed;
  std::vector<NativeString> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == kEndOfOptions) {
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    const std::string a = Utf8(args[i]);
    auto value = [&]() -> std::optional<NativeString> {
      if (i + 1 >= args.size() || args[i + 1] == kEndOfOptions) return std::nullopt;
      return args[++i];
    };
    if (a == "--min" || a == "--max" || a == "--base" || a == "--seed" || a == "--recovery") {
      const auto v = value();
      if (!v) return Usage(a + " needs a value");
      if (a == "--min") fields.minSize = *v;
      if (a == "--max") fields.maxSize = *v;
      if (a == "--base") fields.dstFileName = *v;
      if (a == "--recovery") fields.recovery = *v;
      if (a == "--seed") {
        seed = ParseSeed(Utf8(*v));
        if (!seed) return Usage("--seed needs a number from 0 to 4294967295");
      }
    } else if (a == "--bat") {
      options.writeBat = true;
    } else if (a == "--no-vok") {
      options.writeVok = false;
    } else if (a.starts_with("--")) {
      return Usage("unknown option " + a);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) return Usage("split needs SOURCE and OUTDIR");
  fields.srcFile = positional[0];
  fields.dstDir = positional[1];
  std::mt19937 seeded(seed.value_or(0));
  RandomSource random;
  if (seed) random = [&] { return UnitInterval(seeded()); };

  ConsoleView view(quiet);
  return ExitStatus(RunSplit(fields, options, view, random));
}

int Check(std::vector<NativeString> args) {
  const bool quiet = TakeQuiet(args);
  DropEndOfOptions(args);
  if (args.size() != 1) return Usage("check needs VOKFILE");
  ConsoleView view(quiet);
  // As PAR2 tools verify: 1 when recovery files restore the damage, 2 when nothing does.
  switch (const Ending ending = RunCheck(args[0], view)) {
    case Ending::Repairable: return kFailed;
    case Ending::Unsound: return kUnrepairable;
    default: return ExitStatus(ending);
  }
}

int Join(std::vector<NativeString> args) {
  const bool quiet = TakeQuiet(args);
  const JoinOptions options{TakeForce(args)};
  DropEndOfOptions(args);
  if (args.empty() || args.size() > 2) return Usage("join needs VOKFILE and at most one OUTDIR");
  const JoinFields fields{args[0], args.size() == 2 ? args[1] : NativeString(), args.size() == 2};
  ConsoleView view(quiet);
  return ExitStatus(RunJoin(fields, options, view));
}

int Repair(std::vector<NativeString> args) {
  const bool quiet = TakeQuiet(args);
  const bool force = TakeForce(args);
  DropEndOfOptions(args);
  if (args.size() != 1) return Usage("repair needs VOKFILE");
  ConsoleView view(quiet);
  return ExitStatus(RunRepair(args[0], force, view));
}

int Crc(std::vector<NativeString> args) {
  DropEndOfOptions(args);
  if (args.size() != 1) return Usage("crc needs FILE");
  try {
    const auto crc = GetFileCRC(std::filesystem::path(args[0]));
    if (!crc) {
      const bool empty = FileLength(std::filesystem::path(args[0])) == std::uint64_t{0};
      ErrLine(MessageFor(VokError(empty ? ErrorCode::SourceEmpty : ErrorCode::SourceMissing, args[0]), Operation::Check));
      return kFailed;
    }
    Line(CRCText(*crc));
  } catch (const VokError& error) {
    ErrLine(MessageFor(error, Operation::Check));
    return kFailed;
  }
  return kOk;
}

int Run(std::vector<NativeString> args) {
  if (args.empty()) return Usage("");
  const std::string command = Utf8(args[0]);
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    Out(kHelp);
    return kOk;
  }
  if (command == "--version") {
    Line("vokram-cli " + std::to_string(VOKRAM_VERSION_MAJOR) + "." + std::to_string(VOKRAM_VERSION_MINOR) + "." +
         std::to_string(VOKRAM_VERSION_REVISION));
    return kOk;
  }
  if (command == "split") return Split(args);
  if (command == "check") return Check(args);
  if (command == "join") return Join(args);
  if (command == "repair") return Repair(args);
  if (command == "crc") return Crc(args);
  return Usage("unknown command " + command);
}

}  // namespace

}  // namespace vokram::cli

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#else
int main(int argc, char** argv) {
#endif
  std::vector<vokram::NativeString> args(argv + 1, argv + argc);
  vokram::cli::InstallStopHandlers();
  int status = 1;
  try {
    status = vokram::cli::Run(std::move(args));
  } catch (const std::exception& e) {
    // In the window's words; what() is a library's English.
    vokram::cli::Err(vokram::UnexpectedFailureText(e) + "\n");
  }
  // A report that never reached its file fails a run that had succeeded.
  if (!vokram::cli::CloseOut() && status == 0) status = 1;
  return status;
}
