// Message numbers, parameters, timer ids and control ids shared by the
// window, the worker thread and the port's monitor thread.
#pragma once

#include <cstdint>

// Private messages are numbered from WM_USER.
inline constexpr uint32_t WM_USER = 0x0400;

// The worker's queue ends its loop when it takes this message.
inline constexpr uint32_t WM_QUIT = 0x0012;

// Requests posted by the window to the worker.
inline constexpr uint32_t WM_PORT_OPEN = WM_USER + 152;     // wParam: settings text length, lParam: port number
inline constexpr uint32_t WM_PORT_CLOSE = WM_USER + 156;    // wParam 1, lParam: port number (unused)
inline constexpr uint32_t WM_UPDATE_START = WM_USER + 157;  // wParam 14, lParam 1
inline constexpr uint32_t WM_UPDATE_STOP = WM_USER + 158;   // wParam 1, lParam 1
inline constexpr uint32_t WM_UPDATE_TICK = WM_USER + 161;   // wParam: timer id, lParam 2

// Messages posted by the worker to the window.
inline constexpr uint32_t WM_UPDATE_END = WM_USER + 159;       // wParam 1, lParam 1
inline constexpr uint32_t WM_UPDATE_TIMER = WM_USER + 160;     // wParam: timer id, lParam: period in ms
inline constexpr uint32_t WM_UPDATE_PROGRESS = WM_USER + 162;  // wParam 1, lParam: percent

// Port notifications posted by the monitor thread to the worker (wParam: port number).
inline constexpr uint32_t WM_COMM_RXCHAR = WM_USER + 618;   // lParam 0
inline constexpr uint32_t WM_COMM_CTS = WM_USER + 619;      // lParam: CTS state
inline constexpr uint32_t WM_COMM_DSR = WM_USER + 621;      // lParam: DSR state
inline constexpr uint32_t WM_COMM_RING = WM_USER + 623;     // lParam 0
inline constexpr uint32_t WM_COMM_RLSD = WM_USER + 624;     // lParam 0
inline constexpr uint32_t WM_COMM_BREAK = WM_USER + 625;    // lParam 0
inline constexpr uint32_t WM_COMM_TXEMPTY = WM_USER + 626;  // lParam 0
inline constexpr uint32_t WM_COMM_ERR = WM_USER + 627;      // lParam: line-error flags
// Our own addition: the device went away while open (hang-up, I/O error).
// lParam carries the errno that was seen, 0 for a plain hang-up.
inline constexpr uint32_t WM_COMM_LOST = WM_USER + 628;

// Fixed parameters.
inline constexpr uint32_t UPDATE_START_WPARAM = 14;
inline constexpr int32_t UPDATE_TICK_LPARAM = 2;

// Window timers.
inline constexpr uint32_t ID_TIMER_WAIT = 1;  // 100 ms while waiting for the chip's request
inline constexpr uint32_t ID_TIMER_ACK = 2;   // 2000 ms acknowledge time-out of image chunks
inline constexpr int32_t TIMER_WAIT_PERIOD_MS = 100;
inline constexpr int32_t TIMER_ACK_PERIOD_MS = 2000;

// Control ids of the main window.
namespace ctl {
inline constexpr int LOG_LIST = 1000;
inline constexpr int PORT_LIST = 1002;
inline constexpr int BAUD_LIST = 1003;
inline constexpr int PARITY_LIST = 1004;
inline constexpr int DATABITS_LIST = 1005;
inline constexpr int STOPBITS_LIST = 1006;
inline constexpr int SAVEAS_BUTTON = 1009;
inline constexpr int PROGRESS_BAR = 1011;
inline constexpr int OPEN_BUTTON = 1012;
inline constexpr int LINK_BUTTON = 1017;
inline constexpr int RAMSIZE_LIST = 1019;
inline constexpr int ACT_LIST = 1020;
inline constexpr int BASE1_LIST = 1021;
inline constexpr int LENGTH1_LIST = 1022;
inline constexpr int BASE2_LIST = 1023;
inline constexpr int BASE3_LIST = 1024;
inline constexpr int LENGTH2_LIST = 1025;
inline constexpr int LENGTH3_LIST = 1026;
inline constexpr int FLASHTYPE_LIST = 1027;
inline constexpr int FLASHMODEL_LIST = 1028;
inline constexpr int CANCEL_BUTTON = 1029;
inline constexpr int APPFILE_BUTTON = 1030;
inline constexpr int XTAL_LIST = 1031;
inline constexpr int CLEAR_BUTTON = 1032;
inline constexpr int CONSOLE_EDIT = 1037;
inline constexpr int RAMTYPE_LIST = 1038;
inline constexpr int CHIPMODEL_LIST = 1040;
}  // namespace ctl
