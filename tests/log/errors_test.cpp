#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>
#include <utility>

#include "log/errors.h"
#include "support/testing.h"

namespace {
struct TKindCase {
  TErrorKind Kind;
  std::uint32_t Code;
  const char* Text;
  std::string Message;
  TMsgIcon Icon;
  unsigned Buttons;
  int HelpContext;
};
}  // namespace

TEST(ErrorCodeText, SentencesArePaddedToNinetySixAndOthersAreDecimal) {
  EXPECT_EQ(ErrorCodeText(3), "3");
  EXPECT_EQ(ErrorCodeText(112), Padded("There is not enough space on the disk."));
  EXPECT_EQ(ErrorCodeText(112).size(), 96u);
  // The longest sentence fills the width exactly.
  EXPECT_EQ(ErrorCodeText(130),
            "Attempt to use a file handle to an open disk partition for an operation other than raw disk I/O.");
  EXPECT_EQ(ErrorCodeText(0), "0");
  EXPECT_EQ(ErrorCodeText(65535), "65535");
}

TEST(ErrorCodeText, OnlyTheLowSixteenBitsCount) {
  EXPECT_EQ(ErrorCodeText(0x10000 + 5), Padded("Access is denied."));
  EXPECT_EQ(ErrorCodeText(0xFFFF0000u + 3), "3");
  EXPECT_EQ(ErrorCodeText(65536), "0");
}

// ENOENT, EACCES, ENOSPC and EIO: the texts of the log and command file tests' boxes.
TEST(SystemErrorCode, ErrnoValuesMapToTheWindowsCodeOfTheSameMeaning) {
  const std::pair<int, std::uint32_t> codes[] = {{EEXIST, 80}, {EROFS, 19}, {EBUSY, 170},
                                                 {ENOTDIR, 267}, {EMFILE, 4}, {ENOMEM, 8}};
  for (const auto& [error, code] : codes) EXPECT_EQ(SystemErrorCode(error), code) << error;
  // An errno without a counterpart must not borrow another code's sentence:
  // EPIPE is 32, which is the sharing-violation sentence.
  EXPECT_NE(SystemErrorCode(EPIPE), 32u);
  EXPECT_EQ(ErrorCodeText(SystemErrorCode(EPIPE)), std::to_string(SystemErrorCode(EPIPE)));
}

TEST(ReportError, EveryKindShowsItsTextIconButtonsAndHelpContext) {
  const std::string cr(1, '\r');
  const TKindCase cases[] = {
      {ekFileAccess, 5, "x.log", "File access error. File = x.log" + cr + "Error = " + Padded("Access is denied."),
       TMsgIcon::Error, mbOK | mbHelp, 2},
      {ekSystemCode, 2, "ignored", Padded("The system cannot find the file specified."), TMsgIcon::Error, mbOK, 2},
      {ekTraceRead, 0, "MBID Index File",
       "File access error when trying to read in trace file" + cr + "MBID Index File", TMsgIcon::Error, mbOK, 2},
      {ekFileOpen, 0, "a.txt", "File access error when trying to open a file." + cr + "The file = a.txt",
       TMsgIcon::Error, mbOK, 2},
      {ekDiskFull, 0, "", "Disk FULL !", TMsgIcon::Error, mbCancel, 2},
      {ekMessage, 0, "Session Closed!", "Session Closed!", TMsgIcon::Error, mbOK, 0},
      {ekAppendQuery, 0, "b.log",
       "File b.log already exist!" + cr + "Do you wish to append to the existing file?", TMsgIcon::Confirmation,
       mbOK | mbCancel | mbIgnore, 0},
      {ekNetwork, 0, "Connection refused", "Network Error. Error = Connection refused", TMsgIcon::Error, mbOK, 0},
  };
  TTestSession t;
  for (const TKindCase& c : cases) {
    t.Desktop.Boxes.clear();
    t.S->Errors->ReportError(c.Kind, c.Code, c.Text);
    ASSERT_EQ(t.Desktop.Boxes.size(), 1u) << c.Message;
    const TMessageBox& box = t.Desktop.Boxes[0].Box;
    EXPECT_EQ(std::tuple(box.Text, box.Icon, box.Buttons, box.HelpContext),
              std::tuple(c.Message, c.Icon, c.Buttons, c.HelpContext));
  }
}

TEST(ReportError, ResultsAreOkCancelOrIgnoreAndAnythingElseIsCancel) {
  TTestSession t;
  t.Desktop.Answers = {TMsgResult::Ignore, TMsgResult::None, TMsgResult::OK};
  EXPECT_EQ(t.S->Errors->ReportError(ekAppendQuery, 0, "f"), TMsgResult::Ignore);
  EXPECT_EQ(t.S->Errors->ReportError(ekAppendQuery, 0, "f"), TMsgResult::Cancel);
  EXPECT_EQ(t.S->Errors->ReportError(ekAppendQuery, 0, "f"), TMsgResult::OK);
  // Disk full offers Cancel only: the default answer is Cancel.
  EXPECT_EQ(t.S->Errors->ReportError(ekDiskFull, 0, ""), TMsgResult::Cancel);
}

TEST(ReportError, AnUnknownKindShowsNothing) {
  TTestSession t;
  EXPECT_EQ(t.S->Errors->ReportError(static_cast<TErrorKind>(99), 0, "x"), TMsgResult::None);
  EXPECT_TRUE(t.Desktop.Boxes.empty());
  EXPECT_FALSE(t.S->Errors->DialogShowing);
}

TEST(ReportError, DialogShowingIsTrueExactlyWhileABoxIsUp) {
  TTestSession t;
  std::vector<bool> seen;
  bool nested = false;
  t.Desktop.OnShow = [&](const TMessageBox&) {
    seen.push_back(t.S->Errors->DialogShowing);
    // A second report while the first is up (the window keeps running under
    // the box) must not clear the flag for the outer box.
    if (!nested) {
      nested = true;
      t.S->Errors->ReportError(ekMessage, 0, "inner");
      seen.push_back(t.S->Errors->DialogShowing);
    }
  };
  EXPECT_FALSE(t.S->Errors->DialogShowing);
  t.S->Errors->ReportError(ekMessage, 0, "outer");
  EXPECT_EQ(seen, (std::vector<bool>{true, true, true}));
  EXPECT_FALSE(t.S->Errors->DialogShowing);
}
