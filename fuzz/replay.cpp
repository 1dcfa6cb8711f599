// Runs the fuzz target on every file of the folders given: the seed corpus
// as an ordinary test, with no fuzzing engine.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    int fichiers = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entree : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(entree.path(), std::ios::binary);
            std::string octets((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(octets.data()),
                                   octets.size());
            ++fichiers;
        }
    }
    std::printf("%d inputs replayed\n", fichiers);
    return fichiers > 0 ? 0 : 1;
}
