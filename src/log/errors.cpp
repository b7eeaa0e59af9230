#include "log/errors.h"

#include <cerrno>
#include <string_view>

#include "core/ascii.h"

namespace {
struct TCodeText {
  std::uint16_t Code;
  std::string_view Text;
};

constexpr TCodeText kCodeTexts[] = {
    {2, "The system cannot find the file specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {8, "Not enough storage is available to process this command."},
    {12, "The access code is invalid."},
    {15, "The system cannot find the specified drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The drive is not ready."},
    {22, "The device does not recognize the command."},
    {23, "Data error (cyclic redundancy check)."},
    {26, "The specified disk cannot be accessed."},
    {28, "The printer is out of paper."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {52, "A duplicate name exists on the network."},
    {54, "The network is busy."},
    {55, "The specified network resource is no longer available."},
    {57, "A network adapter hardware error occurred."},
    {61, "The printer queue is full."},
    {63, "File waiting to be printed was deleted."},
    {65, "Network access is denied."},
    {66, "The network resource type is incorrect."},
    {72, "The specified printer or disk device has been paused."},
    {80, "The file exists."},
    {85, "The local device name is already in use."},
    {107, "Program stopped because alternate disk was not inserted."},
    {108, "The disk is in use or locked by another process."},
    {110, "The system cannot open the specified device or file."},
    {112, "There is not enough space on the disk."},
    {123, "The file name, directory name, or volume label is syntactically incorrect."},
    {130, "Attempt to use a file handle to an open disk partition for an operation other than raw disk I/O."},
    {161, "The specified path name is invalid."},
    {170, "The requested resource is in use."},
    {183, "Attempt to create file that already exists."},
    {234, "More data is available."},
    {267, "The directory name is invalid."},
    {995, "The I/O operation was aborted due to either thread exit or application request."},
    {1001, "Recursion too deep, stack overflowed."},
    {1006, "The volume for a file was externally altered and the opened file is no longer valid."},
    {1115, "A system shutdown is in progress."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1118, "No serial device was successfully initialized. The serial driver will unload."},
    {1120, "A serial I/O operation was completed by another write to the serial port."},
    {1124, "The floppy disk controller reported an error that is not recognized by the floppy disk driver."},
    {1125, "The floppy disk controller returned inconsistent results in its registers."},
    {1127, "While accessing the hard disk, a disk operation failed even after retries."},
    {1200, "The specified device name is invalid."},
    {1201, "The device is not currently connected but is a remembered connection."},
    {1214, "The format of the specified network name is invalid."},
    {1222, "The network is not present or not started."},
    {1379, "The specified alias already exists."},
    {1392, "The file or directory is damaged and nonreadable."},
    {1393, "The disk structure is damaged and nonreadable."},
    {1801, "The printer name is invalid."},
    {1803, "The printer command is invalid."},
    {2250, "This network connection does not exist."},
    {2401, "There are open files or requests pending on this connection."},
    {2404, "The device is in use by an active process and cannot be disconnected."},
};

constexpr std::size_t kPaddedCodeTextLength = 96;

// Codes for errno values without a closer match; it has no sentence, so the
// user sees the number.
constexpr std::uint32_t kGeneralFailure = 31;
}  // namespace

std::string ErrorCodeText(std::uint32_t code) {
  const std::uint16_t key = static_cast<std::uint16_t>(code & 0xFFFF);
  for (const TCodeText& entry : kCodeTexts) {
    if (entry.Code != key) continue;
    std::string text(entry.Text);
    if (text.size() < kPaddedCodeTextLength) text.append(kPaddedCodeTextLength - text.size(), ' ');
    return text;
  }
  return std::to_string(key);
}

std::uint32_t SystemErrorCode(int errnoValue) {
  switch (errnoValue) {
    case 0: return 0;
    case ENOENT: return 2;
    case EMFILE:
    case ENFILE: return 4;
    case EPERM:
    case EACCES:
    case EISDIR: return 5;
    case ENOMEM: return 8;
    case ENODEV:
    case ENXIO: return 1200;
    case EROFS: return 19;
    case ETXTBSY: return 32;
    case EEXIST: return 80;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 112;
    case ENAMETOOLONG: return 123;
    case ELOOP: return 161;
    case EBUSY: return 170;
    case ENOTDIR: return 267;
    case EINTR:
    case ECANCELED: return 995;
    case EIO: return 1117;
    default: return kGeneralFailure;
  }
}

namespace {
struct TBoxLayout {
  TMsgIcon Icon;
  unsigned Buttons;
  int HelpContext;
};

bool BoxLayoutOf(TErrorKind kind, TBoxLayout& layout) {
  switch (kind) {
    case ekFileAccess: layout = {TMsgIcon::Error, mbOK | mbHelp, 2}; return true;
    case ekSystemCode: layout = {TMsgIcon::Error, mbOK, 2}; return true;
    case ekTraceRead: layout = {TMsgIcon::Error, mbOK, 2}; return true;
    case ekFileOpen: layout = {TMsgIcon::Error, mbOK, 2}; return true;
    case ekDiskFull: layout = {TMsgIcon::Error, mbCancel, 2}; return true;
    case ekMessage: layout = {TMsgIcon::Error, mbOK, 0}; return true;
    case ekAppendQuery: layout = {TMsgIcon::Confirmation, mbOK | mbCancel | mbIgnore, 0}; return true;
    case ekNetwork: layout = {TMsgIcon::Error, mbOK, 0}; return true;
  }
  return false;
}

std::string MessageOf(TErrorKind kind, std::uint32_t code, const std::string& text) {
  switch (kind) {
    case ekFileAccess:
      return "File access error. File = " + text + CR + "Error = " + ErrorCodeText(code);
    case ekSystemCode: return ErrorCodeText(code);
    case ekTraceRead: return "File access error when trying to read in trace file" + std::string(1, CR) + text;
    case ekFileOpen:
      return "File access error when trying to open a file." + std::string(1, CR) + "The file = " + text;
    case ekDiskFull: return "Disk FULL !";
    case ekMessage: return text;
    case ekAppendQuery:
      return "File " + text + " already exist!" + CR + "Do you wish to append to the existing file?";
    case ekNetwork: return "Network Error. Error = " + text;
  }
  return {};
}
}  // namespace

TMsgResult TErrorReporter::ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) {
  TBoxLayout layout{};
  if (!BoxLayoutOf(kind, layout)) return TMsgResult::None;

  TMessageBox box;
  box.Icon = layout.Icon;
  box.Buttons = layout.Buttons;
  box.HelpContext = layout.HelpContext;
  box.Text = MessageOf(kind, code, text);

  struct TShowingGuard {
    TErrorReporter& R;
    explicit TShowingGuard(TErrorReporter& r) : R(r) { R.BeginModal(); }
    ~TShowingGuard() { R.EndModal(); }
  } guard(*this);

  const TMsgResult result = Desktop.ShowMessage(box);
  switch (result) {
    case TMsgResult::OK:
    case TMsgResult::Cancel:
    case TMsgResult::Ignore: return result;
    default: return TMsgResult::Cancel;  // any other close counts as Cancel
  }
}
