#include "Frm_BunLayout.h"

#include <windows.h>

#include "ControlIds.h"

namespace vokram::ui {
namespace {

constexpr DWORD kVisible = WS_VISIBLE;
// The low bits of a static's style are one field, not flags: SS_CENTER joined
// with SS_LEFTNOWORDWRAP would be SS_OWNERDRAW, which paints nothing.
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kCentredLabel = WS_VISIBLE | SS_CENTER | SS_NOPREFIX;
constexpr DWORD kTextBox = WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kCheckBox = WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kOption = WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr DWORD kLine = WS_VISIBLE | SS_BLACKRECT;
constexpr DWORD kEdge = WS_EX_CLIENTEDGE;
// Panels let the dialog manager walk into them (arrow keys between options).
constexpr DWORD kContainer = WS_EX_CONTROLPARENT;

constexpr int kSplit = IDC_picBunkatsu;
constexpr int kJoin = IDC_picKetsugou;

// Rows of the split panel: fields 315 twips high, labels set 45 lower so
// their text lines up with the text in the boxes.
constexpr int kRow1 = 240, kRow2 = 720, kRow3 = 1200, kRow4 = 1680, kRow5 = 2280, kRow6 = 2760;
constexpr int kLabelDrop = 45;

// Both panels cover the same place; the buttons stand below them.
constexpr ControlDef kControls[] = {
    {IDC_picBunkatsu, 0, kPanelClass, kVisible, kContainer, L"", 120, 0, 8415, 3315},
    {IDC_Label1, kSplit, L"STATIC", kLabel, 0, L"対象ファイル", 120, kRow1 + kLabelDrop, 1380, 255},
    {IDC_txtSrcFile, kSplit, L"EDIT", kTextBox, kEdge, L"", 1560, kRow1, 6015, 315},
    {IDC_cmdSrcRef0, kSplit, L"BUTTON", kButton, 0, L"．．．", 7620, kRow1, 615, 315},
    {IDC_Label3, kSplit, L"STATIC", kLabel, 0, L"保存先", 120, kRow2 + kLabelDrop, 1380, 255},
    {IDC_txtDstdir, kSplit, L"EDIT", kTextBox, kEdge, L"", 1560, kRow2, 6015, 315},
    {IDC_cmdRef0, kSplit, L"BUTTON", kButton, 0, L"．．．", 7620, kRow2, 615, 315},
    {IDC_Label4, kSplit, L"STATIC", kLabel, 0, L"分割サイズ", 120, kRow3 + kLabelDrop, 1380, 255},
    {IDC_txtMinSize, kSplit, L"EDIT", kTextBox, kEdge, L"", 1560, kRow3, 1215, 315},
    {IDC_Label2, kSplit, L"STATIC", kCentredLabel, 0, L"～", 2835, kRow3 + kLabelDrop, 255, 255},
    {IDC_txtMaxSize, kSplit, L"EDIT", kTextBox, kEdge, L"", 3150, kRow3, 1215, 315},
    {IDC_Label6, kSplit, L"STATIC", kLabel, 0, L"KB", 4425, kRow3 + kLabelDrop, 375, 255},
    {IDC_Label5, kSplit, L"STATIC", kLabel, 0, L"分割ファイル名", 120, kRow4 + kLabelDrop, 1380, 255},
    {IDC_txtDstFileName, kSplit, L"EDIT", kTextBox, kEdge, L"", 1560, kRow4, 3615, 315},
    {IDC_chkVokFile, kSplit, L"BUTTON", kCheckBox, 0, L"vok ファイルを作成", 1560, kRow5, 2655, 315},
    {IDC_chkBatFile, kSplit, L"BUTTON", kCheckBox, 0, L"バッチファイルを作成", 4320, kRow5, 2895, 315},
    // How many pieces the recovery files stand in for.
    {IDC_chkRecovery, kSplit, L"BUTTON", kCheckBox, 0, L"リカバリファイルを作成", 1560, kRow6, 2655, 315},
    {IDC_txtRecovery, kSplit, L"EDIT", kTextBox, kEdge, L"1", 4320, kRow6, 615, 315},

    {IDC_picKetsugou, 0, kPanelClass, 0, kContainer, L"", 0, 60, 8535, 3375},
    {IDC_Label7, kJoin, L"STATIC", kLabel, 0, L"vokファイル", 240, 180, 1500, 255},
    {IDC_txtVokFile, kJoin, L"EDIT", kTextBox, kEdge, L"", 240, 450, 3375, 315},
    {IDC_cmdSrcRef1, kJoin, L"BUTTON", kButton, 0, L"．．．", 3660, 450, 615, 315},
    // The options' group runs from the first option to cmdChk, so the two
    // stay exclusive with the folder row between them.
    {IDC_optSavePath0, kJoin, L"BUTTON", kOption | WS_GROUP, 0, L"保存先", 240, 930, 1800, 315},
    {IDC_txtSaveDir, kJoin, L"EDIT", kTextBox, kEdge, L"", 480, 1260, 3135, 315},
    {IDC_cmdRef1, kJoin, L"BUTTON", kButton, 0, L"．．．", 3660, 1260, 615, 315},
    {IDC_optSavePath1, kJoin, L"BUTTON", kOption, 0, L"vok ファイルと同じ場所に保存", 240, 1680, 4035, 315},
    {IDC_cmdChk, kJoin, L"BUTTON", kButton | WS_GROUP, 0, L"チェック", 240, 2100, 1215, 375},
    // A bracket from the check button's left edge down to the legend.
    {IDC_Line1, kJoin, L"STATIC", kLine, 0, L"", 240, 2475, 15, 750},
    {IDC_Line2, kJoin, L"STATIC", kLine, 0, L"", 240, 3210, 420, 15},
    {IDC_Label8_0, kJoin, L"STATIC", kLabel, 0, L"○：正常", 720, 2580, 2400, 255},
    {IDC_Label8_1, kJoin, L"STATIC", kLabel, 0, L"△：破損ファイル", 720, 2835, 2400, 255},
    {IDC_Label8_2, kJoin, L"STATIC", kLabel, 0, L"×：ファイル無し", 720, 3090, 2400, 255},
    {IDC_txtChkCRC, kJoin, L"EDIT",
     WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
     kEdge, L"", 4440, 120, 3975, 3135},

    {IDC_cmdRun, 0, L"BUTTON", kButton, 0, L"実行", 5100, 3600, 1635, 435},
    {IDC_cmdEnd, 0, L"BUTTON", kButton, 0, L"終了", 6900, 3600, 1635, 435},
};

constexpr int kTabOrder[] = {
    IDC_picBunkatsu, IDC_txtSrcFile,  IDC_cmdSrcRef0, IDC_txtDstdir,   IDC_cmdRef0,
    IDC_txtMinSize,  IDC_txtMaxSize,  IDC_txtDstFileName, IDC_chkVokFile, IDC_chkBatFile,
    IDC_chkRecovery, IDC_txtRecovery,
    IDC_txtVokFile,  IDC_cmdSrcRef1,  IDC_optSavePath0, IDC_txtSaveDir, IDC_cmdRef1,
    IDC_optSavePath1, IDC_cmdChk,     IDC_cmdRun,     IDC_cmdEnd,      IDC_picKetsugou,
    IDC_txtChkCRC,
};

}  // namespace

std::span<const ControlDef> FrmBunControls() { return kControls; }
std::span<const int> FrmBunTabOrder() { return kTabOrder; }

}  // namespace vokram::ui
