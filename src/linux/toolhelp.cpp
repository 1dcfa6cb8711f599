#include "toolhelp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "procfs.h"

namespace {

struct entree {
    std::uint64_t start;
    std::int32_t pid;
    std::int32_t ppid;
    std::string name;
};

struct snapshot {
    std::vector<entree> entrees;
    std::size_t suivant;
};

// Reads the file at chemin under dir into texte, up to a NUL byte when
// jusqu_au_nul is set, otherwise whole; false if it can't be opened or read.
// A /proc file gives all it has to a read with room for it, so a short read
// is its end: a stat record takes one read, not two.
bool lire(int dir, const char* chemin, bool jusqu_au_nul, std::string* texte)
{
    int fd = openat(dir, chemin, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char tampon[4096];
    texte->clear();
    for (;;) {
        ssize_t n = read(fd, tampon, sizeof tampon);
        if (n < 0) {
            close(fd);
            return false;
        }
        texte->append(tampon, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof tampon)
            break;
        if (jusqu_au_nul && std::memchr(tampon, '\0', sizeof tampon))
            break;
    }
    close(fd);
    return true;
}

bool est_pid(const char* nom)
{
    if (!*nom)
        return false;
    for (; *nom; ++nom)
        if (*nom < '0' || *nom > '9')
            return false;
    return true;
}

// Reads one process; false if it has gone or its files can't be read.
bool lire_processus(int dir, const char* pid, std::string* texte, stat_record* stat,
                    entree* e)
{
    char chemin[NAME_MAX + 16];
    std::snprintf(chemin, sizeof chemin, "%s/stat", pid);
    if (!lire(dir, chemin, false, texte) || !parse_stat(texte->data(), texte->size(), stat))
        return false;
    texte->clear();
    if (stat->comm.size() == comm_max) {
        std::snprintf(chemin, sizeof chemin, "%s/cmdline", pid);
        if (!lire(dir, chemin, true, texte))
            return false;
    }
    e->start = stat->start;
    e->pid = stat->pid;
    e->ppid = stat->ppid;
    e->name = process_name(stat->comm, texte->data(), texte->size());
    return true;
}

bool avant(const entree& a, const entree& b)
{
    if (a.start != b.start)
        return a.start < b.start;
    return a.pid < b.pid;
}

void remplir(const entree& e, PROCESSENTRY32* pe)
{
    pe->th32ProcessID = static_cast<DWORD>(e.pid);
    pe->th32ParentProcessID = static_cast<DWORD>(e.ppid);
    std::size_t taille = std::min(e.name.size(), sizeof pe->szExeFile - 1);
    std::memcpy(pe->szExeFile, e.name.data(), taille);
    pe->szExeFile[taille] = '\0';
}

BOOL donner(HANDLE hSnapshot, PROCESSENTRY32* pe, bool premier)
{
    if (!hSnapshot || hSnapshot == INVALID_HANDLE_VALUE || !pe ||
        pe->dwSize != sizeof(PROCESSENTRY32))
        return 0;
    snapshot* s = static_cast<snapshot*>(hSnapshot);
    if (premier)
        s->suivant = 0;
    if (s->suivant >= s->entrees.size())
        return 0;
    remplir(s->entrees[s->suivant++], pe);
    return 1;
}

} // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
        return 0;
    struct utsname u;
    if (uname(&u) != 0)
        return 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::sscanf(u.release, "%u.%u", &major, &minor);
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwPlatformId = VER_PLATFORM_LINUX;
    return 1;
}

HANDLE snapshot_processes(const char* proc_root)
{
    DIR* dir = opendir(proc_root);
    if (!dir)
        return INVALID_HANDLE_VALUE;
    snapshot* s = new snapshot{{}, 0};
    std::string texte;
    stat_record stat;
    entree e;
    while (const dirent* d = readdir(dir)) {
        if (est_pid(d->d_name) && lire_processus(dirfd(dir), d->d_name, &texte, &stat, &e))
            s->entrees.push_back(std::move(e));
    }
    closedir(dir);
    std::sort(s->entrees.begin(), s->entrees.end(), avant);
    return s;
}

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD)
{
    if (!(dwFlags & TH32CS_SNAPPROCESS))
        return INVALID_HANDLE_VALUE;
    return snapshot_processes("/proc");
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* pe)
{
    return donner(hSnapshot, pe, true);
}

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* pe)
{
    return donner(hSnapshot, pe, false);
}

BOOL CloseHandle(HANDLE hObject)
{
    if (!hObject || hObject == INVALID_HANDLE_VALUE)
        return 0;
    delete static_cast<snapshot*>(hObject);
    return 1;
}
