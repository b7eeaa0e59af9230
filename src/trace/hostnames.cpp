#include "trace/hostnames.h"

#include "core/paths.h"
#include "trace/modefile.h"

std::optional<std::string> THostNameFile::Name(std::uint32_t n) const {
  std::string name(RecordSize, '\0');
  const TReadStatus st =
      Source->ReadExact(static_cast<std::int64_t>(n) * static_cast<std::int64_t>(RecordSize), name.data(), RecordSize);
  if (!st.ok()) return std::nullopt;
  return name;
}

std::string THostNameFiles::FullName(const std::string& directory, const std::string& fileName) {
  if (directory.empty()) return fileName;
  const char last = directory.back();
  if (last == '\\' || last == '/') return directory + fileName;
  // A Windows directory gets "\\", a name written for this system "/".
  const bool windows = directory.find('\\') != std::string::npos || directory.find('/') == std::string::npos;
  return directory + (windows ? "\\" : "/") + fileName;
}

void THostNameFiles::Open(const std::string& directory, TModeFileReporter& reporter) {
  if (directory.empty()) return;
  struct TSlot {
    std::unique_ptr<THostNameFile>& File;
    const char* Name;
    std::size_t RecordSize;
  };
  TSlot slots[] = {{Msg, "KASP.MSG", kMsgNameSize}, {Vmi, "KASP.VMI", kVmiNameSize}, {Bid, "KASP.BID", kBidNameSize}};
  for (TSlot& slot : slots) {
    if (slot.File) continue;
    const std::string name = FullName(directory, slot.Name);
    std::uint32_t code = 0;
    std::unique_ptr<TFileSource> source = TFileSource::Open(NativeFileName(name), &code);
    if (!source) {
      reporter.ReportError(ekFileOpen, code, name);
      continue;
    }
    slot.File = std::make_unique<THostNameFile>(std::move(source), slot.RecordSize);
  }
}

void THostNameFiles::Close() {
  Msg.reset();
  Vmi.reset();
  Bid.reset();
}

void THostNameFiles::Adopt(std::unique_ptr<THostNameFile> msg, std::unique_ptr<THostNameFile> vmi,
                           std::unique_ptr<THostNameFile> bid) {
  Msg = std::move(msg);
  Vmi = std::move(vmi);
  Bid = std::move(bid);
}

std::optional<std::string> THostNameFiles::MessageName(std::uint32_t identity) const {
  return Msg ? Msg->Name(identity) : std::nullopt;
}

std::optional<std::string> THostNameFiles::VmiName(std::uint32_t vmi) const {
  return Vmi ? Vmi->Name(vmi) : std::nullopt;
}

std::optional<std::string> THostNameFiles::MbidName(std::uint32_t mbid) const {
  return Bid ? Bid->Name(mbid) : std::nullopt;
}
