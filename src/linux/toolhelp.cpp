#include "toolhelp.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <locale.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
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

// A block of pids from the directory, and what was read of each.
struct part {
    std::vector<std::string> pids;
    std::vector<entree> lus;
    std::vector<char> ok;  // lus[i] is a process
};

constexpr std::size_t taille_part = 64;

// The snapshot being read: the thread that reads the directory hands its
// pids out a part at a time, while it goes on, to the threads that read the
// processes, itself included once the directory is done.
struct lecture {
    int dir;
    std::deque<part> parts;    // never moves a part that a thread is reading
    std::size_t prochaine = 0; // the first part no thread has taken
    bool fini = false;         // the directory is read
    std::mutex verrou;
    std::condition_variable du_nouveau;
};

// The next part to read, or null once every part is taken.
part* prendre(lecture* l)
{
    std::unique_lock<std::mutex> garde(l->verrou);
    l->du_nouveau.wait(garde, [l] { return l->prochaine < l->parts.size() || l->fini; });
    if (l->prochaine == l->parts.size())
        return nullptr;
    return &l->parts[l->prochaine++];
}

void* lire_les_parts(void* arg)
{
    lecture* l = static_cast<lecture*>(arg);
    std::string texte;
    stat_record stat;
    while (part* p = prendre(l)) {
        p->lus.resize(p->pids.size());
        p->ok.resize(p->pids.size());
        for (std::size_t i = 0; i < p->pids.size(); ++i)
            p->ok[i] = lire_processus(l->dir, p->pids[i].c_str(), &texte, &stat, &p->lus[i]);
    }
    return nullptr;
}

void publier(lecture* l, part* p, bool dernier)
{
    {
        std::lock_guard<std::mutex> garde(l->verrou);
        if (!p->pids.empty())
            l->parts.push_back(std::move(*p));
        l->fini = dernier;
    }
    p->pids.clear();
    if (dernier)
        l->du_nouveau.notify_all();
    else
        l->du_nouveau.notify_one();
}

// Reads every process of dir with this thread and up to fils - 1 more; a
// thread that can't be started leaves its share to the others.
void lire_tout(DIR* dir, lecture* l, unsigned fils)
{
    std::vector<pthread_t> aides;
    pthread_attr_t attr;
    if (fils > 1 && pthread_attr_init(&attr) == 0) {
        pthread_attr_setstacksize(&attr, 256 * 1024);
        for (unsigned i = 1; i < fils; ++i) {
            pthread_t t;
            if (pthread_create(&t, &attr, lire_les_parts, l) == 0)
                aides.push_back(t);
        }
        pthread_attr_destroy(&attr);
    }
    part p;
    while (const dirent* d = readdir(dir)) {
        if (!est_pid(d->d_name))
            continue;
        p.pids.emplace_back(d->d_name);
        if (p.pids.size() == taille_part)
            publier(l, &p, false);
    }
    publier(l, &p, true);
    lire_les_parts(l);
    for (pthread_t t : aides)
        pthread_join(t, nullptr);
}

// Threads pay for themselves from about this many processes each; more
// than plafond were never measured (see docs/benchmarks.md).
constexpr std::size_t par_fil = 125;
constexpr unsigned plafond = 8;

// Threads to read about n processes with: one per CPU this process may run
// on, at most plafond, and no second one below par_fil processes each.
unsigned fils_utiles(std::size_t n)
{
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0)
        return 1;
    std::size_t fils = std::min<std::size_t>({static_cast<std::size_t>(CPU_COUNT(&cpus)),
                                              n / par_fil, plafond});
    return fils > 1 ? static_cast<unsigned>(fils) : 1;
}

bool avant(const entree& a, const entree& b)
{
    if (a.start != b.start)
        return a.start < b.start;
    return a.pid < b.pid;
}

// Start times can't be trusted to put a parent first (a child forked in the
// parent's tick with a wrapped, lower pid; a time namespace; a restored
// process), but a process's parent is always its live parent. So: start
// order, except that a process whose parent is in the list waits for it and
// follows it. Processes left waiting are in a cycle, which a live system
// can't show but a race can; they follow in start order.
void parents_d_abord(std::vector<entree>* entrees)
{
    constexpr std::size_t aucun = static_cast<std::size_t>(-1);
    std::vector<entree>& e = *entrees;
    std::size_t n = e.size();
    std::unordered_map<std::int32_t, std::size_t> par_pid;
    par_pid.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        par_pid.emplace(e[i].pid, i);

    // The processes waiting for each one, in start order: first, last, next.
    std::vector<std::size_t> premier(n, aucun), dernier(n, aucun), suivant(n, aucun);
    std::vector<bool> place(n, false);
    std::vector<std::size_t> ordre;
    ordre.reserve(n);
    // Places i, then what waits for it: ordre serves as the queue.
    auto placer = [&](std::size_t i) {
        place[i] = true;
        ordre.push_back(i);
        for (std::size_t k = ordre.size() - 1; k < ordre.size(); ++k) {
            for (std::size_t f = premier[ordre[k]]; f != aucun; f = suivant[f]) {
                if (!place[f]) {
                    place[f] = true;
                    ordre.push_back(f);
                }
            }
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        auto p = par_pid.find(e[i].ppid);
        std::size_t parent = p == par_pid.end() || p->second == i ? aucun : p->second;
        if (parent == aucun || place[parent]) {
            placer(i);
            continue;
        }
        (dernier[parent] == aucun ? premier[parent] : suivant[dernier[parent]]) = i;
        dernier[parent] = i;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!place[i])
            placer(i);

    std::vector<entree> range;
    range.reserve(n);
    for (std::size_t i : ordre)
        range.push_back(std::move(e[i]));
    e.swap(range);
}

// Makes every name safe to show, judged by the user's LC_CTYPE. The locale
// is set for this thread only, so nothing else in the program follows it,
// and loaded only for a name that is not plain ASCII.
void rendre_affichables(std::vector<entree>* entrees)
{
    locale_t langue = nullptr;
    locale_t avant = nullptr;
    for (entree& e : *entrees) {
        if (deja_affichable(e.name, MAX_PATH - 1))
            continue;
        if (!langue) {
            langue = newlocale(LC_CTYPE_MASK, "", nullptr);
            if (!langue)
                langue = newlocale(LC_CTYPE_MASK, "C", nullptr);
            avant = uselocale(langue);
        }
        e.name = nom_affichable(e.name, MAX_PATH - 1);
    }
    if (langue) {
        uselocale(avant);
        freelocale(langue);
    }
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

HANDLE snapshot_processes(const char* proc_root, unsigned fils)
{
    DIR* dir = opendir(proc_root);
    if (!dir)
        return INVALID_HANDLE_VALUE;
    // The links of a /proc folder count its processes, before it is read.
    struct stat dossier;
    std::size_t estimation = fstat(dirfd(dir), &dossier) == 0 ? dossier.st_nlink : 0;
    lecture l;
    l.dir = dirfd(dir);
    lire_tout(dir, &l, fils ? fils : fils_utiles(estimation));
    closedir(dir);

    snapshot* s = new snapshot{{}, 0};
    for (part& p : l.parts)
        for (std::size_t i = 0; i < p.lus.size(); ++i)
            if (p.ok[i])
                s->entrees.push_back(std::move(p.lus[i]));
    std::sort(s->entrees.begin(), s->entrees.end(), avant);
    parents_d_abord(&s->entrees);
    rendre_affichables(&s->entrees);
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
