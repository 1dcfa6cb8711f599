// Fuzz target for the /proc record parsing. The input is a stat record up to
// its first newline, then a cmdline.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "procfs.h"

static bool controle(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* texte = reinterpret_cast<const char*>(data);
    const char* saut = static_cast<const char*>(std::memchr(texte, '\n', size));
    std::size_t taille_stat = saut ? static_cast<std::size_t>(saut - texte) + 1 : size;

    stat_record r{};
    std::string comm;
    if (parse_stat(texte, taille_stat, &r)) {
        if (r.pid < 0 || r.ppid < 0 || r.comm.size() + 4 > taille_stat)
            std::abort();
        comm = r.comm;
    } else {
        // Still drive the naming rule, with a name cut as the kernel cuts.
        comm.assign(texte, taille_stat < comm_max ? taille_stat : comm_max);
    }

    std::string name = process_name(comm, texte + taille_stat, size - taille_stat);
    // No control byte survives, and the name begins with the command name.
    for (char c : name)
        if (controle(c))
            std::abort();
    if (name.size() < comm.size())
        std::abort();
    for (std::size_t i = 0; i < comm.size(); ++i)
        if (name[i] != (controle(comm[i]) ? '?' : comm[i]))
            std::abort();
    return 0;
}
