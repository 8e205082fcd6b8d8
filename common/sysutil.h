// Process-level helpers shared by every program: fatal messages, the
// open-file limit.
#pragma once

#include <string>
#include <vector>

// Prints `msg` on standard output (the system's only channel), flushes, and
// ends the process with `status`. When standard output has failed (closed,
// broken pipe, full) the message goes to standard error as well.
[[noreturn]] void die(const std::string& msg, int status = 255);

// "cannot write output file <path>: <reason>\n", status 255.
[[noreturn]] void die_output(const std::string& path, const std::string& reason);

// Raises the soft limit on open files to the hard limit, so that one stream
// per sample can be open at once. Returns the soft limit now in force.
long raise_open_file_limit();

// Exits with a message when `n_files` input files cannot be open at once
// under the hard limit (a few descriptors are kept for standard streams and
// the output file).
void require_open_files(long n_files);

// Why a read failed, for messages: strerror, except for the line reader's
// EFBIG (a line beyond LineReader::kMaxLine).
std::string read_error_text(int err);

// Ends the run with a message when the sample list names a sample twice (the
// same file would count as two samples).
void require_unique_names(const std::vector<std::string>& names, const std::string& list_path);
