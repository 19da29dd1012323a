// The command line: tokens, the installer's own path and the source folder.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "run.h"
#include "sim.h"

namespace {

const char* const kProgram = "\"C:\\SETUP\\DRVSETUP.EXE\"";

std::string Arg(const std::string& arguments, int n) {
  return CommandLineToken((std::string(kProgram) + " " + arguments).c_str(), n);
}

TEST(CommandLineToken, SplitsAtBlanksAndControlBytes) {
  const std::string line = std::string(kProgram) + "  C:\\App\tdoc\x01x\x1f y";
  EXPECT_EQ(CommandLineToken(line.c_str(), 0), "C:\\SETUP\\DRVSETUP.EXE");
  EXPECT_EQ(CommandLineToken(line.c_str(), 1), "C:\\App");
  EXPECT_EQ(CommandLineToken(line.c_str(), 2), "doc");
  EXPECT_EQ(CommandLineToken(line.c_str(), 3), "x");
  EXPECT_EQ(CommandLineToken(line.c_str(), 4), "y");
  EXPECT_EQ(CommandLineToken(line.c_str(), 5), "");
  EXPECT_EQ(CommandLineToken(line.c_str(), 1000), "");
}

TEST(CommandLineToken, UnquotedSpacesSeparateArguments) {
  EXPECT_EQ(Arg("C:\\My App doc", 1), "C:\\My");
  EXPECT_EQ(Arg("C:\\My App doc", 2), "App");
  EXPECT_EQ(Arg("\"C:\\My App\" doc", 1), "C:\\My App");
  EXPECT_EQ(Arg("\"C:\\My App\" doc", 2), "doc");
}

TEST(CommandLineToken, BackslashIsNoEscape) {
  // The closing quote after a trailing backslash still ends the stretch.
  EXPECT_EQ(Arg("\"C:\\My App\\\" doc", 1), "C:\\My App\\");
  EXPECT_EQ(Arg("\"C:\\My App\\\" doc", 2), "doc");
  EXPECT_EQ(Arg("a\\\"b c\" d", 1), "a\\b c");
  EXPECT_EQ(Arg("a\\\"b c\" d", 2), "d");
  EXPECT_EQ(Arg("\\\\server\\share", 1), "\\\\server\\share");
}

TEST(CommandLineToken, QuotesInsideATokenAreDroppedAndTheTokenGoesOn) {
  EXPECT_EQ(Arg("C:\\\"My App\"\\Sub doc", 1), "C:\\My App\\Sub");
  EXPECT_EQ(Arg("C:\\\"My App\"\\Sub doc", 2), "doc");
  EXPECT_EQ(Arg("a\"\"b", 1), "ab");
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(Arg("\"C:\\My App doc", 1), "C:\\My App doc");
  EXPECT_EQ(Arg("\"C:\\My App doc", 2), "");
}

TEST(CommandLineToken, EmptyQuotedPairsAreSkipped) {
  EXPECT_EQ(Arg("\"\" C:\\App doc", 1), "C:\\App");
  EXPECT_EQ(Arg("\"\" C:\\App doc", 2), "doc");
  EXPECT_EQ(Arg("C:\\App \"\"  \"\" doc", 2), "doc");
  EXPECT_EQ(Arg("\"\"\"\" C:\\App", 1), "C:\\App");
  EXPECT_EQ(Arg("\"\"C:\\App", 1), "C:\\App");
  EXPECT_EQ(Arg("\"\"", 1), "");
}

TEST(CommandLineToken, AnEmptyTokenEndsTheWalk) {
  // A lone quote at the end makes an empty token: nothing after it counts.
  EXPECT_EQ(Arg("C:\\App \"", 2), "");
  EXPECT_EQ(Arg("C:\\App \"", 3), "");
  EXPECT_EQ(Arg("", 1), "");
  EXPECT_EQ(Arg("   \t ", 1), "");
  EXPECT_EQ(CommandLineToken("", 0), "");
  EXPECT_EQ(CommandLineToken(nullptr, 1), "");
  EXPECT_EQ(CommandLineToken("a b", -1), "");
}

TEST(CommandLineToken, HighBytesAreTokenBytes) {
  EXPECT_EQ(Arg("C:\\\xe4pp\xff\x80 \x81\x40"
                "doc",
                1),
            "C:\\\xe4pp\xff\x80");
  EXPECT_EQ(Arg("C:\\\xe4pp\xff\x80 \x81\x40"
                "doc",
                2),
            "\x81\x40"
            "doc");
  EXPECT_EQ(Arg("\xa0", 1), "\xa0");
}

TEST(CommandLineToken, TokensLongerThan256CharactersAreAbsent) {
  const std::string longest(256, 'A');
  const std::string tooLong(257, 'B');
  EXPECT_EQ(Arg(longest + " doc", 1), longest);
  EXPECT_EQ(Arg(tooLong + " doc", 1), "");
  // The long token still takes its number: the next argument keeps its own.
  EXPECT_EQ(Arg(tooLong + " doc", 2), "doc");
  // Quotes are not counted; the characters inside them are.
  EXPECT_EQ(Arg("\"" + longest + "\"", 1), longest);
  EXPECT_EQ(Arg("\"" + std::string(250, 'C') + " " + std::string(10, 'D') + "\" doc", 1), "");
  // A long program path does not disturb the arguments.
  const std::string line = "\"C:\\" + std::string(400, 'P') + "\\DRVSETUP.EXE\" C:\\App doc";
  EXPECT_EQ(CommandLineToken(line.c_str(), 0), "");
  EXPECT_EQ(CommandLineToken(line.c_str(), 1), "C:\\App");
  EXPECT_EQ(CommandLineToken(line.c_str(), 2), "doc");
}

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { ResetMachine(sim::Windows::WinXP); }
};

TEST_F(CommandLine, ArgumentsComeFromTheCommandLine) {
  sim::SetCommandLine("drvsetup \"C:\\Program Files\\Orvo\" manual");
  EXPECT_EQ(GetCommandLineArgument(1), "C:\\Program Files\\Orvo");
  EXPECT_EQ(GetCommandLineArgument(2), "manual");
  EXPECT_EQ(GetCommandLineArgument(3), "");
}

TEST_F(CommandLine, ArgumentZeroIsTheModulePathReadWhole) {
  // Token 0 as typed is not used for the installer's own path.
  sim::SetCommandLine("drvsetup C:\\App");
  EXPECT_EQ(GetCommandLineArgument(0), "C:\\SETUP\\DRVSETUP.EXE");

  for (size_t length : {259u, 260u, 261u, 262u, 600u}) {
    const std::string folder = "C:\\" + std::string(length - 16, 'L') + "\\";
    const std::string path = folder + "DRVSETUP.EXE";
    ASSERT_EQ(path.size(), length);
    sim::SetModulePath(path);
    EXPECT_EQ(GetCommandLineArgument(0), path) << length;
    EXPECT_EQ(SourceFolderOf(GetCommandLineArgument(0)), folder) << length;
  }
}

TEST_F(CommandLine, SourceFolderIsCutAfterTheLastBackslashOrColon) {
  EXPECT_EQ(SourceFolderOf("C:\\SETUP\\DRVSETUP.EXE"), "C:\\SETUP\\");
  EXPECT_EQ(SourceFolderOf("\\\\server\\share\\DRVSETUP.EXE"), "\\\\server\\share\\");
  EXPECT_EQ(SourceFolderOf("C:DRVSETUP.EXE"), "C:");
  EXPECT_EQ(SourceFolderOf("DRVSETUP.EXE"), "");
  EXPECT_EQ(SourceFolderOf(""), "");
}

TEST_F(CommandLine, SourceFolderRespectsDoubleByteCharacters) {
  // 0x95 0x5C is one double-byte character whose second byte looks like a
  // backslash; likewise 0x95 0x3A with a colon.
  const std::string path = "C:\\DIR\\\x95\\SUB\x95:X.EXE";
  EXPECT_EQ(SourceFolderOf(path), "C:\\DIR\\\x95\\SUB\x95:");
  sim::SetDbcs(true,
               "\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f\x90\x91\x92"
               "\x93\x94\x95\x96\x97\x98\x99\x9a\x9b\x9c\x9d\x9e\x9f");
  EXPECT_EQ(SourceFolderOf(path), "C:\\DIR\\");
  // A lead byte followed by an ordinary backslash pair.
  EXPECT_EQ(SourceFolderOf("C:\\\x95\x40\\X.EXE"), "C:\\\x95\x40\\");
  // A lead byte as the very last byte.
  EXPECT_EQ(SourceFolderOf("C:\\A\\\x95"), "C:\\A\\");
}

}  // namespace
