// Every message the program shows the user, character for character (UTF-8):
// what failed, what was asked, what was done. The window converts them to
// UTF-16; the command line prints them as they are. Captions and labels are
// the window's own (ui/Frm_BunLayout.h).
#pragma once

#include <string>
#include <string_view>

#include "Check.h"
#include "Error.h"
#include "Journal.h"

namespace vokram {

// The texts that are no failure's.
enum class MessageId {
  JoinMismatch,    // 結合したファイルがvokファイルの記録と一致しません。…
  Done,            // 終了しました。
  AskStop,         // 処理を中止しますか？
  AskStopAndQuit,  // 処理を中止して終了しますか？
  UseForce,        // 置き換えるには --force を指定してください。 (the command line's answer to a question)
  AllSound,        // すべての分割ファイルは正常です。 (a repair with nothing to do)
};

std::string_view MessageText(MessageId id);

inline constexpr std::string_view kTitleWarning = "警告";
inline constexpr std::string_view kTitleDone = "終了";
inline constexpr std::string_view kTitleConfirm = "確認";
inline constexpr std::string_view kTitleStopped = "中止";

enum class Operation { Split, Join, Check, Repair };

// The whole message for a failure of an operation, UTF-8, with the system's
// reason where there is one: the one way from a failure to its text, for the
// window and the command line alike.
std::string MessageFor(const VokError& failure, Operation operation);

// Before a run that would replace files: one named file (join), or a count
// of them (split).
std::string ReplaceQuestion(const std::filesystem::path& name);
std::string ReplaceQuestion(std::size_t count);

// A join whose result fails its record and so left the older file of that
// name as it was.
std::string JoinNotReplacedMessage(const std::filesystem::path& name);

// One line about a run into the folder that a crash interrupted: what this
// run did about it first (settled), or what the next split or join will do
// (pending, for the check). Empty for Settlement::None.
std::string SettledMessage(Settlement settled);
std::string PendingMessage(Settlement pending);
// What a logoff or shutdown shows while an operation runs: 分割中です。 …
std::string_view BusyText(Operation operation);
// The command line's figures after a split and a join, in the window's
// language: 分割ファイル 12 個、CRC 1A2B; 名前（123,456,789 バイト、CRC 1A2B）.
std::string SplitSummary(int pieces, std::uint16_t crc);
std::string JoinSummary(const std::filesystem::path& output, std::uint64_t size, std::uint16_t crc);
// A join that rebuilt lost or damaged pieces from recovery files.
std::string RestoredMessage(int pieces);
// A join that took a piece found under another name.
std::string RenamedPieceLine(const std::filesystem::path& found, const std::filesystem::path& recorded);
// A run that succeeded but left a replaced file it could not remove.
std::string NotRemovedWarning(const std::filesystem::path& file);

// A check's line after the pieces: whether recovery files can restore what
// is lost or damaged, and if not how many blocks they lack.
std::string RecoveryVerdictText(const RecoveryReport& report);

// A piece check's line: " ×  ", " △  " or " ○  ", the name, the line break
// (CR LF is the window's).
std::string ReportLine(const PieceReport& report, std::string_view lineBreak = "\r\n");

// What failed when the failure is no VokError (out of memory, a library fault).
std::string UnexpectedFailureText(const std::exception& error);

}  // namespace vokram
