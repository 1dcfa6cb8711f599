#include "liste.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

// Walks liste, its following siblings and all their subtrees in pre-order
// with an explicit stack, so that neither long sibling chains nor deep trees
// use the call stack. visite(element, depth below liste) returns true to stop
// the walk; the element it stopped at is returned, or null.
template <typename Visite>
static ELEMENT* parcourir(ELEMENT* liste, Visite visite)
{
    std::vector<ELEMENT*> pile;  // for each level above: the sibling to resume with
    ELEMENT* courant = liste;
    while (courant) {
        if (visite(courant, pile.size()))
            return courant;
        if (courant->fils) {
            pile.push_back(courant->freres);
            courant = courant->fils;
            continue;
        }
        courant = courant->freres;
        while (!courant && !pile.empty()) {
            courant = pile.back();
            pile.pop_back();
        }
    }
    return nullptr;
}

// The first element in pre-order from liste, siblings included, that carries pid.
static ELEMENT* premier(ELEMENT* liste, std::int32_t pid)
{
    return parcourir(liste, [pid](ELEMENT* e, std::size_t) { return e->infos->pid == pid; });
}

static void accrocher(ELEMENT** lien, ELEMENT* nouveau)
{
    while (*lien)
        lien = &(*lien)->freres;
    *lien = nouveau;
}

static CONTENU* nouveau_contenu(std::int32_t p, const char* n, std::int32_t pp)
{
    std::size_t taille = std::strlen(n) + 1;
    char* name = new char[taille];
    std::memcpy(name, n, taille);
    return new CONTENU{p, name, pp};
}

ELEMENT* ajouter(ELEMENT* liste, std::int32_t p, const char* n, std::int32_t pp)
{
    return ajouter(liste, nouveau_contenu(p, n, pp));
}

ELEMENT* ajouter(ELEMENT* liste, CONTENU* info)
{
    ELEMENT* nouveau = new ELEMENT{info, nullptr, nullptr};
    if (!liste)
        return nouveau;

    ELEMENT* parent = premier(liste, info->ppid);
    if (parent)
        accrocher(&parent->fils, nouveau);
    else
        accrocher(&liste->freres, nouveau);
    return liste;
}

void ajouter(FORET& foret, std::int32_t p, const char* n, std::int32_t pp)
{
    ELEMENT* nouveau = new ELEMENT{nouveau_contenu(p, n, pp), nullptr, nullptr};
    auto parent = foret.places.find(pp);
    if (!foret.racine) {
        foret.racine = nouveau;
        foret.dernier = nouveau;
    } else if (parent == foret.places.end()) {
        foret.dernier->freres = nouveau;
        foret.dernier = nouveau;
    } else if (parent->second.element) {
        PLACE& lieu = parent->second;
        if (lieu.dernier_fils)
            lieu.dernier_fils->freres = nouveau;
        else
            lieu.element->fils = nouveau;
        lieu.dernier_fils = nouveau;
    } else {
        // Several elements carry pp: the first in pre-order adopts.
        accrocher(&premier(foret.racine, pp)->fils, nouveau);
    }

    auto lieu = foret.places.try_emplace(p, PLACE{nouveau, nullptr});
    if (!lieu.second)
        lieu.first->second = PLACE{nullptr, nullptr};
}

int recherche(ELEMENT* liste, std::int32_t pid, int trouve)
{
    if (!liste)
        return trouve;
    if (liste->infos->pid == pid)
        return 1;
    if (trouve)
        return trouve;
    return premier(liste->fils, pid) != nullptr;
}

void affiche(ELEMENT* liste, int flag, int nb_digit, int nb_tab)
{
    if (flag != 1 && flag != 2)
        return;
    // A failed write ends the walk; the stream keeps the error for the caller.
    parcourir(liste, [=](ELEMENT* e, std::size_t profondeur) {
        if (flag == 1)
            return std::printf("% *d %s\n", nb_digit, e->infos->pid, e->infos->name) < 0;
        int marge = 2 * std::max(0, nb_tab + static_cast<int>(profondeur));
        return std::printf("%*s%s (%d)\n", marge, "", e->infos->name, e->infos->pid) < 0;
    });
}
