#pragma once
// Looking up a process by its command name.

// The id of a process whose kernel command name (as /proc/<pid>/stat shows it, cut to
// 15 characters) is exactly name, or -1. The hint pid is tried first, so following a
// process that keeps running costs one read.
int find_proc_by_name(char const* name, int pid);
