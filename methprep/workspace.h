// The run's working folder under DIR: temporary runs in "tmp/", the finished
// output in "stage/" until it is moved into place at the end. Any fatal error,
// and any catchable signal that would end the process, removes the folder
// (and DIR itself when this run created it), so a failed run leaves nothing
// behind.
#pragma once

#include <string>

namespace prep {

// Creates DIR if needed and the working folder inside it; refuses a DIR that
// already holds output of an earlier run. Returns an error message or empty.
std::string workspace_open(const std::string& out_dir);
const std::string& tmp_dir();    // ends in '/'
const std::string& stage_dir();  // ends in '/'
// Creates folder `path` (one level). Fatal on failure.
void make_dir(const std::string& path);
// Moves stage/ into DIR and removes the working folder. Fatal on failure
// (after moving back what had moved).
void workspace_publish();
// Removes the working folder and, if this run created it, DIR.
void workspace_discard();

// Prints `msg` on standard output, discards the workspace and exits. Every
// descriptor but the standard ones is closed first: the run is over, and a
// failure for want of descriptors must still be able to remove the folder.
[[noreturn]] void fatal(const std::string& msg, int status = 1);

// What the run is doing ("reading S1.cov"), for the message of a failure
// that has no better one (out of memory).
void set_activity(const std::string& what);
const std::string& activity();
// Removes a file or a folder tree; errors are ignored.
void remove_tree(const std::string& path);

}  // namespace prep
