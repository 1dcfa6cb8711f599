// Huge trees through the indexed insertion: a million processes in one
// sibling chain and a chain 100,000 deep build and list in full.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "liste.h"

namespace {

struct compte {
    std::uint64_t octets = 0;
    std::uint64_t lignes = 0;
    std::string derniere;  // the last line, without its newline
};

// Lists through a pipe and counts what comes out, without keeping it.
compte lister(ELEMENT* arbre, int flag, int largeur)
{
    int tube[2];
    if (pipe(tube) != 0)
        std::abort();
    compte c;
    std::thread lecteur([&c, fd = tube[0]] {
        static char bloc[1 << 16];
        const char* tampon = bloc;
        std::string courante;
        ssize_t n;
        while ((n = read(fd, bloc, sizeof bloc)) > 0) {
            const char* fin = tampon + n;
            c.octets += static_cast<std::uint64_t>(n);
            c.lignes += static_cast<std::uint64_t>(std::count(tampon, fin, '\n'));
            const char* saut =
                static_cast<const char*>(memrchr(tampon, '\n', static_cast<std::size_t>(n)));
            if (!saut) {
                courante.append(tampon, fin);
                continue;
            }
            const char* avant = static_cast<const char*>(
                memrchr(tampon, '\n', static_cast<std::size_t>(saut - tampon)));
            if (avant) {
                c.derniere.assign(avant + 1, saut);
            } else {
                courante.append(tampon, saut);
                c.derniere = courante;
            }
            courante.assign(saut + 1, fin);
        }
        close(fd);
    });
    std::fflush(stdout);
    int sortie = dup(1);
    dup2(tube[1], 1);
    close(tube[1]);
    affiche(arbre, flag, largeur, 0);
    std::fflush(stdout);
    dup2(sortie, 1);
    close(sortie);
    lecteur.join();
    return c;
}

std::uint64_t chiffres(std::uint64_t n)
{
    return std::to_string(n).size();
}

TEST(Stress, AMillionSiblings)
{
    const std::int32_t n = 1000000;
    FORET arbre = {};
    for (std::int32_t i = 1; i <= n; ++i)
        ajouter(arbre, i, "top", -i);  // no parent anywhere
    std::int32_t longueur = 0;
    for (ELEMENT* e = arbre.racine; e; e = e->freres, ++longueur)
        ASSERT_EQ(e->fils, nullptr);
    EXPECT_EQ(longueur, n);

    compte plat = lister(arbre.racine, 1, 8);
    EXPECT_EQ(plat.lignes, static_cast<std::uint64_t>(n));
    EXPECT_EQ(plat.octets, 13ull * n);  // "%8d top\n"
    EXPECT_EQ(plat.derniere, " 1000000 top");

    compte indente = lister(arbre.racine, 2, 8);
    std::uint64_t attendu = 0;
    for (std::uint64_t i = 1; i <= n; ++i)
        attendu += 7 + chiffres(i);  // "top (i)\n"
    EXPECT_EQ(indente.lignes, static_cast<std::uint64_t>(n));
    EXPECT_EQ(indente.octets, attendu);
    EXPECT_EQ(indente.derniere, "top (1000000)");
}

TEST(Stress, AChainAHundredThousandDeep)
{
    const std::int32_t n = 100000;
    FORET arbre = {};
    for (std::int32_t i = 1; i <= n; ++i)
        ajouter(arbre, i, "deep", i - 1);
    std::int32_t profondeur = 0;
    for (ELEMENT* e = arbre.racine; e; e = e->fils, ++profondeur)
        ASSERT_EQ(e->freres, nullptr);
    EXPECT_EQ(profondeur, n);
    EXPECT_EQ(recherche(arbre.racine, n, 0), 1);

    compte plat = lister(arbre.racine, 1, 7);
    EXPECT_EQ(plat.lignes, static_cast<std::uint64_t>(n));
    EXPECT_EQ(plat.octets, 13ull * n);  // "%7d deep\n"
    EXPECT_EQ(plat.derniere, " 100000 deep");

    // Two blanks a level: about 10 GB, counted as it goes by.
    compte indente = lister(arbre.racine, 2, 7);
    std::uint64_t attendu = 0;
    for (std::uint64_t i = 1; i <= n; ++i)
        attendu += 2 * (i - 1) + 8 + chiffres(i);  // "deep (i)\n"
    EXPECT_EQ(indente.lignes, static_cast<std::uint64_t>(n));
    EXPECT_EQ(indente.octets, attendu);
    EXPECT_EQ(indente.derniere, std::string(2 * (n - 1), ' ') + "deep (100000)");
}

} // namespace
