#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "liste.h"

namespace {

struct processus {
    std::int32_t pid;
    std::int32_t ppid;
    const char* name;
};

ELEMENT* construire(const std::vector<processus>& liste)
{
    ELEMENT* arbre = nullptr;
    for (const processus& p : liste)
        arbre = ajouter(arbre, p.pid, p.name, p.ppid);
    return arbre;
}

std::string lister(ELEMENT* arbre, int flag, int largeur, int nb_tab = 0)
{
    testing::internal::CaptureStdout();
    affiche(arbre, flag, largeur, nb_tab);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

const std::vector<processus> six = {
    {0, 0, "idle"}, {8, 0, "system"}, {148, 8, "smss"},
    {172, 148, "csrss"}, {196, 148, "winlogon"}, {300, 77, "orphan"},
};

TEST(Ajouter, IntoEmptyTreeMakesOneBareElementWithItsOwnCopy)
{
    char nom[] = "init";
    ELEMENT* arbre = ajouter(nullptr, 1, nom, 0);
    nom[0] = 'X';
    ASSERT_NE(arbre, nullptr);
    EXPECT_EQ(arbre->infos->pid, 1);
    EXPECT_EQ(arbre->infos->ppid, 0);
    EXPECT_STREQ(arbre->infos->name, "init");
    EXPECT_EQ(arbre->freres, nullptr);
    EXPECT_EQ(arbre->fils, nullptr);
}

TEST(Ajouter, SixProcessesFormTheExpectedLinks)
{
    ELEMENT* arbre = construire(six);
    ASSERT_EQ(arbre->infos->pid, 0);
    ELEMENT* e8 = arbre->fils;
    ASSERT_NE(e8, nullptr);
    EXPECT_EQ(e8->infos->pid, 8);
    EXPECT_EQ(e8->freres, nullptr);
    ELEMENT* e148 = e8->fils;
    ASSERT_NE(e148, nullptr);
    EXPECT_EQ(e148->infos->pid, 148);
    ASSERT_NE(e148->fils, nullptr);
    EXPECT_EQ(e148->fils->infos->pid, 172);
    ASSERT_NE(e148->fils->freres, nullptr);
    EXPECT_EQ(e148->fils->freres->infos->pid, 196);
    EXPECT_EQ(e148->fils->freres->freres, nullptr);
    ASSERT_NE(arbre->freres, nullptr);
    EXPECT_EQ(arbre->freres->infos->pid, 300);
    EXPECT_EQ(arbre->freres->freres, nullptr);
}

// Placement rules, shown by the indented listing.
TEST(Ajouter, PlacesEachProcessUnderTheFirstMatchInPreOrder)
{
    struct cas {
        const char* quoi;
        std::vector<processus> entree;
        const char* arbre;
    };
    const cas table[] = {
        {"a child met before its parent stays at the top",
         {{1, 0, "init"}, {10, 20, "child"}, {20, 1, "parent"}},
         "init (1)\n  parent (20)\nchild (10)\n"},
        {"the first process is the root whatever its parent",
         {{5, 5, "self"}, {6, 5, "kid"}},
         "self (5)\n  kid (6)\n"},
        {"a self-parented process goes under an earlier twin",
         {{1, 0, "init"}, {4, 1, "a"}, {4, 4, "b"}, {9, 9, "c"}},
         "init (1)\n  a (4)\n    b (4)\nc (9)\n"},
        {"a duplicate pid: the twin met first in pre-order adopts",
         {{1, 0, "init"}, {2, 1, "deep"}, {3, 0, "top"}, {2, 3, "late"}, {9, 2, "kid"}},
         "init (1)\n  deep (2)\n    kid (9)\ntop (3)\n  late (2)\n"},
        {"children keep the order of insertion; orphans go last",
         {{1, 0, "a"}, {2, 1, "b"}, {77, 99, "orphan"}, {3, 1, "c"}, {4, 2, "d"}, {5, 1, "e"}},
         "a (1)\n  b (2)\n    d (4)\n  c (3)\n  e (5)\norphan (77)\n"},
        {"negative pids nest like any other",
         {{-1, 0, "neg"}, {-2, -1, "negkid"}},
         "neg (-1)\n  negkid (-2)\n"},
    };
    for (const cas& c : table)
        EXPECT_EQ(lister(construire(c.entree), 2, 2), c.arbre) << c.quoi;
}

TEST(Recherche, LooksAtTheElementAndItsDescendantsOnly)
{
    ELEMENT* arbre = construire(six);  // 0 { 8 { 148 { 172 196 } } }, 300
    struct cas {
        const char* quoi;
        ELEMENT* liste;
        std::int32_t pid;
        int trouve;
        int attendu;
    };
    const cas table[] = {
        {"null tree returns the flag", nullptr, 1, 0, 0},
        {"null tree returns a nonzero flag as is", nullptr, 1, 7, 7},
        {"own pid", arbre, 0, 0, 1},
        {"own pid wins over the flag", arbre, 0, 5, 1},
        {"a grandchild's child", arbre, 196, 0, 1},
        {"absent", arbre, 77, 0, 0},
        {"a following sibling is not searched", arbre, 300, 0, 0},
        {"a nonzero flag stops the search of children", arbre, 196, 3, 3},
        {"a subtree sees none of its parent's", arbre->fils->fils, 8, 0, 0},
    };
    for (const cas& c : table)
        EXPECT_EQ(recherche(c.liste, c.pid, c.trouve), c.attendu) << c.quoi;
}

TEST(Affiche, SixProcessesInBothModes)
{
    ELEMENT* arbre = construire(six);
    EXPECT_EQ(lister(arbre, 1, 4),
              "   0 idle\n"
              "   8 system\n"
              " 148 smss\n"
              " 172 csrss\n"
              " 196 winlogon\n"
              " 300 orphan\n");
    EXPECT_EQ(lister(arbre, 2, 4),
              "idle (0)\n"
              "  system (8)\n"
              "    smss (148)\n"
              "      csrss (172)\n"
              "      winlogon (196)\n"
              "orphan (300)\n");
}

TEST(Affiche, FlatColumnWidthsAndSigns)
{
    struct cas {
        std::int32_t pid;
        int largeur;
        std::string ligne;
    };
    const cas table[] = {
        {8, 2, " 8 p\n"},
        {8, 4, "   8 p\n"},
        {-5, 4, "  -5 p\n"},
        {-5, 2, "-5 p\n"},
        {1234567890, 10, " 1234567890 p\n"},
        {-2147483647 - 1, 12, " -2147483648 p\n"},
        {8, 99, std::string(98, ' ') + "8 p\n"},
        {-8, 99, std::string(97, ' ') + "-8 p\n"},
    };
    for (const cas& c : table)
        EXPECT_EQ(lister(ajouter(nullptr, c.pid, "p", 0), 1, c.largeur), c.ligne)
            << c.pid << " in " << c.largeur;
}

TEST(Affiche, TreeLinesAndStartingDepth)
{
    ELEMENT* arbre = construire({{-5, 0, "neg"}, {6, -5, "kid"}});
    EXPECT_EQ(lister(arbre, 2, 3), "neg (-5)\n  kid (6)\n");
    EXPECT_EQ(lister(arbre, 2, 3, 2), "    neg (-5)\n      kid (6)\n");
}

TEST(Affiche, NullTreeAndOtherModesPrintNothing)
{
    ELEMENT* arbre = construire(six);
    for (int flag : {1, 2})
        EXPECT_EQ(lister(nullptr, flag, 4), "") << flag;
    for (int flag : {0, 3, -1})
        EXPECT_EQ(lister(arbre, flag, 4), "") << flag;
}

// The indexed insertion must build the very tree the search-based one does.
TEST(AjouterIndexe, BuildsTheSameTreeAsTheSearch)
{
    std::mt19937 hasard(20261211);
    for (int essai = 0; essai < 3000; ++essai) {
        // Small pid ranges repeat pids; the last trials have unique ones.
        bool uniques = essai >= 2900;
        int n = std::uniform_int_distribution<int>(0, uniques ? 400 : 60)(hasard);
        int etendue = std::uniform_int_distribution<int>(1, 40)(hasard);
        std::vector<processus> liste;
        std::vector<std::string> noms;
        for (int i = 0; i < n; ++i) {
            std::int32_t pid = uniques ? i * 7 - 50
                                       : std::uniform_int_distribution<int>(-3, etendue)(hasard);
            std::int32_t ppid;
            switch (std::uniform_int_distribution<int>(0, 4)(hasard)) {
            case 0:  // self-parented
                ppid = pid;
                break;
            case 1:  // likely an orphan, or a parent inserted later
                ppid = std::uniform_int_distribution<int>(-10, etendue + 10)(hasard);
                break;
            default:  // an earlier process
                ppid = i ? liste[std::uniform_int_distribution<int>(0, i - 1)(hasard)].pid : 0;
                break;
            }
            noms.push_back("n" + std::to_string(i));
            liste.push_back({pid, ppid, nullptr});
        }
        ELEMENT* cherche = nullptr;
        FORET indexe = {};
        for (int i = 0; i < n; ++i) {
            cherche = ajouter(cherche, liste[i].pid, noms[i].c_str(), liste[i].ppid);
            ajouter(indexe, liste[i].pid, noms[i].c_str(), liste[i].ppid);
        }
        ASSERT_EQ(lister(indexe.racine, 2, 4), lister(cherche, 2, 4)) << "trial " << essai;
        ASSERT_EQ(lister(indexe.racine, 1, 4), lister(cherche, 1, 4)) << "trial " << essai;
    }
}

// Long sibling chains and deep trees must not grow the call stack: everything
// below runs on a 256 KiB stack.
const int longueur = 8000;

struct chaines {
    std::string plat[3];
    std::string indente[2];  // the deep chain's would be 64 MB of blanks
    int trouve[3];
};

void* parcourir_chaines(void* arg)
{
    chaines* r = static_cast<chaines*>(arg);
    std::vector<processus> forets[3];
    for (int i = 1; i <= longueur; ++i) {
        forets[0].push_back({i, -1, "top"});              // one top-level chain
        forets[1].push_back({i, i == 1 ? 0 : 1, "kid"});  // children of 1
        forets[2].push_back({i, i - 1, "deep"});          // one chain down
    }
    for (int f = 0; f < 3; ++f) {
        ELEMENT* arbre = construire(forets[f]);
        r->trouve[f] = recherche(arbre, longueur, 0);
        r->plat[f] = lister(arbre, 1, 5);
        if (f < 2)
            r->indente[f] = lister(arbre, 2, 5);
    }
    return nullptr;
}

TEST(Affiche, LongChainsRunOnASmallStack)
{
    chaines r;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t fil;
    ASSERT_EQ(pthread_create(&fil, &attr, parcourir_chaines, &r), 0);
    pthread_join(fil, nullptr);
    pthread_attr_destroy(&attr);

    std::string plat[3], indente[2];
    const char* noms[3] = {"top", "kid", "deep"};
    for (int f = 0; f < 3; ++f) {
        for (int i = 1; i <= longueur; ++i) {
            std::string pid = std::to_string(i);
            plat[f] += std::string(5 - pid.size(), ' ') + pid + " " + noms[f] + "\n";
        }
    }
    for (int i = 1; i <= longueur; ++i) {
        std::string pid = std::to_string(i);
        indente[0] += "top (" + pid + ")\n";
        indente[1] += std::string(i == 1 ? 0 : 2, ' ') + "kid (" + pid + ")\n";
    }
    // 8000 is found below the first element, except in the top-level chain.
    EXPECT_EQ(r.trouve[0], 0);
    EXPECT_EQ(r.trouve[1], 1);
    EXPECT_EQ(r.trouve[2], 1);
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(r.plat[f], plat[f]) << noms[f];
    for (int f = 0; f < 2; ++f)
        EXPECT_EQ(r.indente[f], indente[f]) << noms[f];
}

} // namespace
