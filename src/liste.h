// Process tree: one record per process, linked first-child/next-sibling.
#ifndef TARNWICK_LISTE_H
#define TARNWICK_LISTE_H

#include <cstdint>
#include <unordered_map>

typedef struct CONTENU {
    std::int32_t pid;
    char* name;          // owned copy of the executable's base name
    std::int32_t ppid;
} contenu;

typedef struct ELEMENT {
    CONTENU* infos;
    struct ELEMENT* freres;  // next sibling
    struct ELEMENT* fils;    // first child
} element;

// Where a pid stands in a FORET: its element and that element's last child;
// no element when several elements carry the pid.
typedef struct PLACE {
    ELEMENT* element;
    ELEMENT* dernier_fils;
} place;

// A tree with an index by pid, so that an insertion need not search it.
typedef struct FORET {
    ELEMENT* racine;   // the tree; null when empty
    ELEMENT* dernier;  // its last top-level element
    std::unordered_map<std::int32_t, PLACE> places;
} foret;

// Copies n and inserts a new record for (p, n, pp); returns the tree.
ELEMENT* ajouter(ELEMENT* liste, std::int32_t p, const char* n, std::int32_t pp);

// Inserts info, which the tree then owns, as the last child of the first
// element in pre-order whose pid is info->ppid, otherwise at the end of the
// top level. Returns the tree (the new element when liste is null).
ELEMENT* ajouter(ELEMENT* liste, CONTENU* info);

// Inserts a copy of (p, n, pp) into foret.racine exactly where
// ajouter(foret.racine, p, n, pp) would, in constant time while pids are
// unique; a repeated pid falls back on the search.
void ajouter(FORET& foret, std::int32_t p, const char* n, std::int32_t pp);

// 1 if pid is the pid of liste or of one of its descendants (never of its
// siblings), 0 if not; callers pass trouve = 0. A null liste returns trouve,
// and a nonzero trouve is returned as is unless liste itself matches.
int recherche(ELEMENT* liste, std::int32_t pid, int trouve);

// Prints liste, its subtree and its following siblings in pre-order:
// flag 1 is the flat listing with the pid right-aligned in nb_digit columns,
// flag 2 the indented tree starting at depth nb_tab; other flags print nothing.
// Stops at the first failed write, leaving the error on stdout.
void affiche(ELEMENT* liste, int flag, int nb_digit, int nb_tab);

#endif
