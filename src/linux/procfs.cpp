#include "procfs.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

// Reads the unsigned decimal [debut, fin); false if empty, not all digits,
// or above limite.
static bool lire_nombre(const char* debut, const char* fin, std::uint64_t limite,
                        std::uint64_t* valeur)
{
    if (debut == fin)
        return false;
    std::uint64_t v = 0;
    for (const char* p = debut; p < fin; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned chiffre = static_cast<unsigned>(*p - '0');
        if (v > (limite - chiffre) / 10)
            return false;
        v = v * 10 + chiffre;
    }
    *valeur = v;
    return true;
}

bool parse_stat(const char* text, std::size_t len, stat_record* out)
{
    const char* fin = text + len;
    const char* p = text;
    while (p < fin && *p != ' ')
        ++p;
    std::uint64_t pid;
    if (!lire_nombre(text, p, INT32_MAX, &pid))
        return false;
    if (fin - p < 2 || p[1] != '(')
        return false;

    const char* comm = p + 2;
    const char* ferme =
        static_cast<const char*>(memrchr(comm, ')', static_cast<std::size_t>(fin - comm)));
    if (!ferme)
        return false;

    // After the name: state (3), ppid (4), ... starttime (22), blank-separated.
    std::uint64_t ppid = 0;
    std::uint64_t start = 0;
    p = ferme + 1;
    for (int champ = 3; champ <= 22; ++champ) {
        if (p == fin || *p != ' ')
            return false;
        const char* debut = ++p;
        while (p < fin && *p != ' ' && *p != '\n')
            ++p;
        if (p == debut)
            return false;
        if (champ == 4 && !lire_nombre(debut, p, INT32_MAX, &ppid))
            return false;
        if (champ == 22 && !lire_nombre(debut, p, UINT64_MAX, &start))
            return false;
    }

    out->pid = static_cast<std::int32_t>(pid);
    out->ppid = static_cast<std::int32_t>(ppid);
    out->start = start;
    out->comm.assign(comm, ferme);
    return true;
}

std::string process_name(const std::string& comm, const char* cmdline, std::size_t len)
{
    if (comm.size() != comm_max || len == 0)
        return comm;
    const char* nul = static_cast<const char*>(std::memchr(cmdline, '\0', len));
    const char* fin = nul ? nul : cmdline + len;
    const char* base = fin;
    while (base > cmdline && base[-1] != '/')
        --base;
    std::size_t taille = static_cast<std::size_t>(fin - base);
    if (taille >= comm.size() && std::memcmp(base, comm.data(), comm.size()) == 0)
        return std::string(base, taille);
    return comm;
}

bool deja_affichable(const std::string& nom, std::size_t max)
{
    if (nom.size() > max || (!nom.empty() && nom[0] == ' '))
        return false;
    for (char c : nom)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

// Blanks, and the no-break spaces that iswspace leaves out.
static bool blanc(wchar_t wc)
{
    return std::iswspace(static_cast<wint_t>(wc)) || wc == 0xa0 || wc == 0x2007 || wc == 0x202f;
}

std::string nom_affichable(const std::string& nom, std::size_t max)
{
    std::string montre;
    std::mbstate_t etat{};
    bool debut = true;  // only blanks so far
    for (std::size_t i = 0; i < nom.size();) {
        unsigned char u = static_cast<unsigned char>(nom[i]);
        std::size_t n = 1;
        bool garder;
        bool est_blanc;
        if (u >= 0x20 && u < 0x7f) {
            est_blanc = u == ' ';
            garder = !(debut && est_blanc);
        } else {
            wchar_t wc = 0;
            std::size_t r = std::mbrtowc(&wc, nom.data() + i, nom.size() - i, &etat);
            if (r == 0 || r == static_cast<std::size_t>(-1) || r == static_cast<std::size_t>(-2)) {
                // a NUL, an invalid byte or an incomplete sequence: one '?' a byte
                etat = std::mbstate_t{};
                est_blanc = false;
                garder = false;
            } else {
                n = r;
                est_blanc = blanc(wc);
                garder = std::iswprint(static_cast<wint_t>(wc)) && !(debut && est_blanc);
            }
        }
        if (montre.size() + (garder ? n : 1) > max)
            break;
        if (garder)
            montre.append(nom, i, n);
        else
            montre += '?';
        debut = debut && est_blanc;
        i += n;
    }
    return montre;
}
