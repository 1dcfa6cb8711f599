// Building and listing process trees of 1,000 to 1,000,000 processes, and
// taking the snapshot of this machine's /proc with 1 to 4 threads.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "liste.h"
#include "toolhelp.h"

namespace {

struct processus {
    std::int32_t pid;
    std::int32_t ppid;
    const char* name;
};

// A snapshot's shape: pids in start order, each the child of a random
// earlier process, one in fifty an orphan.
std::vector<processus> snapshot(int n)
{
    static const char* const noms[] = {"systemd", "kworker/0:1-events", "bash", "sshd",
                                       "postgres", "gnome-shell-calendar-server", "sleep", "nginx"};
    std::mt19937 hasard(42);
    std::vector<processus> liste;
    liste.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        std::int32_t ppid = 0;
        if (i > 0 && hasard() % 50 != 0)
            ppid = liste[hasard() % static_cast<unsigned>(i)].pid;
        liste.push_back({i + 1, ppid, noms[hasard() % 8]});
    }
    return liste;
}

// The tree module never frees; the benchmark does, to run many rounds.
void liberer(ELEMENT* arbre)
{
    std::vector<ELEMENT*> pile{arbre};
    while (!pile.empty()) {
        ELEMENT* e = pile.back();
        pile.pop_back();
        if (!e)
            continue;
        pile.push_back(e->freres);
        pile.push_back(e->fils);
        delete[] e->infos->name;
        delete e->infos;
        delete e;
    }
}

void BM_ajouter_indexe(benchmark::State& state)
{
    std::vector<processus> liste = snapshot(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        FORET arbre = {};
        for (const processus& p : liste)
            ajouter(arbre, p.pid, p.name, p.ppid);
        benchmark::DoNotOptimize(arbre.racine);
        state.PauseTiming();
        liberer(arbre.racine);
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}

void BM_ajouter_recherche(benchmark::State& state)
{
    std::vector<processus> liste = snapshot(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ELEMENT* arbre = nullptr;
        for (const processus& p : liste)
            arbre = ajouter(arbre, p.pid, p.name, p.ppid);
        benchmark::DoNotOptimize(arbre);
        state.PauseTiming();
        liberer(arbre);
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}

// Lists into /dev/null through the real stdout, as the tool does.
void lister(benchmark::State& state, int flag)
{
    std::vector<processus> liste = snapshot(static_cast<int>(state.range(0)));
    FORET arbre = {};
    for (const processus& p : liste)
        ajouter(arbre, p.pid, p.name, p.ppid);

    std::fflush(stdout);
    int sortie = dup(1);
    int nul = open("/dev/null", O_WRONLY);
    dup2(nul, 1);
    for (auto _ : state) {
        affiche(arbre.racine, flag, 9, 0);
        std::fflush(stdout);
    }
    dup2(sortie, 1);
    close(nul);
    close(sortie);
    liberer(arbre.racine);
    state.SetComplexityN(state.range(0));
}

void BM_affiche_plat(benchmark::State& state) { lister(state, 1); }
void BM_affiche_arbre(benchmark::State& state) { lister(state, 2); }

// The whole snapshot of the processes running now, as the tool takes it,
// with as many threads as the argument says (0: as many as the tool would).
void BM_snapshot(benchmark::State& state)
{
    unsigned fils = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        HANDLE h = snapshot_processes("/proc", fils);
        benchmark::DoNotOptimize(h);
        CloseHandle(h);
    }
}

void tailles(benchmark::internal::Benchmark* b)
{
    for (int n : {1000, 10000, 100000, 1000000})
        b->Arg(n);
    b->Complexity()->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_ajouter_indexe)->Apply(tailles);
BENCHMARK(BM_affiche_plat)->Apply(tailles);
BENCHMARK(BM_affiche_arbre)->Apply(tailles);
BENCHMARK(BM_ajouter_recherche)
    ->Arg(1000)->Arg(2000)->Arg(5000)->Arg(10000)
    ->Complexity()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_snapshot)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
