// The command line's terminal: its standard descriptors, whether stderr is
// a terminal and how wide, and the texts the display (CBoardConsole) writes:
// log lines as printed, their time stamps, console bytes made safe.
#pragma once

#include <string>

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed. Run
// first thing: otherwise the next file opened (the serial port, say) would
// take the number and receive what is meant for stdout or stderr.
void OpenStandardDescriptors();

// Whether stderr is a terminal (a console on Windows): bars and redrawn
// lines only there.
bool StderrIsTerminal();

// The width of the terminal on stderr in columns; 0 when it is none or unknown.
int StderrTerminalColumns();

// A log line as it is printed: the line breaks around it taken off.
std::string LogLineText(const std::string& text);

// Local time with milliseconds, "2026-12-07 11:02:26.123", before each line
// of a --log file.
std::string LogTimeStamp();

// How a byte of the chip's console text is shown on a terminal, where its
// control bytes (escape sequences above all) must not act: printable text,
// line feeds and tabs as they are, carriage returns dropped, anything else
// as \xNN.
std::string TerminalSafeText(char ch);
