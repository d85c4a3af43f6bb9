// The message-box trace: a record of every message box a program shows, for tests that operate
// the real program from outside.
//
// When the environment variable LINDAVOX_MESSAGEBOX_TRACE names a file, each message box
// appends one line to it before it is shown:
//
//     <type in decimal> TAB <caption> TAB <text> LF
//
// Caption and text are the raw Windows-1252 bytes. So that a line stays one line with three
// fields, a backslash is written as "\\", a line feed as "\n", a carriage return as "\r" and a
// tab as "\t" (two characters each). Every line is appended with one write to a file opened
// with O_APPEND and closed again, so several processes may share the file.
#ifndef LINDAVOX_UI_WX_MESSAGE_BOX_TRACE_H
#define LINDAVOX_UI_WX_MESSAGE_BOX_TRACE_H

#include <string>
#include <string_view>

namespace ui {

inline constexpr char kMessageBoxTraceVariable[] = "LINDAVOX_MESSAGEBOX_TRACE";

std::string FormatMessageBoxTrace(unsigned type, std::string_view caption, std::string_view text);

// Appends the line for one box to the trace file, if tracing is on. Returns false only when
// tracing is on and the line could not be written.
bool TraceMessageBox(unsigned type, std::string_view caption, std::string_view text);

}  // namespace ui

#endif
