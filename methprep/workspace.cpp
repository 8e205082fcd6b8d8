#include "workspace.h"

#include "sysutil.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace prep {

namespace {

std::string g_out;      // DIR with a trailing '/'
std::string g_work;     // DIR/.methprep-XXXXXX/
std::string g_tmp, g_stage;
bool g_created_out = false;

// The published entries of DIR, in the order they are moved into place.
const char* const kPublished[] = {"meth", "samples.txt", "manifest.tsv"};

bool exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

}  // namespace

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
      for (const auto& n : names) remove_tree(path + "/" + n);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string workspace_open(const std::string& out_dir) {
  g_out = out_dir;
  if (g_out.empty()) return "--out: empty folder name\n";
  while (g_out.size() > 1 && g_out.back() == '/') g_out.pop_back();
  struct stat st;
  if (stat(g_out.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return "output folder " + g_out + " is not a folder\n";
  } else {
    if (mkdir(g_out.c_str(), 0777) != 0)
      return "cannot create output folder " + g_out + ": " + std::strerror(errno) + "\n";
    g_created_out = true;
  }
  if (g_out != "/") g_out += '/';
  for (const char* name : kPublished)
    if (exists(g_out + name)) {
      workspace_discard();
      return "output folder " + g_out + " already holds " + name +
             " from an earlier run: remove it or choose another folder\n";
    }
  std::string tmpl = g_out + ".methprep-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::string err = std::strerror(errno);
    workspace_discard();
    return "cannot create a working folder in " + g_out + ": " + err + "\n";
  }
  g_work = std::string(buf.data()) + "/";
  g_tmp = g_work + "tmp/";
  g_stage = g_work + "stage/";
  make_dir(g_tmp);
  make_dir(g_stage);
  return {};
}

const std::string& tmp_dir() { return g_tmp; }
const std::string& stage_dir() { return g_stage; }

void make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
    fatal("cannot create folder " + path + ": " + std::strerror(errno) + "\n", 255);
}

void workspace_publish() {
  std::vector<std::string> moved;
  for (const char* name : kPublished) {
    std::string from = g_stage + name, to = g_out + name;
    if (!exists(from)) continue;
    if (exists(to) || rename(from.c_str(), to.c_str()) != 0) {
      std::string err = exists(to) ? "it appeared during the run" : std::strerror(errno);
      for (const auto& m : moved) rename((g_out + m).c_str(), (g_stage + m).c_str());
      fatal("cannot move output into place as " + to + ": " + err + "\n", 255);
    }
    moved.push_back(name);
  }
  remove_tree(g_work);
  g_work.clear();
}

void workspace_discard() {
  if (!g_work.empty()) remove_tree(g_work);
  g_work.clear();
  if (g_created_out) rmdir(g_out.c_str());
  g_created_out = false;
}

void fatal(const std::string& msg, int status) {
  workspace_discard();
  die(msg, status);
}

}  // namespace prep
