// End to end: the built tool, run as a user runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct sortie {
    int statut;
    std::string out;
    std::string err;
};

std::string lire_tout(int fd)
{
    std::string texte;
    char tampon[65536];
    ssize_t n;
    while ((n = read(fd, tampon, sizeof tampon)) > 0)
        texte.append(tampon, static_cast<std::size_t>(n));
    close(fd);
    return texte;
}

// How to run the tool, beyond its arguments.
struct conditions {
    std::vector<std::string> env;  // NAME=value, added to the environment
    int sortie = -1;               // standard output, if not a pipe read here
    bool sans_sigpipe = false;     // SIGPIPE ignored
    rlim_t memoire = 0;            // address-space limit in bytes, if not 0
};

// Runs the tool with argv[0] = argv0 and args.
sortie lancer(const std::vector<std::string>& args, const char* argv0 = TARNWICK_BIN,
              const conditions& c = conditions{})
{
    std::vector<std::string> copie(args);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0));
    for (std::string& a : copie)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(c.env);

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        std::abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(c.sortie >= 0 ? c.sortie : out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        for (std::string& e : env)
            putenv(e.data());
        if (c.sans_sigpipe)
            signal(SIGPIPE, SIG_IGN);
        if (c.memoire) {
            struct rlimit limite = {c.memoire, c.memoire};
            setrlimit(RLIMIT_AS, &limite);
        }
        execv(TARNWICK_BIN, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    sortie s;
    s.out = lire_tout(out[0]);
    s.err = lire_tout(err[0]);
    int statut = 0;
    waitpid(pid, &statut, 0);
    s.statut = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1000 - WTERMSIG(statut);
    return s;
}

sortie lancer(const std::vector<std::string>& args, const conditions& c)
{
    return lancer(args, TARNWICK_BIN, c);
}

std::string aide(const std::string& nom)
{
    return "Copyright (c) 2026 the Tarnwick developers\n"
           "Tarnwick Version 1.1   tarnwick@users.noreply.example\n"
           "\n"
           "Usage: " + nom + " [[/t]|[/?]]\n"
           "\toptions /t : Print task tree\n"
           "\t        /? : This help\n";
}

std::vector<std::string> lignes(const std::string& texte)
{
    std::vector<std::string> l;
    std::istringstream in(texte);
    for (std::string ligne; std::getline(in, ligne);)
        l.push_back(ligne);
    return l;
}

// A flat line: the pid right-aligned behind at least one blank, then the name.
struct ligne_plate {
    std::size_t largeur;
    int pid;
    std::string nom;
};

// Length of the signed decimal at s[i], or 0.
std::size_t nombre(const std::string& s, std::size_t i)
{
    std::size_t j = i < s.size() && s[i] == '-' ? i + 1 : i;
    std::size_t debut = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9')
        ++j;
    return j > debut ? j - i : 0;
}

bool lire_plat(const std::string& ligne, ligne_plate* l)
{
    std::size_t blancs = ligne.find_first_not_of(' ');
    if (blancs == std::string::npos)
        return false;
    std::size_t chiffres = nombre(ligne, blancs);
    std::size_t fin = blancs + chiffres;
    if (!chiffres || fin >= ligne.size() || ligne[fin] != ' ')
        return false;
    *l = {fin, std::stoi(ligne.substr(blancs, chiffres)), ligne.substr(fin + 1)};
    return true;
}

// A tree line: two blanks a level, the name, the pid in parentheses.
struct ligne_arbre {
    std::size_t profondeur;
    int pid;
    std::string nom;
};

bool lire_arbre(const std::string& ligne, ligne_arbre* l)
{
    std::size_t blancs = ligne.find_first_not_of(' ');
    std::size_t ouvre = ligne.rfind(" (");
    if (blancs == std::string::npos || blancs % 2 || ouvre == std::string::npos ||
        ouvre < blancs || ligne.back() != ')')
        return false;
    std::size_t chiffres = nombre(ligne, ouvre + 2);
    if (!chiffres || ouvre + 2 + chiffres + 1 != ligne.size())
        return false;
    *l = {blancs / 2, std::stoi(ligne.substr(ouvre + 2, chiffres)),
          ligne.substr(blancs, ouvre - blancs)};
    return true;
}

// What kind of output the tool gave, judged by how it shows this process.
std::string genre(const sortie& s, const std::string& nom_aide)
{
    if (s.out == aide(nom_aide))
        return "help";
    bool plat = true, arbre = true, vu_plat = false, vu_arbre = false;
    for (const std::string& ligne : lignes(s.out)) {
        ligne_plate p;
        ligne_arbre a;
        bool est_plat = lire_plat(ligne, &p);
        bool est_arbre = lire_arbre(ligne, &a);
        plat = plat && est_plat;
        arbre = arbre && est_arbre;
        vu_plat = vu_plat || (est_plat && p.pid == getpid() && p.nom == "cli_test");
        vu_arbre = vu_arbre || (est_arbre && a.pid == getpid() && a.nom == "cli_test");
    }
    if (plat && vu_plat && !vu_arbre)
        return "flat";
    if (arbre && vu_arbre && !vu_plat)
        return "tree";
    return "other";
}

TEST(CommandLine, EveryFormOfArgumentsAndItsExitStatus)
{
    struct cas {
        std::vector<std::string> args;
        const char* genre;
        int statut;
    };
    const cas table[] = {
        {{}, "flat", 0},
        {{"/t"}, "tree", 0},
        {{"-t"}, "tree", 0},
        {{"/?"}, "help", 255},
        {{"-?"}, "help", 255},
        {{"/T"}, "flat", 0},
        {{"-T"}, "flat", 0},
        {{"t"}, "flat", 0},
        {{"?"}, "flat", 0},
        {{"/t "}, "flat", 0},
        {{"--help"}, "flat", 0},
        {{""}, "flat", 0},
        {{"/t", "/t"}, "help", 255},
        {{"/?", "-?"}, "help", 255},
        {{"a", "b", "c"}, "help", 255},
    };
    for (const cas& c : table) {
        std::string quoi;
        for (const std::string& a : c.args)
            quoi += "[" + a + "]";
        sortie s = lancer(c.args);
        EXPECT_EQ(genre(s, TARNWICK_BIN), c.genre) << quoi << "\n" << s.out;
        EXPECT_EQ(s.statut, c.statut) << quoi;
        EXPECT_EQ(s.err, "") << quoi;
    }
}

TEST(CommandLine, HelpNamesTheProgramByItsLastBackslashComponent)
{
    struct cas {
        const char* argv0;
        const char* nom;
    };
    const cas table[] = {
        {"C:\\Program Files\\Tarnwick\\tarnwick.exe", "tarnwick.exe"},
        {"tarnwick", "tarnwick"},
        {"/usr/local/bin/tarnwick", "/usr/local/bin/tarnwick"},
        {"..\\bin\\", "bin"},
        {"", ""},
    };
    for (const cas& c : table) {
        sortie s = lancer({"/?"}, c.argv0);
        EXPECT_EQ(s.out, aide(c.nom)) << c.argv0;
        EXPECT_EQ(s.statut, 255) << c.argv0;
    }
    // The whole argv[0] is kept, however long.
    std::string long_nom = "/" + std::string(5000, 'x') + "/tw";
    EXPECT_EQ(lancer({"-?"}, long_nom.c_str()).out, aide(long_nom));
}

struct vu_par_ps {
    int ppid;
    std::string comm;
    bool operator==(const vu_par_ps& o) const { return ppid == o.ppid && comm == o.comm; }
};

// Whether ps (Debian package procps) is there to compare with.
bool ps_present()
{
    return std::system("command -v ps >/dev/null 2>&1") == 0;
}

std::map<int, vu_par_ps> ps()
{
    std::map<int, vu_par_ps> vus;
    FILE* f = popen("ps -e -o pid=,ppid=,comm=", "r");
    if (!f)
        return vus;
    char ligne[4096];
    while (std::fgets(ligne, sizeof ligne, f)) {
        int pid, ppid, lu = 0;
        if (std::sscanf(ligne, "%d %d %n", &pid, &ppid, &lu) < 2)
            continue;
        std::string comm(ligne + lu);
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        vus[pid] = {ppid, comm};
    }
    pclose(f);
    return vus;
}

bool imprimable(const std::string& s)
{
    for (char c : s)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

// The name shown must be ps's command name, or start with it where the kernel
// cut that name to 15 characters.
bool meme_nom(const std::string& nom, const std::string& ps_comm)
{
    if (!imprimable(ps_comm) || ps_comm.find("<defunct>") != std::string::npos)
        return true;
    // ps keeps leading blanks, which the tool shows as '?'.
    std::string comm = ps_comm.empty() ? "?" : ps_comm;
    for (std::size_t i = 0; i < comm.size() && comm[i] == ' '; ++i)
        comm[i] = '?';
    if (comm.size() < 15)
        return nom == comm;
    return nom.compare(0, comm.size(), comm) == 0;
}

// Checks a flat listing: every line well formed, each pid once, one
// right-aligned column one wider than the widest pid. Returns pid -> name.
std::map<int, std::string> lire_listing_plat(const std::string& texte)
{
    std::map<int, std::string> noms;
    std::set<std::size_t> largeurs;
    std::size_t plus_large = 0;
    for (const std::string& ligne : lignes(texte)) {
        ligne_plate l;
        if (!lire_plat(ligne, &l)) {
            ADD_FAILURE() << "malformed: " << ligne;
            continue;
        }
        EXPECT_TRUE(noms.emplace(l.pid, l.nom).second) << "twice: " << l.pid;
        largeurs.insert(l.largeur);
        plus_large = std::max(plus_large, std::to_string(l.pid).size());
    }
    EXPECT_EQ(largeurs.size(), 1u);
    EXPECT_EQ(largeurs.empty() ? 0 : *largeurs.begin(), plus_large + 1);
    return noms;
}

struct place {
    int parent;  // 0 at the top level
    std::string nom;
};

// Checks a tree listing: every line well formed, each pid once, no level
// skipped. Each line's parent is the last line one level up.
std::map<int, place> lire_listing_arbre(const std::string& texte)
{
    std::map<int, place> places;
    std::vector<int> chemin;
    for (const std::string& ligne : lignes(texte)) {
        ligne_arbre l;
        if (!lire_arbre(ligne, &l) || l.profondeur > chemin.size()) {
            ADD_FAILURE() << "malformed: " << ligne;
            continue;
        }
        chemin.resize(l.profondeur);
        EXPECT_TRUE(places.emplace(l.pid, place{chemin.empty() ? 0 : chemin.back(), l.nom}).second)
            << "twice: " << l.pid;
        chemin.push_back(l.pid);
    }
    return places;
}

TEST(Failures, AWriteThatFailsIsToldAndEndsTheRunWithStatus255)
{
    int plein = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(plein, 0);
    int tube[2];
    ASSERT_EQ(pipe(tube), 0);
    close(tube[0]);  // the reader is gone before the tool starts
    struct cas {
        const char* quoi;
        conditions c;
        const char* erreur;
    };
    const cas table[] = {
        {"disk full", {{}, plein, false, 0}, "tarnwick: write error: No space left on device\n"},
        {"reader gone", {{}, tube[1], true, 0}, "tarnwick: write error: Broken pipe\n"},
    };
    for (const cas& c : table) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{}, {"/t"}, {"/?"}, {"a", "b"}}) {
            std::string quoi = std::string(c.quoi) + (args.empty() ? "" : " " + args[0]);
            sortie s = lancer(args, c.c);
            EXPECT_EQ(s.statut, 255) << quoi;
            EXPECT_EQ(s.err, c.erreur) << quoi;
        }
    }
    close(plein);
    close(tube[1]);
}

TEST(Failures, RunningOutOfMemoryIsToldAndEndsTheRunWithStatus255)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory needs more address space than any limit here";
#endif
    // From a limit too small to start the tool up to one that lets it list,
    // a page at a time: each run lists, or fails and says so; none aborts.
    int sans_memoire = 0;
    bool liste = false;
    for (rlim_t limite = 1 << 20; !liste && limite < rlim_t{256} << 20; limite += 4096) {
        sortie s = lancer({}, conditions{{}, -1, false, limite});
        std::string quoi = std::to_string(limite) + " bytes: " + s.err;
        if (s.statut == 127)
            continue;  // too little to load the program
        if (s.statut == 0) {
            EXPECT_EQ(s.err, "") << quoi;
            lire_listing_plat(s.out);
            liste = true;
        } else if (s.out == "Unable to create snapshot!\n") {
            EXPECT_EQ(s.statut, 255) << quoi;
        } else {
            ASSERT_EQ(s.statut, 255) << quoi;
            ASSERT_EQ(s.err, "tarnwick: out of memory\n") << quoi;
            ++sans_memoire;
        }
    }
    EXPECT_TRUE(liste);
    EXPECT_GT(sans_memoire, 0);
}

// Runs both listings between two ps snapshots and checks them on every
// process ps saw unchanged before and after: present in both, and under its
// parent in the tree. Returns the processes whose names differ from ps's.
std::map<int, std::string> comparer_avec_ps()
{
    std::map<int, std::string> differents;
    std::map<int, vu_par_ps> avant = ps();
    sortie plat = lancer({});
    sortie arbre = lancer({"/t"});
    std::map<int, vu_par_ps> apres = ps();
    EXPECT_FALSE(avant.empty());
    EXPECT_EQ(plat.statut, 0);
    EXPECT_EQ(arbre.statut, 0);

    std::map<int, std::string> noms_plats = lire_listing_plat(plat.out);
    std::map<int, place> places = lire_listing_arbre(arbre.out);

    int compares = 0;
    for (const auto& [pid, vu] : avant) {
        auto it = apres.find(pid);
        if (it == apres.end() || !(it->second == vu))
            continue;
        ++compares;
        if (!noms_plats.count(pid) || !places.count(pid)) {
            ADD_FAILURE() << "missing: " << pid << " " << vu.comm;
            continue;
        }
        if (!meme_nom(noms_plats[pid], vu.comm) || !meme_nom(places[pid].nom, vu.comm))
            differents[pid] = vu.comm + " shown as " + noms_plats[pid] + " / " + places[pid].nom;
        auto parent = apres.find(vu.ppid);
        bool parent_stable = avant.count(vu.ppid) && parent != apres.end() &&
                             parent->second == avant.at(vu.ppid);
        if (parent_stable) {
            EXPECT_EQ(places[pid].parent, vu.ppid) << pid << " " << vu.comm;
        } else if (vu.ppid == 0) {
            EXPECT_EQ(places[pid].parent, 0) << pid << " " << vu.comm;
        }
    }
    EXPECT_GT(compares, 2);
    return differents;
}

TEST(Listing, AgreesWithPsOnEveryProcessAliveThroughout)
{
    if (!ps_present())
        GTEST_SKIP() << "ps is missing (Debian package procps)";
    // A name can change and change back between ps's two looks (a kernel
    // worker's follows the queue it serves), so a process whose name differs
    // is checked again; only one that differs every time is wrong.
    std::map<int, std::string> differents = comparer_avec_ps();
    for (int essai = 0; essai < 5 && !differents.empty() && !HasFailure(); ++essai) {
        std::map<int, std::string> encore = comparer_avec_ps();
        for (auto it = differents.begin(); it != differents.end();)
            it = encore.count(it->first) ? std::next(it) : differents.erase(it);
    }
    for (const auto& [pid, ecart] : differents)
        ADD_FAILURE() << pid << " " << ecart;
}

// A chain of processes, each the child of the one before, named as asked.
class Chaine {
public:
    explicit Chaine(const std::vector<std::string>& noms)
    {
        int tube[2];
        if (pipe(tube) != 0)
            std::abort();
        pid_t premier = fork();
        if (premier == 0) {
            setpgid(0, 0);
            for (std::size_t i = 0;; ++i) {
                prctl(PR_SET_NAME, noms[i].c_str());
                pid_t moi = getpid();
                if (write(tube[1], &moi, sizeof moi) != sizeof moi)
                    _exit(1);
                if (i + 1 == noms.size() || fork() != 0)
                    break;
            }
            close(tube[1]);
            for (;;)
                pause();
        }
        close(tube[1]);
        pid_t pid;
        while (pids.size() < noms.size() && read(tube[0], &pid, sizeof pid) == sizeof pid)
            pids.push_back(pid);
        close(tube[0]);
        groupe = premier;
    }
    ~Chaine()
    {
        kill(-groupe, SIGKILL);
        waitpid(groupe, nullptr, 0);
    }
    std::vector<pid_t> pids;

private:
    pid_t groupe;
};

TEST(Listing, TreeNestsAChainTwoBlanksPerLevel)
{
    Chaine chaine({"twk-chain-a", "twk-chain-b", "twk\n 1 fake\x1b"});
    ASSERT_EQ(chaine.pids.size(), 3u);
    std::string a = "twk-chain-a (" + std::to_string(chaine.pids[0]) + ")";
    std::string b = "twk-chain-b (" + std::to_string(chaine.pids[1]) + ")";
    std::string c = "twk? 1 fake? (" + std::to_string(chaine.pids[2]) + ")";
    std::string moi = "cli_test (" + std::to_string(getpid()) + ")";

    sortie s = lancer({"/t"});
    std::vector<std::string> l = lignes(s.out);
    std::size_t i = 0;
    while (i < l.size() && l[i].find(moi) == std::string::npos)
        ++i;
    ASSERT_LT(i + 3, l.size()) << s.out;
    std::string marge(l[i].size() - moi.size(), ' ');
    EXPECT_EQ(l[i], marge + moi);
    EXPECT_EQ(l[i + 1], marge + "  " + a);
    EXPECT_EQ(l[i + 2], marge + "    " + b);
    EXPECT_EQ(l[i + 3], marge + "      " + c);

    // The name can't forge a line of the flat listing either.
    sortie plat = lancer({});
    for (const std::string& ligne : lignes(plat.out)) {
        ligne_plate lp;
        ASSERT_TRUE(lire_plat(ligne, &lp)) << ligne;
        if (lp.pid == chaine.pids[2]) {
            EXPECT_EQ(lp.nom, "twk? 1 fake?");
        }
    }
}

// Closes the write end of tube and waits until every other copy of it is
// closed too (by exit, exec or close).
void attendre_fermeture(int tube[2])
{
    close(tube[1]);
    char octet;
    while (read(tube[0], &octet, 1) > 0) {
    }
    close(tube[0]);
}

// Processes running copies of sleep under the names given; each has exec'd
// by the time the constructor returns.
class Copies {
public:
    explicit Copies(const std::vector<std::string>& noms)
    {
        char modele[] = "/tmp/tarnwick-names-XXXXXX";
        if (!mkdtemp(modele))
            std::abort();
        dossier = modele;
        for (const std::string& nom : noms) {
            std::string chemin = dossier + "/" + nom;
            std::filesystem::copy_file("/bin/sleep", chemin);
            std::filesystem::permissions(chemin, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add);
            int tube[2];
            if (pipe2(tube, O_CLOEXEC) != 0)
                std::abort();
            pid_t pid = fork();
            if (pid == 0) {
                execl(chemin.c_str(), chemin.c_str(), "120", static_cast<char*>(nullptr));
                _exit(127);
            }
            attendre_fermeture(tube);
            pids.push_back(pid);
        }
    }
    ~Copies()
    {
        for (pid_t pid : pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::filesystem::remove_all(dossier);
    }
    std::vector<pid_t> pids;

private:
    std::string dossier;
};

// ps's command name for pid, in the locale given.
std::string comm_selon_ps(pid_t pid, const std::string& langue)
{
    std::string commande = "LC_ALL=" + langue + " ps -o comm= -p " + std::to_string(pid);
    FILE* f = popen(commande.c_str(), "r");
    if (!f)
        return "";
    std::string texte;
    char tampon[512];
    while (std::fgets(tampon, sizeof tampon, f))
        texte += tampon;
    pclose(f);
    if (!texte.empty() && texte.back() == '\n')
        texte.pop_back();
    return texte;
}

TEST(Listing, NamesAreSafeOnTheTerminalInTheUsersLocale)
{
    struct cas {
        std::string nom;
        std::string utf8;  // shown in C.UTF-8
        std::string c;     // shown in C
        bool comme_ps;     // ps's rule agrees
    };
    const std::vector<cas> table = {
        {"twk-caf\xc3\xa9", "twk-caf\xc3\xa9", "twk-caf??", true},
        {"\xe4\xb8\xad\xe6\x96\x87-twk", "\xe4\xb8\xad\xe6\x96\x87-twk", "??????" "-twk", true},
        {"twk-\xc2\x9b" "2J", "twk-?2J", "twk-??2J", true},
        {"twk-\x9b" "2J", "twk-?2J", "twk-?2J", true},
        {"twk-\xc2\x85x", "twk-?x", "twk-??x", true},
        {"twk-\xe2\x80\xa8x", "twk-?x", "twk-???x", true},
        {"twk-\xff\xc0\xaf", "twk-???", "twk-???", true},
        {"twk-\xed\xa0\x80", "twk-???", "twk-???", true},
        {"  twk-lead", "??twk-lead", "??twk-lead", false},
        // longer than the kernel keeps: argv[0] gives the rest
        {"twk-long-\xc3\xa9\xc3\xa9\xc3\xa9-name", "twk-long-\xc3\xa9\xc3\xa9\xc3\xa9-name",
         "twk-long-??????" "-name", false},
    };
    std::vector<std::string> noms;
    for (const cas& c : table)
        noms.push_back(c.nom);
    Copies copies(noms);
    ASSERT_EQ(copies.pids.size(), table.size());

    for (const char* langue : {"C.UTF-8", "C"}) {
        bool utf8 = std::string(langue) == "C.UTF-8";
        conditions c;
        c.env = {std::string("LC_ALL=") + langue};
        std::map<int, std::string> plats = lire_listing_plat(lancer({}, c).out);
        std::map<int, place> places = lire_listing_arbre(lancer({"/t"}, c).out);
        for (std::size_t i = 0; i < table.size(); ++i) {
            const std::string& attendu = utf8 ? table[i].utf8 : table[i].c;
            int pid = copies.pids[i];
            EXPECT_EQ(plats[pid], attendu) << langue << " flat " << pid;
            EXPECT_EQ(places[pid].nom, attendu) << langue << " tree " << pid;
            EXPECT_EQ(places[pid].parent, getpid()) << langue << " tree " << attendu;
            if (table[i].comme_ps && ps_present()) {
                EXPECT_EQ(comm_selon_ps(pid, langue), attendu) << langue << " ps " << pid;
            }
        }
    }
}

TEST(Listing, HundredsOfProcessesAreAllShownUnderTheirParent)
{
    // Enough children that the snapshot is read by several threads on a
    // machine with more than one CPU.
    const std::size_t enfants_voulus = 399;
    int tube[2];
    ASSERT_EQ(pipe(tube), 0);
    pid_t chef = fork();
    if (chef == 0) {
        setpgid(0, 0);
        prctl(PR_SET_NAME, "twk-many-top");
        for (std::size_t i = 0; i < enfants_voulus; ++i) {
            if (fork() == 0) {
                prctl(PR_SET_NAME, "twk-many");
                close(tube[1]);
                for (;;)
                    pause();
            }
        }
        close(tube[1]);
        for (;;)
            pause();
    }
    attendre_fermeture(tube);

    std::map<int, place> places = lire_listing_arbre(lancer({"/t"}).out);
    std::map<int, std::string> plats = lire_listing_plat(lancer({}).out);
    kill(-chef, SIGKILL);
    waitpid(chef, nullptr, 0);
    std::size_t enfants = 0;
    for (const auto& [pid, p] : places)
        enfants += p.parent == chef && p.nom == "twk-many" && plats[pid] == "twk-many";
    EXPECT_EQ(enfants, enfants_voulus);
    EXPECT_EQ(places[chef].nom, "twk-many-top");
}

// Keeps short-lived processes coming and going, some with names the kernel
// cuts, until it is destroyed (or for two minutes at most).
class Agitateur {
public:
    Agitateur()
    {
        groupe = fork();
        if (groupe != 0)
            return;
        setpgid(0, 0);
        alarm(120);
        unsigned graine = static_cast<unsigned>(getpid());
        int vivants = 0;
        for (unsigned i = 0;; ++i) {
            pid_t fils = fork();
            if (fils == 0) {
                if (i % 2)
                    prctl(PR_SET_NAME, "churn-abcdefghi");
                usleep(rand_r(&graine) % 2000);
                _exit(0);
            }
            if (fils > 0)
                ++vivants;
            if (vivants >= 16 && wait(nullptr) > 0)
                --vivants;
            while (waitpid(-1, nullptr, WNOHANG) > 0)
                --vivants;
        }
    }
    ~Agitateur()
    {
        kill(-groupe, SIGKILL);
        waitpid(groupe, nullptr, 0);
    }

private:
    pid_t groupe;
};

TEST(Churn, EveryRunIsWellFormedWhileProcessesComeAndGo)
{
    Agitateur agitateur;
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int essais = 0;
    int vus = 0;  // short-lived processes caught alive
    for (; essais < 200 && std::chrono::steady_clock::now() < limite; ++essais) {
        bool arbre = essais % 2;
        sortie s = lancer(arbre ? std::vector<std::string>{"/t"} : std::vector<std::string>{});
        ASSERT_EQ(s.statut, 0);
        ASSERT_EQ(s.err, "");
        if (arbre)
            lire_listing_arbre(s.out);
        else
            lire_listing_plat(s.out);
        ASSERT_FALSE(HasFailure()) << "run " << essais << ":\n" << s.out;
        vus += s.out.find("churn-abcdefghi") != std::string::npos;
    }
    EXPECT_GE(essais, 20);
    EXPECT_GT(vus, 0);
}

} // namespace
