// Sources the compiler must refuse because the files they would make could
// never decode right, and the messages that lead a writer to the fault.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/testing.h"
#include "trace/compiler.h"

namespace {
std::string ErrorOf(const std::string& source) {
  const TCompileResult result = CompileModeSource(source, "t.mode");
  return result.Ok ? "(compiled)" : result.Error.Text();
}
}  // namespace

TEST(CompilerChecks, ALabelTheTagCannotHoldIsRefused) {
  // A SET of two elements holds 0 and 1.
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (5): x INT; ESAC);"),
            "t.mode:2:37: label 5 lies outside the tag's values 0:1");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (2:5), CASE t OF (2, 3): x INT; (6): z INT; ESAC);"),
            "t.mode:1:62: label 6 lies outside the tag's values 2:5");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (2:5), CASE t OF (1): x INT; ESAC);"),
            "t.mode:1:47: label 1 lies outside the tag's values 2:5");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(3), CASE t OF (8): x INT; ESAC);"),
            "t.mode:1:42: label 8 lies outside the tag's values 0:7");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BOOL, CASE t OF (2): x INT; ESAC);"),
            "t.mode:1:40: label 2 lies outside the tag's values 0:1");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t RANGE (-3:3), CASE t OF (4): x INT; ESAC);"),
            "t.mode:1:48: label 4 lies outside the tag's values -3:3");
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
            "t.mode:1:64: label 0 is given twice in this CASE (first at 1:40)");
  // By name and by number: the same value.
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (r, g);\nNEWMODE s = STRUCT (t c, CASE t OF (g): x INT; (1): y INT; ESAC);"),
            "t.mode:2:49: label 1 is given twice in this CASE (first at 2:37)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1, 1): x INT; ESAC);"),
            "t.mode:1:45: label 1 is given twice in this CASE (first at 1:42)");
  // A variant of several components repeats its own label in each: no fault.
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1, 2): x INT, y INT, z CHAR; ESAC);"), "(compiled)");
  // Two CASEs on one tag are two sets of labels.
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t BIT(2), CASE t OF (1): x INT; ESAC, CASE t OF (1): y INT; ESAC);"),
            "(compiled)");
}

TEST(CompilerChecks, ATagIsOneValue) {
  EXPECT_EQ(ErrorOf("NEWMODE p = STRUCT (a INT);\nNEWMODE s = STRUCT (t p, CASE t OF (0): x INT; ESAC);"),
            "t.mode:2:31: the CASE tag T is a STRUCT; a tag is a single value (BOOL, INT, CHAR, BIT, BIN, a SET or a "
            "RANGE)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (t ARRAY (0:1) CHAR, CASE t OF (0): x INT; ESAC);"),
            "t.mode:1:46: the CASE tag T is an ARRAY; a tag is a single value (BOOL, INT, CHAR, BIT, BIN, a SET or a "
            "RANGE)");
}

TEST(CompilerChecks, VarlengthOnlyWhereALengthCanApply) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n INT, d INT VARLENGTH (n));"),
            "t.mode:1:45: VARLENGTH applies to an ARRAY or a STRUCT mode, not to D");
  EXPECT_EQ(ErrorOf("NEWMODE c = SET (a, b);\nNEWMODE s = STRUCT (n INT, d c VARLENGTH (n));"),
            "t.mode:2:43: VARLENGTH applies to an ARRAY or a STRUCT mode, not to D");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n ARRAY (0:1) CHAR, d ARRAY (0:3) CHAR VARLENGTH (n));"),
            "t.mode:1:71: the length N is a STRUCT or an ARRAY; it must hold a number");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (d ARRAY (0:3) CHAR VARLENGTH (d));"),
            "t.mode:1:51: a component cannot hold its own length");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (n BIT(4), d ARRAY (0:3) CHAR VARLENGTH (n - 1));"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE p = STRUCT (a INT);\nNEWMODE s = STRUCT (n CHAR, d p VARLENGTH (n));"), "(compiled)");
}

TEST(CompilerChecks, WidthsTheFilesCannotHold) {
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(100000);"), "t.mode:1:17: a size is at most 32768 bits (a message holds 4096 bytes)");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIN(32769);"), "t.mode:1:17: a size is at most 32768 bits (a message holds 4096 bytes)");
  EXPECT_EQ(ErrorOf("NEWMODE a = BIT(32768);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (-5:40000);"),
            "t.mode:1:23: a RANGE that goes below 0 reaches at most 32767 (bounds are 16 bits)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (-5:32767);"), "(compiled)");
  EXPECT_EQ(ErrorOf("NEWMODE r = RANGE (0:65535);"), "(compiled)");
}

TEST(CompilerChecks, AnEmptySourceMakesNoFiles) {
  EXPECT_EQ(ErrorOf(""), "t.mode:1:1: the source declares nothing (an empty source makes no mode files)");
  EXPECT_EQ(ErrorOf("  /* only a comment */\n\n"),
            "t.mode:1:1: the source declares nothing (an empty source makes no mode files)");
}

TEST(CompilerMessages, MisspeltKeywordsAreNamed) {
  EXPECT_EQ(ErrorOf("NEWMODE s = STRCUT (a INT);"), "t.mode:1:13: STRCUT is not a keyword: did you mean STRUCT?");
  EXPECT_EQ(ErrorOf("NEWMDOE a = INT;"), "t.mode:1:1: NEWMDOE is not a keyword: did you mean NEWMODE?");
  EXPECT_EQ(ErrorOf("NEWMODE a = BOLL;"), "t.mode:1:13: mode BOLL is not declared (a misspelt BOOL?)");
  EXPECT_EQ(ErrorOf("NEWMODE a = ARRY (0:3) INT;"), "t.mode:1:13: ARRY is not a keyword: did you mean ARRAY?");
  // A subrange of a set whose name is near a keyword stays a subrange.
  EXPECT_EQ(ErrorOf("NEWMODE sets = SET (a, b, c);\nNEWMODE x = sets (0:1);"), "(compiled)");
  // A word far from every keyword is only undeclared.
  EXPECT_EQ(ErrorOf("NEWMODE a = widget;"), "t.mode:1:13: mode WIDGET is not declared");
}

TEST(CompilerMessages, AMissingSemicolonIsAtTheEndOfItsLine) {
  EXPECT_EQ(ErrorOf("NEWMODE a = INT\nNEWMODE b = INT;"), "t.mode:1:16: missing ';' at the end of the line");
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\nNEWMODE b = STRUCT (x INT)   \n\n  NEWMODE c = INT;"),
            "t.mode:2:27: missing ';' at the end of the line");
  // On the same line the word found instead is named.
  EXPECT_EQ(ErrorOf("NEWMODE a = INT NEWMODE b = INT;"), "t.mode:1:16: expected ';', found 'NEWMODE'");
}

TEST(CompilerMessages, AReservedWordAsANameSaysQuotingWorks) {
  EXPECT_EQ(ErrorOf("NEWMODE set = INT;"),
            "t.mode:1:9: SET is a reserved word; write it in double quotes (\"set\") to use it as a mode name");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (of INT);"),
            "t.mode:1:21: OF is a reserved word; write it in double quotes (\"of\") to use it as a component name");
  EXPECT_EQ(ErrorOf("NEWMODE \"SET\" = INT;"), "(compiled)");
}

TEST(CompilerMessages, DuplicatesSayWhereTheFirstStands) {
  EXPECT_EQ(ErrorOf("NEWMODE a = INT;\n\n  NEWMODE a = BOOL;"), "t.mode:3:11: mode A is declared twice (first at 1:9)");
  EXPECT_EQ(ErrorOf("NEWMODE s = STRUCT (x INT,\n  y INT,\n  x BOOL);"),
            "t.mode:3:3: component X is declared twice (first at 1:21)");
}

TEST(CompilerOutput, ABaseThatIsADirectoryWritesNothing) {
  TTempDir dir;
  const TCompileResult result = CompileModeSource("NEWMODE a = INT;", "t.mode");
  ASSERT_TRUE(result.Ok);
  std::filesystem::create_directory(dir.file("modes"));
  std::string error;
  EXPECT_FALSE(WriteModeFileImage(result.Image, dir.file("modes"), "", &error));
  EXPECT_EQ(error, dir.file("modes") + ": is a directory; give the base name of the files, such as " +
                       dir.file("modes") + "/line");
  EXPECT_FALSE(WriteModeFileImage(result.Image, dir.file("modes") + "/", "", &error));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("modes")));

  const TQelRun run = RunQel(dir, "compile - -o " + dir.file("modes"), "NEWMODE a = INT;");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, dir.file("modes") + ": is a directory; give the base name of the files, such as " +
                         dir.file("modes") + "/line\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("modes")));
  EXPECT_EQ(RunQel(dir, "compile - -o " + dir.file("modes/line"), "NEWMODE a = INT;").Status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("modes/line.mod")));
}
