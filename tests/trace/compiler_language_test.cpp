// The mode source language: what it accepts, its error texts with their
// positions, and the sources it must refuse because their files could never
// decode right.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/testing.h"
#include "support/toolruns.h"
#include "trace/compiler.h"
#include "trace/modefile_testing.h"

namespace {
// The compiler's error text, or "(compiled)".
std::string ErrorOf(const std::string& source) {
  const TCompileResult result = CompileModeSource(source, "test.mode");
  return result.Ok ? "(compiled)" : result.Error.Text();
}

TEST(CompilerErrors, NamesAndDeclarations) {
  EXPECT_EQ(ErrorOf("NEWMODE a = b;"), "test.mode:1:13: mode B is not declared");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\nNEWMODE a = BOOL;"), "test.mode:2:9: mode A is declared twice (first at 1:9)");
  EXPECT_EQ(ErrorOf("NEWMODE " + std::string(41, 'a') + " = INT;"),
            "test.mode:1:9: a mode name has at most 40 characters: " + std::string(41, 'A'));
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT, x BOOL);"), "test.mode:1:28: component X is declared twice (first at 1:21)");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (a, a);"), "test.mode:1:21: element A is listed twice (first at 1:18)");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (a = 3, b = 1);"), "test.mode:1:25: element values must rise: 1 is already taken");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (0:3) CONSTANTS (a = 4);"), "test.mode:1:36: constant A lies outside the range 0:3");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (0:3) CONSTANTS (a = 1);\nSYN a = 2;"), "test.mode:2:5: constant A is declared twice (first at 1:36)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (5:3);"), "test.mode:1:22: the upper bound lies below the lower bound");
  EXPECT_EQ(ErrorOf("NEWMODE r = INT;\nNEWMODE x = r (0:1);"), "test.mode:2:13: R is not a SET mode");
  EXPECT_EQ(ErrorOf("NEWMODE \"A \" = INT;"), "test.mode:1:9: a name cannot begin or end with a blank");
  EXPECT_EQ(ErrorOf("NEWMODE \"\" = INT;"), "test.mode:1:9: a name cannot be empty");
}

TEST(CompilerErrors, ModesThatContainThemselves) {
  EXPECT_EQ(ErrorOf("NEWMODE a = b;\nNEWMODE b = a;"), "test.mode:1:13: mode A is defined in terms of itself");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT, y s);"), "test.mode:1:13: mode S is defined in terms of itself");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT, y s VARPAR);"), "test.mode:1:13: mode S is defined in terms of itself");
  // Through REF a mode may point at itself: a REF has a size of its own.
  EXPECT_TRUE(CompileModeSource("NEWMODE s = STRUCT (x INT, next REF s);", "t").Ok);
}

TEST(CompilerErrors, StructuresCasesAndArrays) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (CASE t OF (1): x INT; ESAC);"), "test.mode:1:26: the structure has no component T");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (b): x INT; ESAC);"),
            "test.mode:2:37: B is not an element of C");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t INT, CASE t OF (foo): x INT; ESAC);"),
            "test.mode:1:39: a label name needs a tag of a SET mode or a RANGE with CONSTANTS");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t INT, CASE t OF (1): CASE t OF (2): y INT; ESAC; ESAC);"),
            "test.mode:1:43: a CASE cannot be nested in a variant");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t INT, CASE t OF ELSE x INT; (1): y INT; ESAC);"),
            "test.mode:1:50: expected ESAC after the ELSE variant, found '('");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT POS (0, 8));"), "test.mode:1:35: a bit offset is 0 to 7");
  EXPECT_EQ(ErrorOf("NEWMODE a = ARRAY (0:1, 0:1, 0:1, 0:1) INT;"), "test.mode:1:35: an array has at most three dimensions");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT);\nNEWMODE a = ARRAY (s) INT;"),
            "test.mode:2:20: S cannot index an array (a SET or RANGE mode can)");
  EXPECT_EQ(ErrorOf("NEWMODE a = ARRAY (0:65535, 0:65535, 0:65535) INT;"),
            "test.mode:1:13: mode A is larger than 4294967295 bits");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n INT, d ARRAY (0:3) CHAR VARLENGTH (m + 1));"),
            "test.mode:1:58: the structure has no component M");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT POS (70000, 0));"), "test.mode:1:32: a byte offset is 0 to 65535");
}

TEST(CompilerErrors, IndexesOverridesAndLexis) {
  EXPECT_EQ(ErrorOf("USERBUFFER 1 = SPECIAL 5;"), "test.mode:1:16: SPECIAL 5 (-6) is for message buffers only");
  EXPECT_EQ(ErrorOf("MESSAGE 1 = HEXDUMP;\nMESSAGE 1 = DSS1;"), "test.mode:2:1: message 1 is given twice");
  EXPECT_EQ(ErrorOf("MESSAGE 70000 = HEXDUMP;"), "test.mode:1:1: a message identity is 0 to 65535");
  EXPECT_EQ(ErrorOf("MESSAGE 1 = SPECIAL 2;"), "test.mode:1:21: SPECIAL is 3, 4 or 5 (MBIDLIST and DSS1 are 1 and 2)");
  EXPECT_EQ(ErrorOf("DSS1 CODESET 8 = x;"), "test.mode:1:14: a codeset is 0 to 7");
  EXPECT_EQ(ErrorOf("VERSION 2,1;"), "test.mode:1:1: VERSION needs a number such as 2.1 (a trailing H makes it hexadecimal)");
  EXPECT_EQ(ErrorOf("VERSION 1;\nVERSION 2;"), "test.mode:2:1: VERSION is given twice");
  EXPECT_EQ(ErrorOf("KASP MSG 1 = \"ABCDEFGHIJK\";"), "test.mode:1:1: KASP.MSG names have at most 10 characters");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT WITH (colour = 1);"), "test.mode:1:23: a header has no field colour");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT WITH (kind = 256);"), "test.mode:1:30: kind is -128 to 255");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT WITH (lower = 1));"), "test.mode:1:33: a component has no field lower");
  EXPECT_EQ(ErrorOf("NEWMODE = INT;"), "test.mode:1:9: expected a mode name, found '='");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT"), "test.mode:1:16: expected ';', found the end of the source");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(12x);"), "test.mode:1:17: '12x' is not a number");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(1A);"), "test.mode:1:17: '1A' is not a number (hexadecimal needs a trailing H)");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(0);"), "test.mode:1:17: a size is 1 or more bits");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\n  /* never closed"), "test.mode:2:3: comment is not closed");
  EXPECT_EQ(ErrorOf("KASP MSG 1 = \"abc"), "test.mode:1:14: string is not closed");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT; @"), "test.mode:1:18: unexpected character '@'");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\n\x01"), "test.mode:2:1: unexpected character '\\x01'");
  EXPECT_EQ(ErrorOf("NEWMODE a = SET (x);\nNEWMODE a2 = INT;\nFOO"),
            "test.mode:3:1: expected a statement (VERSION, NEWMODE, SYN, MESSAGE, USERBUFFER, MBID, DSS1 or KASP), found 'FOO'");
  EXPECT_EQ(ErrorOf("NEWMODE a = " + std::string(100000, 'x') + ";"),
            "test.mode:1:13: a word or string has at most 255 characters");
  EXPECT_EQ(ErrorOf("KASP MSG 1 = \"" + std::string(256, 'y') + "\";"),
            "test.mode:1:14: a word or string has at most 255 characters");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(" + std::string(300, '7') + ");"),
            "test.mode:1:17: a word or string has at most 255 characters");
  std::string deep = "NEWMODE a = ";
  for (int i = 0; i < 200; ++i) deep += "ARRAY (0:1) ";
  EXPECT_EQ(ErrorOf(deep + "INT;"), "test.mode:1:1213: modes are nested too deeply");
}

TEST(CompilerLanguage, NumbersCommentsAndQuotedNames) {
  const TCompileResult r = CompileModeSource(R"(
    -- line comment
    /* block
       comment */
    NEWMODE "lower case" = RANGE (H'1F' : 0FFH) CONSTANTS (b = B'101', d = D'200', e = 1_0);
  )", "t");
  // 1_0 is not a number: the underscore belongs only in the CHILL forms.
  EXPECT_FALSE(r.Ok);
  const TCompileResult ok = CompileModeSource(R"(
    NEWMODE "lower case" = RANGE (D'2' : 0FFH) CONSTANTS (b = B'1_01', d = D'200', e = H'1F');
    SYN max_len counter = 4076;
    SYN lone = -1;
  )", "t");
  ASSERT_TRUE(ok.Ok) << ok.Error.Text();
  const std::string& mod = ok.Image.Files.at(".mod");
  EXPECT_EQ(mod.substr(10 * 109 + 6, 11), "\x0Alower case");
  EXPECT_EQ(U16At(mod, 10 * 109 + 55), 2u);
  EXPECT_EQ(U16At(mod, 10 * 109 + 57), 0xFFu);
  EXPECT_EQ(ok.Image.Files.at(".syn"), SynBytes("B", "lower case", 5, 1) + SynBytes("D", "lower case", 200, 2) +
                                           SynBytes("E", "lower case", 0x1F, -1) + SynBytes("MAX_LEN", "COUNTER", 4076, -1) +
                                           SynBytes("LONE", "", 0xFFFF, -1));
}

// The version is written as given, a quoted one too, and a set below
// version 1 is written (tests need one) though it does not open.
TEST(CompilerLanguage, AnyVersionTheReaderTakesIsWritten) {
  for (const auto& [text, version] : {std::pair<const char*, int>{"VERSION 0.9;", 0}, {"VERSION \"12.4b\";", 12}}) {
    const TCompileResult r = CompileModeSource(text, "t");
    ASSERT_TRUE(r.Ok) << text << ": " << r.Error.Text();
    EXPECT_EQ(FindVersion(r.Image.Files.at(".ver")), version) << text;
  }
}

TEST(CompilerLanguage, LabelsByConstantNameAndSeveralLabels) {
  const TCompileResult r = CompileModeSource(R"(
    NEWMODE kind = RANGE (0:9) CONSTANTS (one = 1, two = 2, nine = 9);
    NEWMODE s = STRUCT (
      k kind,
      CASE k OF
        (one, nine): x INT
        (two): y CHAR;
        ELSE z BOOL
      ESAC);
  )", "t");
  ASSERT_TRUE(r.Ok) << r.Error.Text();
  const std::string& mod = r.Image.Files.at(".mod");
  // k 12, x (one) 13, x (nine) 14, y 15, z 16.
  // The labels, and the ELSE flag of z.
  EXPECT_EQ((std::vector{U16At(mod, 13 * 109 + 105), U16At(mod, 14 * 109 + 105), U16At(mod, 15 * 109 + 105),
                         U16At(mod, 16 * 109 + 107)}),
            (std::vector<std::uint32_t>{1, 9, 2, 1}));
  for (int rec = 13; rec <= 16; ++rec) EXPECT_EQ(U32At(mod, rec * 109 + 101), 12u);
  // The variants overlap: all start at byte 1; the structure ends after the longest (x, 2 bytes).
  for (int rec = 13; rec <= 16; ++rec) EXPECT_EQ(U16At(mod, rec * 109 + 51), 1u);
  EXPECT_EQ(U32At(mod, 11 * 109 + 2), 24u);
}

TEST(CompilerLanguage, PositionsCanBeGiven) {
  const TCompileResult r = CompileModeSource(R"(
    NEWMODE s = STRUCT (a INT POS (4, 0), b BIT(3) POS (1, 5), c CHAR);
  )", "t");
  ASSERT_TRUE(r.Ok) << r.Error.Text();
  const std::string& mod = r.Image.Files.at(".mod");
  // a at byte 4, b at byte 1 bit 5, c after b on the next byte.
  EXPECT_EQ((std::vector<std::uint32_t>{U16At(mod, 11 * 109 + 51), U16At(mod, 12 * 109 + 51),
                                        static_cast<std::uint8_t>(mod[12 * 109 + 53]), U16At(mod, 13 * 109 + 51)}),
            (std::vector<std::uint32_t>{4, 1, 5, 2}));
  EXPECT_EQ(U32At(mod, 10 * 109 + 2), 48u);  // a ends at byte 6
}
}  // namespace

TEST(CompilerChecks, ALabelTheTagCannotHoldIsRefused) {
  // A SET of two elements holds 0 and 1.
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (5): x INT; ESAC);"),
            "test.mode:2:37: label 5 lies outside the tag's values 0:1");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (2:5), CASE t OF (2, 3): x INT; (6): z INT; ESAC);"),
            "test.mode:1:62: label 6 lies outside the tag's values 2:5");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (2:5), CASE t OF (1): x INT; ESAC);"),
            "test.mode:1:47: label 1 lies outside the tag's values 2:5");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(3), CASE t OF (8): x INT; ESAC);"),
            "test.mode:1:42: label 8 lies outside the tag's values 0:7");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BOOL, CASE t OF (2): x INT; ESAC);"),
            "test.mode:1:40: label 2 lies outside the tag's values 0:1");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (-3:3), CASE t OF (4): x INT; ESAC);"),
            "test.mode:1:48: label 4 lies outside the tag's values -3:3");
  // The edges themselves, a negative label of a signed range, and an INT
  // tag (any label) are sound.
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(3), CASE t OF (0): a INT; (7): b INT; ESAC);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (-3:3), CASE t OF (-3): a INT; (3): b INT; ESAC);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t INT, CASE t OF (65535): a INT; ESAC);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (g): x INT; (0): y INT; ESAC);"),
            "(compiled)");
}

TEST(CompilerChecks, TheSameLabelTwiceInOneCaseIsRefused) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BOOL, CASE t OF (0): x INT; (1): y INT; (0): z INT; ESAC);"),
            "test.mode:1:64: label 0 is given twice in this CASE (first at 1:40)");
  // By name and by number: the same value.
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (g): x INT; (1): y INT; ESAC);"),
            "test.mode:2:49: label 1 is given twice in this CASE (first at 2:37)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1, 1): x INT; ESAC);"),
            "test.mode:1:45: label 1 is given twice in this CASE (first at 1:42)");
  // A variant of several components repeats its own label in each: no fault.
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1, 2): x INT, y INT, z CHAR; ESAC);"), "(compiled)");
  // Two CASEs on one tag are two sets of labels.
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1): x INT; ESAC, CASE t OF (1): y INT; ESAC);"),
            "(compiled)");
}

TEST(CompilerChecks, ATagIsOneValue) {
  EXPECT_EQ(ErrorOf("NEWMODE p = STRUCT (a INT);\nNEWMODE s = STRUCT (t p, CASE t OF (0): x INT; ESAC);"),
            "test.mode:2:31: the CASE tag T is a STRUCT; a tag is a single value (BOOL, INT, CHAR, BIT, BIN, a SET or a "
            "RANGE)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t ARRAY (0:1) CHAR, CASE t OF (0): x INT; ESAC);"),
            "test.mode:1:46: the CASE tag T is an ARRAY; a tag is a single value (BOOL, INT, CHAR, BIT, BIN, a SET or a "
            "RANGE)");
}

TEST(CompilerChecks, VarlengthOnlyWhereALengthCanApply) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n INT, d INT VARLENGTH (n));"),
            "test.mode:1:45: VARLENGTH applies to an ARRAY or a STRUCT mode, not to D");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (a, b);\nNEWMODE s = STRUCT (n INT, d c VARLENGTH (n));"),
            "test.mode:2:43: VARLENGTH applies to an ARRAY or a STRUCT mode, not to D");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n ARRAY (0:1) CHAR, d ARRAY (0:3) CHAR VARLENGTH (n));"),
            "test.mode:1:71: the length N is a STRUCT or an ARRAY; it must hold a number");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (d ARRAY (0:3) CHAR VARLENGTH (d));"),
            "test.mode:1:51: a component cannot hold its own length");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n BIT(4), d ARRAY (0:3) CHAR VARLENGTH (n - 1));"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE p = STRUCT (a INT);\nNEWMODE s = STRUCT (n CHAR, d p VARLENGTH (n));"), "(compiled)");
}

TEST(CompilerChecks, WidthsTheFilesCannotHold) {
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(100000);"), "test.mode:1:17: a size is at most 32768 bits (a message holds 4096 bytes)");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIN(32769);"), "test.mode:1:17: a size is at most 32768 bits (a message holds 4096 bytes)");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(32768);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (-5:40000);"),
            "test.mode:1:23: a RANGE that goes below 0 reaches at most 32767 (bounds are 16 bits)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (-5:32767);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (0:65535);"), "(compiled)");
}

TEST(CompilerChecks, AnEmptySourceMakesNoFiles) {
  EXPECT_EQ(ErrorOf(""), "test.mode:1:1: the source declares nothing (an empty source makes no mode files)");
  EXPECT_EQ(ErrorOf("  /* only a comment */\n\n"),
            "test.mode:1:1: the source declares nothing (an empty source makes no mode files)");
}

TEST(CompilerMessages, MisspeltKeywordsAreNamed) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRCUT (a INT);"), "test.mode:1:13: STRCUT is not a keyword: did you mean STRUCT?");
  EXPECT_EQ(ErrorOf("NEWMDOE a = INT;"), "test.mode:1:1: NEWMDOE is not a keyword: did you mean NEWMODE?");
  EXPECT_EQ(ErrorOf("NEWMODE a = BOLL;"), "test.mode:1:13: mode BOLL is not declared (a misspelt BOOL?)");
  EXPECT_EQ(ErrorOf("NEWMODE a = ARRY (0:3) INT;"), "test.mode:1:13: ARRY is not a keyword: did you mean ARRAY?");
  // A subrange of a set whose name is near a keyword stays a subrange.
  EXPECT_EQ(ErrorOf("NEWMODE sets = SET (a, b, c);\nNEWMODE x = sets (0:1);"), "(compiled)");
  // A word far from every keyword is only undeclared.
  EXPECT_EQ(ErrorOf("NEWMODE a = widget;"), "test.mode:1:13: mode WIDGET is not declared");
}

TEST(CompilerMessages, AMissingSemicolonIsAtTheEndOfItsLine) {
  EXPECT_EQ(ErrorOf("NEWMODE a = INT\nNEWMODE b = INT;"), "test.mode:1:16: missing ';' at the end of the line");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\nNEWMODE b = STRUCT (x INT)   \n\n  NEWMODE c = INT;"),
            "test.mode:2:27: missing ';' at the end of the line");
  // On the same line the word found instead is named.
  EXPECT_EQ(ErrorOf("NEWMODE a = INT NEWMODE b = INT;"), "test.mode:1:16: expected ';', found 'NEWMODE'");
}

TEST(CompilerMessages, AReservedWordAsANameSaysQuotingWorks) {
  EXPECT_EQ(ErrorOf("NEWMODE set = INT;"),
            "test.mode:1:9: SET is a reserved word; write it in double quotes (\"set\") to use it as a mode name");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (of INT);"),
            "test.mode:1:21: OF is a reserved word; write it in double quotes (\"of\") to use it as a component name");
  EXPECT_EQ(ErrorOf("NEWMODE \"SET\" = INT;"), "(compiled)");
}

TEST(CompilerOutput, ABaseThatIsADirectoryWritesNothing) {
  TTempDir dir;
  const TCompileResult result = CompileModeSource("NEWMODE a = INT;", "test.mode");
  ASSERT_TRUE(result.Ok);
  std::filesystem::create_directory(dir.file("modes"));
  std::string error;
  EXPECT_FALSE(WriteModeFileImage(result.Image, dir.file("modes") + "/", "", &error));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("modes")));
  // The tool says which name it wants instead.
  EXPECT_EQ(Ending(RunQel(dir, "compile - -o " + dir.file("modes"), "NEWMODE a = INT;")),
            "exit 1: " + dir.file("modes") + ": is a directory; give the base name of the files, such as " +
                dir.file("modes") + "/line\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("modes")));
  EXPECT_EQ(RunQel(dir, "compile - -o " + dir.file("modes/line"), "NEWMODE a = INT;").Status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("modes/line.mod")));
}
