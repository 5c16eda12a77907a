// The piece check: one report line per piece in txtChkCRC, the window
// painting after each.
#include <filesystem>

#include "Busy.h"
#include "Check.h"
#include "ControlIds.h"
#include "Controls.h"
#include "Frm_Bun.h"
#include "MessageLoop.h"

namespace vokram::ui {
namespace {

// Appending to a long multi-line text box costs time in proportion to its
// text (thousands of pieces make it seconds per hundred lines under some
// systems), so lines that arrive in quick succession go in together. A line
// waits at most kDelayMs before it shows.
class ReportWriter {
 public:
  explicit ReportWriter(HWND textBox) : textBox_(textBox) { SetText(textBox_, L""); }
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;
  ~ReportWriter() { Flush(); }

  void Add(const std::wstring& line) {
    pending_ += line;
    if (GetTickCount64() - lastFlush_ >= kDelayMs) Flush();
  }

  void Flush() {
    if (!pending_.empty()) AppendText(textBox_, pending_);
    pending_.clear();
    lastFlush_ = GetTickCount64();
  }

 private:
  static constexpr ULONGLONG kDelayMs = 50;
  HWND textBox_;
  std::wstring pending_;
  ULONGLONG lastFlush_ = 0;
};

}  // namespace

void Frm_Bun::cmdChk_Click() {
  const std::wstring field = FieldText(IDC_txtVokFile);
  if (auto rejection = ValidateCheck(field, RealFileSystem())) {
    Reject(*rejection, Operation::Check);
    return;
  }
  const std::wstring vokPath = TrimSpaces(field);
  BusyScope busy(busy_, waitPointer_, false);
  try {
    // A new check replaces the last report.
    ReportWriter report(Control(IDC_txtChkCRC));
    CheckPieces(std::filesystem::path(vokPath), [&report](const PieceReport& piece) {
      report.Add(NativeFromUtf8(ReportLine(piece)));
      PumpPendingMessages();
    });
  } catch (const std::exception& error) {
    busy.End();
    Fail(error, Operation::Check, vokPath);
  }
}

}  // namespace vokram::ui
