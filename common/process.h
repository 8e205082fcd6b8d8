// What every program does first, and the process-wide state behind it:
// --version, the standard descriptors, the signal handlers that remove the
// temporary files of unfinished outputs, and the exit check of standard
// output.
#pragma once

#include <string>

// Called first in every main():
// - "--version" anywhere on the command line: prints kVersionLine
//   (version.h) and exits 0;
// - a closed descriptor 0, 1 or 2 gets /dev/null opened for reading, so no
//   file the program opens takes its number and writes to it fail as on a
//   closed descriptor;
// - installs the signal handlers (install_signal_handlers);
// - at exit, when a write to standard output failed (closed, a pipe without
//   reader, a full disk), says so in one line on standard error. Such a
//   failure never stops the run: the results are written and the status is
//   what it would have been.
void start_program(int argc, char** argv);

// Every signal whose default action ends the process and that can be caught
// gets a handler that removes the tracked temporary files, then ends the
// process by the same signal with its default action. Signals whose action
// is not the default when this runs (ignored by nohup, caught by a sanitizer)
// are left alone. SIGPIPE raised by the process' own write to a pipe without
// reader (standard output into `head`) is not fatal: the write fails with
// EPIPE instead. SIGXFSZ is ignored: a file-size limit is a write error
// (EFBIG). Idempotent; OutFile calls it too.
void install_signal_handlers();

// Temporary files the signal handlers remove. Any number may be tracked.
void track_temporary(const std::string& path);
void untrack_temporary(const std::string& path);

// Ends the run (status 255, one line on standard output) unless the command
// line holds exactly the positional arguments of `usage` ("usage: <program>
// <first> <second> ...\n"): the line names the missing arguments, or the
// first one too many, then gives the usage.
void require_arguments(int argc, char** argv, const std::string& usage);

// The k-th argument's name in `usage` ("<chromosome>"), k from 1; "" if none.
std::string usage_argument(const std::string& usage, int k);

// "<what>; usage: ..." as require_arguments prints it, then exit 255.
[[noreturn]] void die_argument(const std::string& what, const std::string& usage);
