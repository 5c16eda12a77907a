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

void Frm_Bun::cmdChk_Click() {
  const std::wstring field = FieldText(IDC_txtVokFile);
  if (auto rejection = ValidateCheck(field, RealFileSystem())) {
    Reject(*rejection, Operation::Check);
    return;
  }
  const std::wstring vokPath = TrimSpaces(field);
  HWND report = Control(IDC_txtChkCRC);
  // A new check replaces the last report.
  SetText(report, L"");
  BusyScope busy(busy_, waitPointer_, false);
  try {
    CheckPieces(std::filesystem::path(vokPath), [report](const PieceReport& piece) {
      AppendText(report, NativeFromUtf8(ReportLine(piece)));
      PumpPendingMessages();
    });
  } catch (const std::exception& error) {
    busy.End();
    Fail(error, Operation::Check, vokPath);
  }
}

}  // namespace vokram::ui
