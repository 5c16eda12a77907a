// Control and menu IDs, named after the controls. All IDs are unique across
// both panels, so a control can be found from the top-level window whichever
// panel holds it. None is IDOK (1) or IDCANCEL (2): the dialog manager sends
// those for Enter and Esc, and no button may answer to them.
#pragma once

namespace vokram::ui {

// Frm_Bun: on the window itself.
inline constexpr int IDC_picBunkatsu = 1000;
inline constexpr int IDC_picKetsugou = 1001;
inline constexpr int IDC_cmdRun = 1002;
inline constexpr int IDC_cmdEnd = 1003;

// Frm_Bun: split panel.
inline constexpr int IDC_Label1 = 1100;
inline constexpr int IDC_txtSrcFile = 1101;
inline constexpr int IDC_cmdSrcRef0 = 1102;
inline constexpr int IDC_Label3 = 1103;
inline constexpr int IDC_txtDstdir = 1104;
inline constexpr int IDC_cmdRef0 = 1105;
inline constexpr int IDC_Label4 = 1106;
inline constexpr int IDC_txtMinSize = 1107;
inline constexpr int IDC_Label2 = 1108;
inline constexpr int IDC_txtMaxSize = 1109;
inline constexpr int IDC_Label6 = 1110;
inline constexpr int IDC_Label5 = 1111;
inline constexpr int IDC_txtDstFileName = 1112;
inline constexpr int IDC_chkVokFile = 1113;
inline constexpr int IDC_chkBatFile = 1114;
inline constexpr int IDC_chkRecovery = 1115;
inline constexpr int IDC_txtRecovery = 1116;

// Frm_Bun: join panel.
inline constexpr int IDC_Label7 = 1200;
inline constexpr int IDC_txtVokFile = 1201;
inline constexpr int IDC_cmdSrcRef1 = 1202;
inline constexpr int IDC_optSavePath0 = 1203;
inline constexpr int IDC_txtSaveDir = 1204;
inline constexpr int IDC_cmdRef1 = 1205;
inline constexpr int IDC_optSavePath1 = 1206;
inline constexpr int IDC_cmdChk = 1207;
inline constexpr int IDC_Line1 = 1208;
inline constexpr int IDC_Line2 = 1209;
inline constexpr int IDC_Label8_0 = 1210;
inline constexpr int IDC_Label8_1 = 1211;
inline constexpr int IDC_Label8_2 = 1212;
inline constexpr int IDC_txtChkCRC = 1213;

// Frm_Bun: menu bar commands.
inline constexpr int IDM_mnuBunkatsu = 2000;
inline constexpr int IDM_mnuKetsugou = 2001;
inline constexpr int IDM_mnuVer = 2002;

// Frm_Ver.
inline constexpr int IDC_Image1 = 3000;
inline constexpr int IDC_lblVer = 3001;
inline constexpr int IDC_Ver_Label2 = 3002;
inline constexpr int IDC_Ver_cmdEnd = 3003;

}  // namespace vokram::ui
