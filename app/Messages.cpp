#include "Messages.h"

#include <cstdio>
#include <iterator>
#include <new>

#include "GetCRC.h"
#include "Text.h"

namespace vokram {

std::string_view MessageText(MessageId id) {
  switch (id) {
    case MessageId::JoinMismatch:
      return "結合したファイルがvokファイルの記録と一致しません。壊れた分割ファイルがないかチェックしてください。";
    case MessageId::Done: return "終了しました。";
    case MessageId::AskStop: return "処理を中止しますか？";
    case MessageId::AskStopAndQuit: return "処理を中止して終了しますか？";
    case MessageId::UseForce: return "置き換えるには --force を指定してください。";
    case MessageId::AllSound: return "すべての分割ファイルは正常です。";
  }
  return {};
}

namespace {

// The engine's own findings; the system's failures come with its own text.
std::string_view CauseText(Cause cause) {
  switch (cause) {
    case Cause::None: return {};
    case Cause::SourceEndedEarly:
      return "処理の途中でファイルが短くなりました。ほかのソフトを閉じてからやり直してください。";
    case Cause::SourceChanged:
      return "処理の途中でほかのソフトがファイルを変更しました。そのソフトを閉じてからやり直してください。";
    case Cause::NoTemporaryName: return "保存先のフォルダに一時ファイルを作成できません。別の保存先を選んでください。";
    case Cause::OutputAppeared:
      return "処理の途中で同じ名前のファイルが作成されました。ほかの処理が終わってからやり直してください。";
    case Cause::FolderBusy: return "このフォルダには別の処理が書き込んでいます。それが終わってからやり直してください。";
    case Cause::PieceMissing:
    case Cause::PieceEmpty: break;  // said with the piece's name
  }
  return {};
}

// 4294967296 as 4,294,967,296.
std::string GroupedDigits(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// 1234567890 as 1,234,567,890 バイト（約 1.1 GB）, in the units Windows shows
// free space in (1 KB = 1024 bytes).
std::string ByteCount(std::uint64_t n) {
  std::string text = GroupedDigits(n) + " バイト";
  if (n < 1024) return text;
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(n) / 1024;
  std::size_t unit = 0;
  while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {  // never 「1024.0 KB」
    value /= 1024;
    ++unit;
  }
  char approx[32];
  std::snprintf(approx, sizeof approx, "（約 %.1f %s）", value, kUnits[unit]);
  return text + approx;
}

std::string_view Stopped(Operation operation) {
  switch (operation) {
    case Operation::Split: return "分割を中止しました。";
    case Operation::Join: return "結合を中止しました。";
    case Operation::Check: break;
    case Operation::Repair: return "修復を中止しました。";
  }
  return "チェックを中止しました。";
}

// The text of a failure that is the same wherever it happens.
std::string_view FixedText(ErrorCode code) {
  switch (code) {
    case ErrorCode::SourceBlank: return "対象ファイルを入力してください。";
    case ErrorCode::SourceMissing: return "対象ファイルが存在しません。";
    case ErrorCode::DstDirBlank: return "保存フォルダを入力してください。";
    case ErrorCode::SaveDirBlank: return "保存先のフォルダを入力してください。";
    case ErrorCode::FolderMissing: return "保存先のフォルダが存在しません。";
    case ErrorCode::MinSizeBlank: return "最小サイズが入力されていません。";
    case ErrorCode::MaxSizeBlank: return "最大サイズが入力されていません。";
    case ErrorCode::NotNumeric: return "数字を入力してください。";
    case ErrorCode::SizeOutOfRange: return "0～2097151 の数字を入力してください。";
    case ErrorCode::RecoveryOutOfRange: return "1～999 の数字を入力してください。";
    case ErrorCode::SourceEmpty: return "対象ファイルが空です。1 バイト以上のファイルを指定してください。";
    case ErrorCode::TooManyPieces: return "分割数が多すぎます。分割サイズを大きくしてください。";
    case ErrorCode::RecoveryTooLarge:
      return "リカバリファイルを分割サイズ以下にできません。分割サイズを大きくするか、復元できる数を減らしてください。";
    case ErrorCode::BadBaseName:
      return "分割ファイル名に使えない文字が含まれています。\\ / : * ? \" < > | を除いてください。";
    case ErrorCode::ReservedBaseName:
      return "分割ファイル名に使えない名前です（CON などの予約名や「.」で終わる名前）。別の名前を入力してください。";
    case ErrorCode::NameNotEncodable:
      return "ファイル名にvokファイルで扱えない文字が含まれています。対象ファイルの名前か分割ファイル名を変えてください。";
    case ErrorCode::OutputIsSource:
      return "作成するファイルが対象ファイルを上書きしてしまいます。保存先か分割ファイル名を変えてください。";
    case ErrorCode::OutputIsInput:
      return "結合したファイルがvokファイルか分割ファイルを上書きしてしまいます。別の保存先を選んでください。";
    case ErrorCode::SourceModified:
      return "対象ファイルが分割中に変更されました。ほかのソフトを閉じてからやり直してください。";
    case ErrorCode::TooLargeForVolume:
      return "保存先のドライブには 4GB 以上のファイルを保存できません。NTFS か exFAT のドライブを選んでください。";
    case ErrorCode::NotVok: return "vokファイルではありません。";
    case ErrorCode::BrokenVok: return "vokファイルが壊れています。vokファイルをもう一度受け取ってください。";
    case ErrorCode::NoRecoveryFiles:
      return "リカバリファイルが見つかりません。リカバリファイル（.par2）をvokファイルと同じフォルダに置いてください。";
    default: return {};
  }
}

}  // namespace

std::string MessageFor(const VokError& error, Operation operation) {
  if (const std::string_view text = FixedText(error.Code()); !text.empty()) return std::string(text);
  switch (error.Code()) {
    case ErrorCode::NoSpace:
      return "保存先の空き容量が足りません。空きを作るか、別のドライブを選んでください。\n必要な空き容量：" +
             ByteCount(error.BytesNeeded());
    case ErrorCode::OutputExists: return ReplaceQuestion(error.File().filename());
    case ErrorCode::OutputIsFolder:
      return "保存先に「" + ToUtf8(error.File().filename()) +
             "」という名前のフォルダがあります。別の保存先を選ぶか、そのフォルダの名前を変えてください。";
    case ErrorCode::Cancelled: return std::string(Stopped(operation));
    case ErrorCode::FolderChanged: {
      // The folder is neither as it was nor as it was to be: say what stands where.
      std::string text = std::string(Stopped(operation)) + "\n「" + ToUtf8(error.File()) + "」を元に戻せませんでした。";
      if (!error.Reason().empty()) text += "元のファイルは「" + error.Reason() + "」にあります。";
      return text + "次にこのフォルダへ分割か結合をすると、元に戻します。";
    }
    case ErrorCode::NotRepairable:
      return RecoveryVerdictText({false, error.BytesNeeded() > 0 ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(
                                                                        error.BytesNeeded()))
                                                                  : std::nullopt});
    case ErrorCode::PieceUnreadable: {
      const std::string name = "「" + ToUtf8(error.File()) + "」";
      if (error.Cause() == Cause::PieceMissing) {
        return name + "が見つかりません。結合を中止しました。分割ファイルをvokファイルと同じフォルダに置いてください。";
      }
      if (error.Cause() == Cause::PieceEmpty) {
        return name + "が空です。結合を中止しました。その分割ファイルをもう一度受け取ってください。";
      }
      std::string text = name + "を読み込めませんでした。結合を中止しました。ほかのソフトで開いていれば閉じてください。";
      if (!error.Reason().empty()) text += "\n" + error.Reason();
      return text;
    }
    case ErrorCode::IoFailed: {
      std::string text = ToUtf8(error.File()) + "\n" + "ファイルの読み書きに失敗しました。";
      text += Stopped(operation);
      const std::string_view why = error.Cause() != Cause::None ? CauseText(error.Cause()) : error.Reason();
      if (!why.empty()) {
        text += '\n';
        text += why;
      }
      return text;
    }
    default: break;
  }
  return {};
}

std::string ReplaceQuestion(const std::filesystem::path& name) {
  return "「" + ToUtf8(name) + "」は既に存在します。置き換えますか？";
}

std::string ReplaceQuestion(std::size_t count) {
  return "保存先に同じ名前のファイルが " + std::to_string(count) + " 個あります。置き換えますか？";
}

std::string JoinNotReplacedMessage(const std::filesystem::path& name) {
  std::string text = "「";
  text += ToUtf8(name);
  text += "」を置き換えませんでした。";
  text += MessageText(MessageId::JoinMismatch);
  return text;
}

std::string SettledMessage(Settlement settled) {
  switch (settled) {
    case Settlement::None: return {};
    case Settlement::RolledBack: return "前回中断された処理を取り消し、元のファイルに戻しました。";
    case Settlement::Completed: return "前回中断された処理を最後まで完了しました。";
  }
  return {};
}

std::string PendingMessage(Settlement pending) {
  switch (pending) {
    case Settlement::None: return {};
    case Settlement::RolledBack:
      return "このフォルダには中断された処理があります。次にこのフォルダへ分割か結合をすると、元のファイルに戻します。";
    case Settlement::Completed:
      return "このフォルダには中断された処理があります。次にこのフォルダへ分割か結合をすると、それを完了します。";
  }
  return {};
}

std::string RestoredMessage(int pieces) {
  return "終了しました。\n分割ファイル " + std::to_string(pieces) + " 個をリカバリファイルで復元しました。";
}

std::string SplitSummary(int pieces, std::uint16_t crc) {
  return "分割ファイル " + std::to_string(pieces) + " 個、CRC " + CRCText(crc);
}

std::string JoinSummary(const std::filesystem::path& output, std::uint64_t size, std::uint16_t crc) {
  return ToUtf8(output) + "（" + GroupedDigits(size) + " バイト、CRC " + CRCText(crc) + "）";
}

std::string RenamedPieceLine(const std::filesystem::path& found, const std::filesystem::path& recorded) {
  return "「" + ToUtf8(found) + "」を「" + ToUtf8(recorded) + "」として使いました。";
}

std::string_view BusyText(Operation operation) {
  switch (operation) {
    case Operation::Split: return "分割中です。";
    case Operation::Join: return "結合中です。";
    case Operation::Check: break;
    case Operation::Repair: return "修復中です。";
  }
  return "チェック中です。";
}

std::string NotRemovedWarning(const std::filesystem::path& file) {
  return "終了しましたが、「" + ToUtf8(file.filename()) +
         "」を削除できませんでした。次にこのフォルダへ分割か結合をすると削除します。";
}

std::string RecoveryVerdictText(const RecoveryReport& report) {
  if (report.repairable) return "リカバリファイルで復元できます。";
  if (!report.blocksNeeded) return "リカバリファイルでは復元できません。";
  return "リカバリファイルでは復元できません（あと " + std::to_string(*report.blocksNeeded) + " ブロック必要です）。";
}

std::string ReportLine(const PieceReport& report, std::string_view lineBreak) {
  const char* marker = report.status == PieceStatus::Missing   ? " ×  "
                       : report.status == PieceStatus::Damaged ? " △  "
                                                                : " ○  ";
  return marker + ToUtf8(report.name) + std::string(lineBreak);
}

std::string UnexpectedFailureText(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error)) return "メモリが足りません。ほかのソフトを閉じてからやり直してください。";
  return "予期しないエラーが発生しました。もう一度やり直してください。";
}

}  // namespace vokram
