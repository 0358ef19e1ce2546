#include "foundation/proc.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>

#include "foundation/fd.h"

namespace {

bool has_name(int pid, char const* name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  Fd file;
  if (!file.open(path, O_RDONLY)) return false;
  char stat[256];
  int const n = read(file, stat, 255);
  if (n <= 0) return false;
  // The name may itself hold parentheses: it runs from the first '(' to the last ')'.
  std::string_view text(stat, static_cast<std::size_t>(n));
  std::size_t const close = text.rfind(')');
  if (close == std::string_view::npos) return false;
  text = text.substr(0, close);
  std::size_t const open = text.find('(');
  if (open == std::string_view::npos) return false;
  return text.substr(open + 1) == name;
}

int entry_pid(char const* entry) {
  int pid = 0;
  char const* const end = entry + std::strlen(entry);
  auto const [stop, error] = std::from_chars(entry, end, pid);
  return error == std::errc() && stop == end ? pid : 0;
}

}  // namespace

int find_proc_by_name(char const* name, int pid) {
  if (pid > 0 && has_name(pid, name)) return pid;
  DIR* const proc = ::opendir("/proc");
  if (!proc) return -1;
  int found = -1;
  while (dirent const* entry = ::readdir(proc)) {
    int const candidate = entry_pid(entry->d_name);
    if (candidate > 0 && has_name(candidate, name)) {
      found = candidate;
      break;
    }
  }
  ::closedir(proc);
  return found;
}
