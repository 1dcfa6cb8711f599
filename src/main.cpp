#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "liste.h"
#include "platform.h"

// Writes into nameexe the last backslash-separated component of path, which
// stays unchanged: runs of backslashes count as one, leading and trailing ones
// give no empty component, '/' is an ordinary character, and a path with no
// component gives "". nameexe must hold strlen(path) + 1 characters.
void parse_pathname(const char* path, char* nameexe)
{
    std::size_t fin = std::strlen(path);
    while (fin > 0 && path[fin - 1] == '\\')
        --fin;
    std::size_t debut = fin;
    while (debut > 0 && path[debut - 1] != '\\')
        --debut;
    std::memcpy(nameexe, path + debut, fin - debut);
    nameexe[fin - debut] = '\0';
}

// Leading blanks would set a tree line deeper than it stands, and an empty
// name would leave it between two depths: both are shown as '?'.
void masquer_debut(char* nameexe)
{
    if (!*nameexe) {
        std::strcpy(nameexe, "?");
        return;
    }
    for (; *nameexe == ' '; ++nameexe)
        *nameexe = '?';
}

// Characters pid takes in decimal, its minus sign included.
int nb_digit(std::int32_t pid)
{
    std::int64_t valeur = pid;
    int taille = 0;
    if (valeur < 0) {
        taille = 1;
        valeur = -valeur;
    }
    do {
        ++taille;
        valeur /= 10;
    } while (valeur > 0);
    return taille;
}

static std::int64_t magnitude(std::int32_t pid)
{
    return pid < 0 ? -std::int64_t{pid} : pid;
}

// Flushes standard output and returns statut, or -1 with the reason on
// standard error if anything written to it was lost.
static int terminer(int statut)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return statut;
    int erreur = errno ? errno : EIO;
    std::fprintf(stderr, "tarnwick: write error: %s\n", std::strerror(erreur));
    return -1;
}

static void plus_de_memoire()
{
    std::fputs("tarnwick: out of memory\n", stderr);
    std::exit(-1);
}

int main(int argc, char** argv)
{
    std::set_new_handler(plus_de_memoire);

    OSVERSIONINFOA osinfo = {};
    osinfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(&osinfo)) {
        std::printf("Unable to get OS version!\n");
        return terminer(-1);
    }
    if ((osinfo.dwPlatformId & 2) && osinfo.dwMajorVersion <= 4) {
        std::printf("ToolHelp API isn't support on NT versions prior to Windows 2000!\n");
        return terminer(-1);
    }

    int flag_affichage = 0;
    if (argc == 1) {
        flag_affichage = 1;
    } else if (argc == 2) {
        if (!std::strcmp(argv[1], "/t") || !std::strcmp(argv[1], "-t"))
            flag_affichage = 2;
        else if (!std::strcmp(argv[1], "/?") || !std::strcmp(argv[1], "-?"))
            flag_affichage = 0;
        else
            flag_affichage = 1;
    }

    const char* programme = argc > 0 && argv[0] ? argv[0] : "";
    PROCESSENTRY32 pe;
    std::vector<char> nameexe(std::strlen(programme) + sizeof pe.szExeFile);

    if (flag_affichage == 0) {
        parse_pathname(programme, nameexe.data());
        std::printf("Copyright (c) 2026 the Tarnwick developers\n");
        std::printf("Tarnwick Version " TARNWICK_VERSION "   tarnwick@users.noreply.example\n\n");
        std::printf("Usage: %s [[/t]|[/?]]\n", nameexe.data());
        std::printf("\toptions /t : Print task tree\n");
        std::printf("\t        /? : This help\n");
        std::exit(terminer(-1));
    }

    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) {
        std::printf("Unable to create snapshot!\n");
        return terminer(-1);
    }

    // A snapshot holds at least this process: no first entry means it failed.
    pe.dwSize = sizeof(PROCESSENTRY32);
    if (!Process32First(hSnapshot, &pe)) {
        std::printf("Unable to create snapshot!\n");
        CloseHandle(hSnapshot);
        return terminer(-1);
    }

    FORET arbre = {};
    std::int32_t pid_max = 0;
    BOOL retval;
    do {
        parse_pathname(pe.szExeFile, nameexe.data());
        masquer_debut(nameexe.data());
        std::int32_t pid = static_cast<std::int32_t>(pe.th32ProcessID);
        if (magnitude(pid) > magnitude(pid_max))
            pid_max = pid;
        ajouter(arbre, pid, nameexe.data(), static_cast<std::int32_t>(pe.th32ParentProcessID));
        retval = Process32Next(hSnapshot, &pe);
    } while (retval);

    affiche(arbre.racine, flag_affichage, nb_digit(pid_max) + 1, 0);
    CloseHandle(hSnapshot);
    return terminer(0);
}
