// The rule of names: what a user and a space may be called, checked by the
// daemon and the tool with one module, and by the server's hook with the
// same written rule, which must agree with it on every case.
#include "names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace korvane::names {
namespace {

struct Case {
  const char* name;
  bool allowed;
};

constexpr Case kUsers[] = {
    {"ann", true}, {"Bob_2", true}, {"c.d-e", true}, {"_x", true},
    {"", false}, {".ann", false}, {"-ann", false}, {"an n", false}, {"@nobody", false}, {"*", false},
    {"$authenticated", false}, {"[team:/plans] x", false}, {"a=b", false}, {"a&b", false}, {"~ann", false},
    {"a:b", false}, {"ann\n", false}, {"ann\t", false}, {"jürgen", false},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", true},    // 64
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},  // 65
};

constexpr Case kSpaces[] = {
    {"plans", true}, {"Year plan (2025)", true}, {"Überblick", true}, {"計画", true}, {"Tom & Jerry", true},
    {"a.b-c_d", true}, {"C# notes", true}, {"version 2.0 final", true}, {".config", true},
    {"", false}, {".", false}, {"..", false}, {"plans]", false}, {"[plans", false}, {"a/b", false},
    {"a\\b", false}, {"a:b", false}, {"a*b", false}, {"a?b", false}, {"a\"b", false}, {"a<b", false},
    {"a>b", false}, {"a|b", false}, {"a\nb", false}, {"a\tb", false}, {"a\x7f", false}, {" plans", false},
    {"plans ", false}, {"plans.", false}, {"#plans", false}, {"CON", false}, {"nul", false}, {"com1", false},
    {"LPT9.txt", false}, {"aux .x", false}, {"COM0", true}, {"CONSOLE", true},
    {"U\xcc\x88" "berblick", false},     // NFD: not the normal form
    {"a\xe2\x80\xa8" "b", false},        // line separator
    {"a\xe2\x80\x8b" "b", false},        // zero-width space
    {"a\xc2\xa0" "b", false},            // no-break space: one kind of blank only
    {"\xff\xfe", false},                 // not UTF-8
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", true},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
};

// Users are conservative ASCII; spaces are folder names every platform
// accepts.
TEST(Names, UsersAndSpacesFollowTheRule) {
  for (const Case& each : kUsers) EXPECT_EQ(!UserNameProblem(each.name), each.allowed) << each.name;
  for (const Case& each : kSpaces) EXPECT_EQ(!SpaceNameProblem(each.name), each.allowed) << each.name;
}

TEST(Names, SpacesAreNormalisedAndUniqueRegardlessOfCase) {
  EXPECT_EQ(Normalised("U\xcc\x88" "berblick"), "\xc3\x9c" "berblick");
  EXPECT_FALSE(SpaceNameProblem(*Normalised("U\xcc\x88" "berblick")));
  EXPECT_EQ(Normalised("\xff"), std::nullopt);
  EXPECT_EQ(Folded("Plans"), Folded("PLANS"));
  EXPECT_EQ(Folded("\xc3\x9c" "BERBLICK"), Folded("U\xcc\x88" "berblick"));
  EXPECT_EQ(Folded("Stra\xc3\x9f" "e"), Folded("STRASSE"));
  EXPECT_NE(Folded("plans"), Folded("plans 2"));
}

// Whether the hook, from its own code, gives the table's verdicts on its
// names in one run: they go to it in a file, each ending in a NUL, and it
// prints one "1" (allowed) or "0" a name.
template <std::size_t N>
void ExpectTheHookAgrees(const char* kind, const Case (&table)[N]) {
  const std::string names = ::testing::TempDir() + "/names";
  std::string expected;
  std::ofstream written(names, std::ios::binary);
  for (const Case& each : table) {
    written << each.name << '\0';
    expected += each.allowed ? '1' : '0';
  }
  written.close();
  const std::string command = std::string("python3 -c \"import importlib.machinery as m, sys; ") +
                              "h = m.SourceFileLoader('hook', '" + KORVANE_SOURCE_DIR + "/scripts/korvane-hook')" +
                              ".load_module(); print(''.join('0' if h." + kind +
                              "_problem(x.decode('utf-8', 'surrogateescape')) else '1' " +
                              "for x in open(sys.argv[1], 'rb').read().split(b'\\0')[:-1]))\" '" + names + "'";
  std::string verdicts;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (int c; (c = fgetc(pipe)) != EOF;) {
    if (c == '0' || c == '1') verdicts += static_cast<char>(c);
  }
  pclose(pipe);
  EXPECT_EQ(verdicts, expected) << kind;
}

TEST(Names, TheServersHookFollowsTheSameRule) {
#ifdef _WIN32
  GTEST_SKIP() << "the hook runs on the team server, a Linux machine with Python";
#endif
  ExpectTheHookAgrees("user", kUsers);
  ExpectTheHookAgrees("space", kSpaces);
}

}  // namespace
}  // namespace korvane::names
