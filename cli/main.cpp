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

constexpr std::string_view kSynopsis =
    "Usage:\n"
    "  vokram-cli split SOURCE OUTDIR --min KB --max KB [--base NAME] [--bat]\n"
    "                   [--no-vok] [--recovery N] [--seed N] [--force] [--quiet]\n"
    "  vokram-cli check VOKFILE [--quiet]\n"
    "  vokram-cli join VOKFILE [OUTDIR] [--force] [--quiet]\n"
    "  vokram-cli repair VOKFILE [--force] [--quiet]\n"
    "  vokram-cli crc FILE\n"
    "  vokram-cli --help | --version\n";

constexpr std::string_view kHelp =
    "\n"
    "split  cuts SOURCE into pieces of random sizes between --min and --max KB\n"
    "       (1 KB = 1024 bytes): OUTDIR/NAME.000, .001, ...; NAME defaults to\n"
    "       SOURCE's name without its extension. It writes a .vok descriptor\n"
    "       (unless --no-vok) and a batch file that rebuilds SOURCE by COPY\n"
    "       (--bat). --seed N draws the sizes from a seeded generator instead of\n"
    "       the fixed default sequence. --recovery N also writes PAR2 recovery\n"
    "       files (NAME.par2 and NAME.volX+Y.par2, none larger than the largest\n"
    "       piece) with which any N pieces (1 to 999) may be lost or damaged\n"
    "       and SOURCE still comes back, by this program or any PAR2 tool.\n"
    "check  reports every piece listed in VOKFILE as missing, damaged or sound,\n"
    "       judged by PAR2 recovery files beside them too, and then whether\n"
    "       those files can restore what is lost.\n"
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
    "Replacing. When a file already has an output's name, split, join and\n"
    "repair ask the window's question on a terminal and wait for y or n (no\n"
    "by default); elsewhere they refuse and exit with status 1. --force (-f)\n"
    "replaces without asking. A folder under an output's name is never\n"
    "replaced. What they write is on the disk (synced) before they report\n"
    "success. A run changes its folder all or nothing: one that was killed is\n"
    "settled by the next split or join into that folder, which says so first.\n"
    "\n"
    "Messages and results are in Japanese, as in the window; this help is not.\n"
    "On a terminal, progress shows on stderr (percentage, MB/s, time left)\n"
    "unless --quiet is given.\n"
    "\n"
#ifdef _WIN32
    "Stopping. Ctrl+C or Ctrl+Break stops a run cleanly: what it created is\n"
    "removed and the exit status is 130. A second one ends the program at once.\n"
    "\n"
    "In a console window text is written as Unicode. Redirected to a file or a\n"
    "pipe it is written in the console's code page: Shift-JIS (932) on a\n"
    "Japanese system, UTF-8 after chcp 65001.\n"
#else
    "Stopping. Ctrl+C (SIGINT) or SIGTERM stops a run cleanly: what it created\n"
    "is removed and the exit status is 130 (143 after SIGTERM). A second signal\n"
    "ends the program at once.\n"
#endif
    "\n"
    "Exit status: 0 done; 1 failed or declined; 2 wrong usage; 3 a run failed\n"
    "and could not put every earlier file back (the message says where it is;\n"
    "the next run into the folder puts it back). check: 0 every piece sound;\n"
    "1 recovery files can restore the rest; 2 nothing can.\n";

std::string Utf8(const NativeString& s) { return ToUtf8(std::filesystem::path(s)); }

void Line(std::string_view text) { Out(std::string(text) + "\n"); }
void ErrLine(std::string_view text) { Err(std::string(text) + "\n"); }

int Usage(std::string_view problem) {
  if (!problem.empty()) ErrLine(problem);
  Err(kSynopsis);
  ErrLine("詳しくは vokram-cli --help で表示されます。");
  return kUsage;
}

// Which option a field's refusal is about.
std::string_view OptionOf(Focus focus) {
  switch (focus) {
    case Focus::MinSize: return "--min";
    case Focus::MaxSize: return "--max";
    case Focus::DstFileName: return "--base";
    case Focus::Recovery: return "--recovery";
    case Focus::Unchanged: break;
  }
  return {};
}

// y or yes, also typed with the input method on (ｙ) or as はい.
bool IsYes(std::string answer) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!answer.empty() && blank(answer.back())) answer.pop_back();
  answer.erase(0, std::min(answer.find_first_not_of(" \t"), answer.size()));
  for (char& c : answer) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return answer == "y" || answer == "yes" || answer == "ｙ" || answer == "Ｙ" || answer == "はい";
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
  void Refuse(const std::string& text, Focus focus) override {
    const std::string_view option = OptionOf(focus);
    ErrLine(option.empty() ? text : std::string(option) + ": " + text);
  }
  void Notice(const std::string& text) override { ErrLine(text); }
  // Without --force a file under an output's name is the window's question:
  // asked on a terminal, where someone answers it (no unless they say yes);
  // elsewhere a refusal that names the file and how to say yes.
  bool AskToReplace(const std::string& question, const std::filesystem::path& first) override {
    if (CanAsk()) {
      Err(question + " [y/N] ");
      const std::optional<std::string> answer = ReadAnswer();
      if (!answer) Err("\n");
      return answer && !StopRequested().load() && IsYes(*answer);
    }
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
    case Ending::Declined: return StopRequested().load() ? StoppedExitStatus() : kFailed;  // Ctrl+C at the question
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
      if (!v) return Usage(a + ": 値を指定してください。");
      if (a == "--min") fields.minSize = *v;
      if (a == "--max") fields.maxSize = *v;
      if (a == "--base") fields.dstFileName = *v;
      if (a == "--recovery") fields.recovery = *v;
      if (a == "--seed") {
        seed = ParseSeed(Utf8(*v));
        if (!seed) return Usage("--seed: 0～4294967295 の数字を入力してください。");
      }
    } else if (a == "--bat") {
      options.writeBat = true;
    } else if (a == "--no-vok") {
      options.writeVok = false;
    } else if (a.starts_with("--")) {
      return Usage(a + ": そのようなオプションはありません。");
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) return Usage("split には対象ファイルと保存先を指定してください。");
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
  if (args.size() != 1) return Usage("check にはvokファイルを 1 つ指定してください。");
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
  if (args.empty() || args.size() > 2) return Usage("join にはvokファイルと、ほかに保存先を 1 つまで指定してください。");
  const JoinFields fields{args[0], args.size() == 2 ? args[1] : NativeString(), args.size() == 2};
  ConsoleView view(quiet);
  return ExitStatus(RunJoin(fields, options, view));
}

int Repair(std::vector<NativeString> args) {
  const bool quiet = TakeQuiet(args);
  const bool force = TakeForce(args);
  DropEndOfOptions(args);
  if (args.size() != 1) return Usage("repair にはvokファイルを 1 つ指定してください。");
  ConsoleView view(quiet);
  return ExitStatus(RunRepair(args[0], force, view));
}

int Crc(std::vector<NativeString> args) {
  DropEndOfOptions(args);
  if (args.size() != 1) return Usage("crc にはファイルを 1 つ指定してください。");
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
    Out(kSynopsis);
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
  return Usage(command + ": そのようなコマンドはありません。");
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
