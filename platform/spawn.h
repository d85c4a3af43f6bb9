// Starting programs from Windows-style command lines, without a shell.
//
// The product family starts programs with command lines such as `viewer "/data/help/x.hlp"`.
// Here such a line is taken apart the way Windows takes it apart, and the program is started
// with posix_spawn: no shell ever reads the line, so no character of a file name can start
// another command.
//
// The program is the line's first token: the text up to the next '"' when the line starts with
// one, otherwise the text up to a blank. An unquoted program path may hold blanks, as Windows
// allows: of the prefixes of the line that end before a blank (and before any '"'), the
// longest one that names an existing file is taken ("/opt/My Tools/run x" starts
// "/opt/My Tools/run" with the argument "x"); when that file is no program, nothing starts, so
// "/home/u/run me.txt" never starts a program "/home/u/run". A program named without '/' is looked
// up on PATH (the current directory is not searched); otherwise the path is used as given. A
// program is an ordinary file with execute permission.
//
// The rest of the line is split into arguments by the rules of the Windows C runtime: blanks
// and tabs separate arguments; double quotes group text, blanks included, and are removed; a
// pair of quotes inside a quoted part stands for one quote; 2n backslashes before a quote stand
// for n backslashes (and the quote groups), 2n+1 for n backslashes and a literal quote; other
// backslashes are plain characters.
//
// A started program runs on its own: in a session of its own, with default signal handling and
// no blocked signals, inheriting the caller's environment, current directory (unless a folder
// is given) and standard input, output and error, and no other descriptor of the caller, also
// none that the caller left inheritable. Nobody waits for it; its exit status is collected in
// the background, so no finished program lingers as a zombie.
#ifndef LINDAVOX_PLATFORM_SPAWN_H
#define LINDAVOX_PLATFORM_SPAWN_H

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments of the text after a command line's program, by the rules above.
std::vector<std::string> SplitArguments(std::string_view text);

// Starts `program` (a path, or a name looked up on PATH) with argv[0] = `program` and the given
// arguments, in `folder` when one is given. Returns 0 once the program runs, else an errno
// value: ENOENT (no such program), EACCES (not an executable file), or the error of posix_spawn
// (exec failures and a folder it cannot change into included).
int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& folder = {});

// Starts the program of `commandLine` with its arguments. Returns 0 or an errno value as
// StartProgram does: EACCES when the file the line names is no program, ENOENT when the line
// names none (or is empty).
int StartCommandLine(std::string_view commandLine);

}  // namespace platform

#endif
