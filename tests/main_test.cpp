#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

void parse_pathname(const char* path, char* nameexe);
int nb_digit(std::int32_t pid);
void masquer_debut(char* nameexe);

namespace {

TEST(ParsePathname, KeepsTheLastBackslashComponent)
{
    struct cas {
        const char* path;
        const char* nom;
    };
    const cas table[] = {
        {"C:\\WINDOWS\\system32\\svchost.exe", "svchost.exe"},
        {"notepad.exe", "notepad.exe"},
        {"C:\\tools\\", "tools"},
        {"\\\\server\\\\share\\\\\\x.exe", "x.exe"},
        {"\\lead", "lead"},
        {"/usr/local/bin/tarnwick", "/usr/local/bin/tarnwick"},
        {"C:\\a b\\my prog.exe", "my prog.exe"},
        {"dir\\sub/name", "sub/name"},
        {"", ""},
        {"\\\\\\", ""},
    };
    for (const cas& c : table) {
        std::string avant = c.path;
        std::vector<char> nameexe(avant.size() + 1, '#');
        parse_pathname(c.path, nameexe.data());
        EXPECT_STREQ(nameexe.data(), c.nom) << c.path;
        EXPECT_EQ(avant, c.path);
    }
}

TEST(MasquerDebut, LeadingBlanksAndAnEmptyNameCantShiftATreeLine)
{
    struct cas {
        const char* nom;
        const char* montre;
    };
    const cas table[] = {
        {"sshd", "sshd"}, {" sshd", "?sshd"}, {"   x y ", "???x y "},
        {"my prog.exe", "my prog.exe"}, {"", "?"}, {" ", "?"},
    };
    for (const cas& c : table) {
        std::vector<char> nameexe(std::strlen(c.nom) + 2, '#');
        std::memcpy(nameexe.data(), c.nom, std::strlen(c.nom) + 1);
        masquer_debut(nameexe.data());
        EXPECT_STREQ(nameexe.data(), c.montre) << "[" << c.nom << "]";
    }
}

TEST(NbDigit, CountsDigitsAndTheMinusSign)
{
    struct cas {
        std::int32_t pid;
        int taille;
    };
    const cas table[] = {
        {0, 1}, {7, 1}, {9, 1}, {10, 2}, {99, 2}, {120, 3}, {999, 3}, {1000, 4},
        {4194304, 7}, {INT32_MAX, 10}, {-1, 2}, {-5, 2}, {-10, 3}, {-999, 4},
        {INT32_MIN + 1, 11}, {INT32_MIN, 11},
    };
    for (const cas& c : table)
        EXPECT_EQ(nb_digit(c.pid), c.taille) << c.pid;
}

} // namespace
