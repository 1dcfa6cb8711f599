// Parsing of the /proc records the process snapshot is made of.
#ifndef TARNWICK_LINUX_PROCFS_H
#define TARNWICK_LINUX_PROCFS_H

#include <cstddef>
#include <cstdint>
#include <string>

struct stat_record {
    std::int32_t pid;
    std::int32_t ppid;
    std::uint64_t start;  // start time after boot, in clock ticks
    std::string comm;     // the kernel's command name, as it stands
};

// The kernel cuts command names to this many characters.
constexpr std::size_t comm_max = 15;

// Parses the text of /proc/PID/stat. The command name stands in parentheses
// and may hold blanks and ')', so the fields are read after the last ')'.
// Returns false, leaving out untouched, unless the record is well formed.
bool parse_stat(const char* text, std::size_t len, stat_record* out);

// The name a user knows the process by: comm, or, when comm is comm_max long,
// the base name of argv[0] (the first string of cmdline) if it begins with
// comm. Control bytes are shown as '?' so that no name can forge a line.
std::string process_name(const std::string& comm, const char* cmdline, std::size_t len);

#endif
