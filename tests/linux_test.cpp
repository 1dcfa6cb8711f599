#include <gtest/gtest.h>

#include <locale.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "liste.h"
#include "procfs.h"
#include "toolhelp.h"

namespace fs = std::filesystem;

namespace {

// A stat line with the given fields and plausible others.
std::string ligne_stat(int pid, const std::string& comm, int ppid, unsigned long long start)
{
    return std::to_string(pid) + " (" + comm + ") S " + std::to_string(ppid) +
           " 1 1 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 " + std::to_string(start) +
           " 1000000 100 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n";
}

TEST(ParseStat, ReadsFieldsAfterTheLastParenthesis)
{
    const std::string comms[] = {"bash", "my prog", "a) b) (c", ")", "", "x\ny ) S 9 9",
                                 "kworker/u8:1-events_unbound"};
    for (const std::string& comm : comms) {
        std::string texte = ligne_stat(4242, comm, 17, 123456789012ULL);
        stat_record r;
        ASSERT_TRUE(parse_stat(texte.data(), texte.size(), &r)) << comm;
        EXPECT_EQ(r.pid, 4242);
        EXPECT_EQ(r.ppid, 17);
        EXPECT_EQ(r.start, 123456789012ULL);
        EXPECT_EQ(r.comm, comm);
    }
}

TEST(ParseStat, RefusesMalformedRecords)
{
    const std::string bon = ligne_stat(5, "sh", 1, 99);
    const std::string table[] = {
        "",
        "5",
        "5 (sh",
        "5 sh) S 1",
        "x5 (sh) S 1 1 1",
        "(sh) S 1 1 1",
        "2147483648 (sh) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5\n",
        "5 (sh) S -1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5\n",
        "5 (sh) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0\n",
        "5 (sh) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5x\n",
        "5 (sh) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99999999999999999999\n",
        "5 (sh)  S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5\n",
        bon.substr(0, bon.find(" 99 ")),
    };
    for (const std::string& texte : table) {
        stat_record r{1, 2, 3, "kept"};
        EXPECT_FALSE(parse_stat(texte.data(), texte.size(), &r)) << texte;
        EXPECT_EQ(r.comm, "kept");
    }
}

TEST(ProcessName, UsesArgv0WhereTheKernelCutTheName)
{
    using namespace std::string_literals;
    struct cas {
        std::string comm;
        std::string cmdline;
        std::string nom;
    };
    const cas table[] = {
        {"bash", "/bin/bash\0-l\0"s, "bash"},
        {"bash", "/usr/bin/something-else\0"s, "bash"},
        {"gnome-shell-cal", "/usr/libexec/gnome-shell-calendar-server\0"s,
         "gnome-shell-calendar-server"},
        {"gnome-shell-cal", "gnome-shell-calendar-server\0--x\0"s, "gnome-shell-calendar-server"},
        {"gnome-shell-cal", "/usr/bin/python3\0/x/gnome-shell-calendar\0"s, "gnome-shell-cal"},
        {"gnome-shell-cal", ""s, "gnome-shell-cal"},
        {"gnome-shell-cal", "gnome-shell-cal\0"s, "gnome-shell-cal"},
        {"gnome-shell-cal", "/opt/gnome-shell-cal/\0"s, "gnome-shell-cal"},
        {"abcdefghijklmno", "/x/abcdefghijklmnopq: worker process"s,
         "abcdefghijklmnopq: worker process"},
        // raw bytes: the kernel cut a two-byte character after its first byte
        {"abcdefghijklmn\xc3", "/x/abcdefghijklmn\xc3\xa9t\xc3\xa9\0"s,
         "abcdefghijklmn\xc3\xa9t\xc3\xa9"},
        {"abcdefghijklmn\xc3", "/x/abcdefghijklmno\0"s, "abcdefghijklmn\xc3"},
        {"evil\nname\x1b[2J", "", "evil\nname\x1b[2J"},
    };
    for (const cas& c : table)
        EXPECT_EQ(process_name(c.comm, c.cmdline.data(), c.cmdline.size()), c.nom)
            << c.comm;
}

// Sets the calling thread's LC_CTYPE for the life of the object.
class Langue {
public:
    explicit Langue(const char* nom) : langue(newlocale(LC_CTYPE_MASK, nom, nullptr))
    {
        if (langue)
            avant = uselocale(langue);
    }
    ~Langue()
    {
        if (langue) {
            uselocale(avant);
            freelocale(langue);
        }
    }
    bool ok() const { return langue != nullptr; }

private:
    locale_t langue;
    locale_t avant = nullptr;
};

TEST(NomAffichable, KeepsPrintableCharactersAndMarksTheRest)
{
    struct cas {
        const char* quoi;
        std::string nom;
        std::string utf8;  // in C.UTF-8
        std::string c;     // in C
    };
    const cas table[] = {
        {"ascii", "sshd: root@pts/0", "sshd: root@pts/0", "sshd: root@pts/0"},
        {"C0 and DEL", "a\nb\x1b[2J\t\x7f", "a?b?[2J??", "a?b?[2J??"},
        {"accented", "caf\xc3\xa9", "caf\xc3\xa9", "caf??"},
        {"CJK", "\xe4\xb8\xad\xe6\x96\x87", "\xe4\xb8\xad\xe6\x96\x87", "??????"},
        {"C1 CSI, encoded", "a\xc2\x9b" "2Jb", "a?2Jb", "a??2Jb"},
        {"C1 NEL, encoded", "a\xc2\x85z", "a?z", "a??z"},
        {"C1 CSI, raw", "a\x9b" "2Jb", "a?2Jb", "a?2Jb"},
        {"line separator", "a\xe2\x80\xa8z", "a?z", "a???z"},
        {"paragraph separator", "a\xe2\x80\xa9z", "a?z", "a???z"},
        {"stray bytes", "a\xff\x80z", "a??z", "a??z"},
        {"overlong /", "a\xc0\xafz", "a??z", "a??z"},
        {"surrogate", "a\xed\xa0\x80z", "a???z", "a???z"},
        {"above U+10FFFF", "a\xf4\x90\x80\x80z", "a?z", "a????z"},
        {"incomplete at the end", "a\xe4\xb8", "a??", "a??"},
        {"leading blanks", "  sshd", "??sshd", "??sshd"},
        {"inner and trailing blanks kept", "my prog ", "my prog ", "my prog "},
        {"leading ideographic space", "\xe3\x80\x80sshd", "?sshd", "???sshd"},
        {"leading no-break space", "\xc2\xa0 x", "??x", "?? x"},
        {"inner no-break space kept", "a\xc2\xa0z", "a\xc2\xa0z", "a??z"},
        {"blank after a mark kept", "\x01 x", "? x", "? x"},
        {"empty", "", "", ""},
    };
    {
        Langue langue("C.UTF-8");
        ASSERT_TRUE(langue.ok());
        for (const cas& c : table)
            EXPECT_EQ(nom_affichable(c.nom, 259), c.utf8) << c.quoi;
    }
    {
        Langue langue("C");
        for (const cas& c : table)
            EXPECT_EQ(nom_affichable(c.nom, 259), c.c) << c.quoi;
    }
    // The fast path agrees: true exactly where no locale changes the name.
    for (const cas& c : table)
        EXPECT_EQ(deja_affichable(c.nom, 259), c.utf8 == c.nom && c.c == c.nom) << c.quoi;
}

TEST(NomAffichable, CutsOnWholeCharacters)
{
    Langue langue("C.UTF-8");
    ASSERT_TRUE(langue.ok());
    // 'a' then two-byte characters: a cut at an even count would split one.
    std::string nom = "a";
    for (int i = 0; i < 200; ++i)
        nom += "\xc3\xa9";
    std::string montre = nom_affichable(nom, 259);
    EXPECT_EQ(montre, nom.substr(0, 259));
    EXPECT_EQ(nom_affichable(nom, 258), nom.substr(0, 257));
    EXPECT_EQ(nom_affichable("ab\xe4\xb8\xad", 4), "ab");
    EXPECT_EQ(nom_affichable("ab\x01\x02", 3), "ab?");
    EXPECT_FALSE(deja_affichable(std::string(260, 'x'), 259));
    EXPECT_TRUE(deja_affichable(std::string(259, 'x'), 259));
}

// A /proc tree in a temporary folder.
class FauxProc : public testing::Test {
protected:
    void SetUp() override
    {
        char modele[] = "/tmp/tarnwick-proc-XXXXXX";
        ASSERT_NE(mkdtemp(modele), nullptr);
        racine = modele;
    }
    void TearDown() override { fs::remove_all(racine); }

    void ecrire(const std::string& chemin, const std::string& texte)
    {
        fs::create_directories(fs::path(racine / chemin).parent_path());
        std::ofstream(racine / chemin, std::ios::binary) << texte;
    }
    void processus(int pid, const std::string& comm, int ppid, unsigned long long start,
                   const std::string& cmdline = "")
    {
        ecrire(std::to_string(pid) + "/stat", ligne_stat(pid, comm, ppid, start));
        ecrire(std::to_string(pid) + "/cmdline", cmdline);
    }

    struct vu {
        DWORD pid;
        DWORD ppid;
        std::string nom;
        bool operator==(const vu& o) const { return pid == o.pid && ppid == o.ppid && nom == o.nom; }
    };
    // Reads the tree with fils threads.
    std::vector<vu> lire_avec(unsigned fils)
    {
        std::vector<vu> vus;
        HANDLE h = snapshot_processes(racine.c_str(), fils);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        PROCESSENTRY32 pe;
        pe.dwSize = sizeof pe;
        for (BOOL ok = Process32First(h, &pe); ok; ok = Process32Next(h, &pe))
            vus.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
        EXPECT_TRUE(CloseHandle(h));
        return vus;
    }

    // Reads the tree serially, and checks that threads read the same.
    std::vector<vu> parcourir()
    {
        std::vector<vu> serie = lire_avec(1);
        EXPECT_EQ(lire_avec(3), serie);
        return serie;
    }

    // The same, with LC_ALL set to langue in the environment meanwhile.
    std::vector<vu> parcourir_en(const char* langue)
    {
        const char* avant = std::getenv("LC_ALL");
        std::string garde = avant ? avant : "";
        setenv("LC_ALL", langue, 1);
        std::vector<vu> vus = parcourir();
        if (avant)
            setenv("LC_ALL", garde.c_str(), 1);
        else
            unsetenv("LC_ALL");
        return vus;
    }

    fs::path racine;
};

TEST_F(FauxProc, YieldsEveryReadableProcessParentsFirst)
{
    using namespace std::string_literals;
    processus(1, "init", 0, 5, "/sbin/init\0"s);
    processus(2, "kthreadd", 0, 5);
    processus(300, "my prog (x)", 1, 900, "./my prog (x)\0"s);
    // pid reused after wrap-around: 7 is younger than its parent 300
    processus(7, "averylongcomman", 300, 1200, "/opt/averylongcommandname\0-v\0"s);
    processus(8, "bad\nname", 7, 1300);
    processus(9, "kworker/0:1-events", 2, 6);
    // left out: vanished before its stat was read, garbled, cmdline unreadable
    fs::create_directories(racine / "55");
    ecrire("56/stat", "56 (garbled");
    ecrire("57/stat", ligne_stat(57, "averylongcomman", 1, 50));
    fs::create_directories(racine / "57/cmdline");
    // not processes
    ecrire("self/stat", ligne_stat(1, "init", 0, 5));
    ecrire("meminfo", "MemTotal: 1 kB\n");

    std::vector<vu> attendu = {
        {1, 0, "init"},
        {2, 0, "kthreadd"},
        {9, 2, "kworker/0:1-events"},
        {300, 1, "my prog (x)"},
        {7, 300, "averylongcommandname"},
        {8, 7, "bad?name"},
    };
    std::vector<vu> vus = parcourir();
    EXPECT_EQ(vus, attendu);

    ELEMENT* arbre = nullptr;
    for (const vu& v : vus)
        arbre = ajouter(arbre, static_cast<std::int32_t>(v.pid), v.nom.c_str(),
                        static_cast<std::int32_t>(v.ppid));
    testing::internal::CaptureStdout();
    affiche(arbre, 2, 4, 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init (1)\n"
              "  my prog (x) (300)\n"
              "    averylongcommandname (7)\n"
              "      bad?name (8)\n"
              "kthreadd (2)\n"
              "  kworker/0:1-events (9)\n");
}

TEST_F(FauxProc, SameStartTimeFallsBackOnPidOrder)
{
    processus(20, "b", 1, 100);
    processus(10, "a", 1, 100);
    processus(30, "c", 1, 99);
    std::vector<vu> attendu = {{30, 1, "c"}, {10, 1, "a"}, {20, 1, "b"}};
    EXPECT_EQ(parcourir(), attendu);
}

TEST_F(FauxProc, ParentsComeFirstWhateverTheStartTimes)
{
    struct processus_t {
        int pid;
        int ppid;
        unsigned long long start;
    };
    struct cas {
        const char* quoi;
        std::vector<processus_t> entree;
        std::vector<DWORD> ordre;
    };
    const cas table[] = {
        {"child forked in its parent's tick with a wrapped pid",
         {{1, 0, 1}, {32760, 1, 100}, {5, 32760, 100}, {6, 5, 101}, {7, 1, 100}},
         {1, 7, 32760, 5, 6}},
        {"start times inverted along a chain",
         {{10, 1, 300}, {11, 10, 200}, {12, 11, 100}, {13, 1, 150}},
         {13, 10, 11, 12}},
        {"a two-process cycle and a child of it",
         {{20, 21, 5}, {21, 20, 6}, {22, 21, 7}, {23, 99, 4}},
         {23, 20, 21, 22}},
        {"self-parented", {{30, 30, 9}, {31, 30, 8}}, {30, 31}},
    };
    for (const cas& c : table) {
        fs::remove_all(racine);
        fs::create_directories(racine);
        for (const processus_t& p : c.entree)
            processus(p.pid, "p" + std::to_string(p.pid), p.ppid, p.start);
        std::vector<DWORD> ordre;
        for (const vu& v : parcourir())
            ordre.push_back(v.pid);
        EXPECT_EQ(ordre, c.ordre) << c.quoi;
    }
}

TEST_F(FauxProc, NamesAreShownByTheUsersCharacterLocale)
{
    using namespace std::string_literals;
    processus(1, "  sshd", 0, 1);
    processus(2, "caf\xc3\xa9\xc2\x9b", 0, 2);
    // 15 bytes, the last one half of a character that argv[0] completes
    processus(3, "abcdefghijklmn\xc3", 0, 3, "/x/abcdefghijklmn\xc3\xa9\0"s);
    processus(4, "abcdefghijklmn\xc3", 0, 4, "other\0"s);

    std::vector<vu> utf8 = parcourir_en("C.UTF-8");
    std::vector<vu> c = parcourir_en("C");

    std::vector<vu> attendu_utf8 = {{1, 0, "??sshd"},
                                    {2, 0, "caf\xc3\xa9?"},
                                    {3, 0, "abcdefghijklmn\xc3\xa9"},
                                    {4, 0, "abcdefghijklmn?"}};
    std::vector<vu> attendu_c = {{1, 0, "??sshd"},
                                 {2, 0, "caf????"},
                                 {3, 0, "abcdefghijklmn??"},
                                 {4, 0, "abcdefghijklmn?"}};
    EXPECT_EQ(utf8, attendu_utf8);
    EXPECT_EQ(c, attendu_c);
}

TEST_F(FauxProc, CutsNamesToTheRecordsField)
{
    using namespace std::string_literals;
    std::string long_nom = "abcdefghijklmno" + std::string(5000, 'z');
    processus(3, "abcdefghijklmno", 1, 10, "/x/" + long_nom + "\0"s);
    // 16 bytes, then two-byte characters: 259 would split one
    std::string accents = "abcdefghijklmnoz";
    for (int i = 0; i < 300; ++i)
        accents += "\xc3\xa9";
    processus(4, "abcdefghijklmno", 1, 11, "/x/" + accents + "\0"s);

    std::vector<vu> vus = parcourir_en("C.UTF-8");
    ASSERT_EQ(vus.size(), 2u);
    EXPECT_EQ(vus[0].nom, long_nom.substr(0, MAX_PATH - 1));
    EXPECT_EQ(vus[1].nom, accents.substr(0, MAX_PATH - 2));
}

TEST_F(FauxProc, ThreadsReadTheSameSnapshotAsOneThread)
{
    using namespace std::string_literals;
    std::mt19937 alea(7);
    for (int pid = 1; pid <= 3000; ++pid) {
        int parent = static_cast<int>(alea() % static_cast<unsigned>(pid + 50));
        unsigned long long start = alea() % 500;
        switch (alea() % 10) {
        case 0:  // vanished
            fs::create_directories(racine / std::to_string(pid));
            break;
        case 1:  // garbled
            ecrire(std::to_string(pid) + "/stat", std::to_string(pid) + " (x");
            break;
        case 2:  // a cut name, completed by argv[0]
            processus(pid, "abcdefghijklmno", parent, start,
                      "/bin/abcdefghijklmno-" + std::to_string(pid) + "\0"s);
            break;
        default:
            processus(pid, "p" + std::to_string(pid), parent, start);
        }
    }
    std::vector<vu> serie = lire_avec(1);
    EXPECT_GT(serie.size(), 2000u);
    for (unsigned fils : {2u, 4u, 8u, 64u})
        EXPECT_EQ(lire_avec(fils), serie) << fils << " threads";
    EXPECT_EQ(lire_avec(0), serie) << "threads chosen for this machine";
}

TEST_F(FauxProc, EmptyOrMissingRootAndBadCalls)
{
    HANDLE h = snapshot_processes(racine.c_str());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    EXPECT_FALSE(Process32First(h, &pe));
    EXPECT_FALSE(Process32Next(h, &pe));
    EXPECT_TRUE(CloseHandle(h));

    EXPECT_EQ(snapshot_processes((racine / "absent").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateToolhelp32Snapshot(0, 0), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Process32First(INVALID_HANDLE_VALUE, &pe));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(FauxProc, RecordSizeIsChecked)
{
    processus(1, "init", 0, 5);
    HANDLE h = snapshot_processes(racine.c_str());
    PROCESSENTRY32 pe;
    pe.dwSize = 296;
    EXPECT_FALSE(Process32First(h, &pe));
    pe.dwSize = sizeof pe;
    EXPECT_TRUE(Process32First(h, &pe));
    EXPECT_TRUE(Process32First(h, &pe)) << "First starts the list again";
    pe.dwSize = 0;
    EXPECT_FALSE(Process32Next(h, &pe));
    CloseHandle(h);
}

TEST(Toolhelp, RealSnapshotHoldsThisProcess)
{
    HANDLE h = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    bool vu = false;
    for (BOOL ok = Process32First(h, &pe); ok; ok = Process32Next(h, &pe)) {
        if (pe.th32ProcessID == static_cast<DWORD>(getpid())) {
            vu = true;
            EXPECT_EQ(pe.th32ParentProcessID, static_cast<DWORD>(getppid()));
            EXPECT_STREQ(pe.szExeFile, "linux_test");
        }
    }
    EXPECT_TRUE(vu);
    CloseHandle(h);
}

TEST(Toolhelp, VersionIsTheKernelsAndNeverTheNtFamily)
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 148;
    EXPECT_FALSE(GetVersionExA(&info));

    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    char* suite = nullptr;
    EXPECT_EQ(info.dwMajorVersion, std::strtoul(u.release, &suite, 10));
    EXPECT_EQ(info.dwMinorVersion, std::strtoul(suite + 1, nullptr, 10));
    EXPECT_EQ(info.dwPlatformId & 2, 0u);
}

} // namespace
