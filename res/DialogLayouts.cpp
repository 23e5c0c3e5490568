// Layout tables of the main window and the About box. Places are in dialog
// units: a quarter of the font's average character width across, an eighth
// of its height down.
#include "DialogLayouts.h"

namespace layout {
namespace {

constexpr const char* kMainFonts[] = {"SimSun", "宋体"};
constexpr const char* kAboutFonts[] = {"NSimSun", "新宋体", "SimSun", "宋体"};

constexpr Control kMainControls[] = {
    {1036, Kind::GroupBox, "Com Setting", 7, 7, 75, 61},
    {kNoId, Kind::Label, "Port", 14, 21, 17, 8, 1002},
    {1002, Kind::DropDown, "Port", 39, 19, 41, 151},
    {kNoId, Kind::Label, "Baud", 14, 35, 17, 8, 1003},
    {1003, Kind::DropDown, "Baud", 39, 33, 41, 165},
    {1012, Kind::Button, "Open", 43, 51, 37, 13},
    {kNoId, Kind::Label, "Data", 150, 95, 24, 8, 1005, true},
    {1005, Kind::DropDown, "Data", 177, 93, 41, 152, kNoId, true},
    {kNoId, Kind::Label, "Parity", 150, 109, 24, 8, 1004, true},
    {1004, Kind::DropDown, "Parity", 177, 107, 41, 192, kNoId, true},
    {kNoId, Kind::Label, "Stop", 150, 125, 24, 8, 1006, true},
    {1006, Kind::DropDown, "Stop", 177, 123, 41, 152, kNoId, true},
    {1017, Kind::Button, "Link", 88, 12, 31, 12},
    {1029, Kind::Button, "Cancel", 88, 26, 31, 12},
    {1032, Kind::Button, "Clear", 88, 40, 31, 12},
    {1053, Kind::Label, "", 7, 70, 80, 8},
    {1030, Kind::Button, "AppFile", 89, 59, 32, 12},
    {1054, Kind::Label, "", 7, 79, 80, 8},
    {1009, Kind::Button, "SaveAs", 89, 74, 32, 12},
    {1035, Kind::GroupBox, "Chip Setting", 7, 89, 114, 72},
    {1041, Kind::Label, "Chip Model", 14, 102, 60, 8, 1040},
    {1040, Kind::DropDown, "Chip Model", 76, 100, 42, 151},
    {1039, Kind::Label, "RAM Type", 14, 116, 60, 8, 1038},
    {1038, Kind::DropDown, "RAM Type", 76, 114, 42, 151},
    {kNoId, Kind::Label, "RAM Size", 14, 130, 60, 8, 1019},
    {1019, Kind::DropDown, "RAM Size", 76, 128, 42, 165},
    {kNoId, Kind::Label, "XTAL Freq", 14, 144, 60, 8, 1031},
    {1031, Kind::DropDown, "XTAL Freq", 76, 142, 42, 151},
    {1034, Kind::GroupBox, "Act Setting", 7, 162, 115, 57},
    {kNoId, Kind::Label, "Act", 14, 176, 22, 8, 1020},
    {1020, Kind::DropDown, "Act", 38, 174, 41, 151},
    {1050, Kind::CheckBox, "Verify", 82, 175, 38, 10},
    {kNoId, Kind::Label, "Base", 14, 190, 22, 8, 1021},
    {1021, Kind::DropDown, "Base 1", 38, 188, 27, 165},
    {1023, Kind::DropDown, "Base 2", 66, 188, 21, 165},
    {1024, Kind::DropDown, "Base 3", 88, 188, 31, 165},
    {kNoId, Kind::Label, "Lenth", 14, 204, 22, 8, 1022},
    {1022, Kind::DropDown, "Lenth 1", 38, 202, 27, 165},
    {1025, Kind::DropDown, "Lenth 2", 66, 202, 21, 165},
    {1026, Kind::DropDown, "Lenth 3", 88, 202, 31, 165},
    {1033, Kind::GroupBox, "Flash Setting", 7, 227, 88, 40},
    {kNoId, Kind::Label, "Type", 14, 239, 25, 8, 1027},
    {1027, Kind::DropDown, "Type", 41, 237, 51, 151},
    {kNoId, Kind::Label, "Model", 14, 254, 25, 8, 1028},
    {1028, Kind::DropDown, "Model", 41, 252, 51, 151},
    {1000, Kind::ListBox, "Log", 124, 7, 133, 259},
    {1037, Kind::Edit, "Console", 261, 7, 115, 260},
    {1011, Kind::Progress, "Progress", 7, 268, 250, 13},
    {1052, Kind::Label, "", 261, 270, 115, 9},
    {1051, Kind::Status, "Status", 7, 284, 369, 11},
};

constexpr Control kAboutControls[] = {
    {128, Kind::Icon, "TqUpdater", 11, 17, 21, 20},
    {1012, Kind::Label, "", 51, 7, 168, 8},
    {kNoId, Kind::Label, "For Windows 2000,NT and XP.", 97, 24, 109, 8},
    {kNoId, Kind::Label, "Qt window by the TqUpdater team.", 51, 46, 168, 8},
    {kNoId, Kind::Label, "Serial link, boot, program, erase and dump.", 51, 58, 168, 8},
    {1, Kind::Button, "确定", 169, 91, 50, 16},
};

constexpr Dialog kMain{"TqUpdate", 383, 300, kMainFonts, 9, kMainControls};
constexpr Dialog kAbout{"About TqDump", 226, 114, kAboutFonts, 9, kAboutControls};

}  // namespace

const Dialog& MainWindow() { return kMain; }
const Dialog& AboutBox() { return kAbout; }

}  // namespace layout
