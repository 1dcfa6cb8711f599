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
// comm. Raw bytes, as the kernel holds them.
std::string process_name(const std::string& comm, const char* cmdline, std::size_t len);

// True when nom is at most max bytes of printable ASCII that doesn't begin
// with a blank: nom_affichable would give it back unchanged in any locale.
bool deja_affichable(const std::string& nom, std::size_t max);

// nom as it is safe to show on a terminal, judged by the calling thread's
// LC_CTYPE locale: a printable character is kept byte for byte, anything else
// (a control or separator character, an invalid byte, an incomplete sequence)
// becomes '?', one for each character or stray byte, and so do the blanks it
// begins with, which would shift a tree line. Cut to whole characters within
// max bytes.
std::string nom_affichable(const std::string& nom, std::size_t max);

#endif
