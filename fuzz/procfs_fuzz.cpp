// Fuzz target for the /proc record parsing and the naming rules. The input
// is a stat record up to its first newline, then a cmdline.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <locale.h>

#include "procfs.h"

namespace {

// Length of the well-formed UTF-8 character at s[i] (no overlong form, no
// surrogate, at most U+10FFFF) and its code point; 0 if there is none.
std::size_t utf8(const std::string& s, std::size_t i, std::uint32_t* point)
{
    unsigned char u = static_cast<unsigned char>(s[i]);
    std::size_t n = u < 0x80 ? 1 : u >= 0xc2 && u <= 0xdf ? 2 : u >= 0xe0 && u <= 0xef ? 3
                  : u >= 0xf0 && u <= 0xf4 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    std::uint32_t p = n == 1 ? u : u & (0x7f >> n);
    for (std::size_t k = 1; k < n; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xc0) != 0x80)
            return 0;
        p = p << 6 | (c & 0x3f);
    }
    static const std::uint32_t plus_petit[] = {0, 0, 0x80, 0x800, 0x10000};
    if (p < plus_petit[n] || p > 0x10ffff || (p >= 0xd800 && p <= 0xdfff))
        return 0;
    *point = p;
    return n;
}

// A name as the layer shows it in C.UTF-8: whole, valid characters, none of
// them a control or a line or paragraph separator, no leading blank.
void verifier_utf8(const std::string& nom, std::size_t max)
{
    if (nom.size() > max || (!nom.empty() && nom[0] == ' '))
        std::abort();
    for (std::size_t i = 0; i < nom.size();) {
        std::uint32_t p = 0;
        std::size_t n = utf8(nom, i, &p);
        if (n == 0 || p < 0x20 || (p >= 0x7f && p < 0xa0) || p == 0x2028 || p == 0x2029)
            std::abort();
        i += n;
    }
}

// In C: printable ASCII only.
void verifier_c(const std::string& nom, std::size_t max)
{
    if (nom.size() > max || (!nom.empty() && nom[0] == ' '))
        std::abort();
    for (char c : nom)
        if (c < 0x20 || c > 0x7e)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static locale_t utf8_ctype = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    static locale_t c_ctype = newlocale(LC_CTYPE_MASK, "C", nullptr);
    if (!utf8_ctype || !c_ctype)
        std::abort();

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

    // The raw name begins with the command name.
    std::string nom = process_name(comm, texte + taille_stat, size - taille_stat);
    if (nom.compare(0, comm.size(), comm) != 0)
        std::abort();

    // A short max cuts in the middle of characters too.
    std::size_t max = size % 2 ? 259 : size % 23;
    locale_t avant = uselocale(utf8_ctype);
    verifier_utf8(nom_affichable(nom, max), max);
    uselocale(c_ctype);
    verifier_c(nom_affichable(nom, max), max);
    uselocale(avant);
    if (deja_affichable(nom, max) && nom_affichable(nom, max) != nom)
        std::abort();
    return 0;
}
