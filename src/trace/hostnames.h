// The host tool's name files in the "Ornet Files Directory": KASP.MSG (message
// names, 10 characters), KASP.VMI and KASP.BID (VMI and MBID names, 25).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "trace/bytesource.h"

class TModeFileReporter;

// One host name file: record n holds the name of number n.
class THostNameFile {
 public:
  THostNameFile(std::unique_ptr<TByteSource> source, std::size_t recordSize)
      : Source(std::move(source)), RecordSize(recordSize) {}

  // The name of record n as stored (not trimmed); nullopt when the record
  // cannot be read whole.
  std::optional<std::string> Name(std::uint32_t n) const;

 private:
  std::unique_ptr<TByteSource> Source;
  std::size_t RecordSize;
};

class THostNameFiles {
 public:
  static constexpr std::size_t kMsgNameSize = 10;
  static constexpr std::size_t kVmiNameSize = 25;
  static constexpr std::size_t kBidNameSize = 25;

  // Opens each of KASP.MSG, KASP.VMI, KASP.BID that is not open yet, when the
  // directory is not empty. A file that cannot be opened is reported with the
  // open-failure text and its full name, and stays closed.
  void Open(const std::string& directory, TModeFileReporter& reporter);
  void Close();

  // The full name of a file in the directory: the directory and the name,
  // with a separator between them unless the directory ends in one ("\" for
  // a Windows directory, "/" for a path with only "/" in it).
  static std::string FullName(const std::string& directory, const std::string& fileName);

  bool MsgOpen() const { return Msg != nullptr; }
  bool VmiOpen() const { return Vmi != nullptr; }
  bool BidOpen() const { return Bid != nullptr; }

  // Names by number; nullopt when the file is closed or the record is short.
  std::optional<std::string> MessageName(std::uint32_t identity) const;
  std::optional<std::string> VmiName(std::uint32_t vmi) const;
  std::optional<std::string> MbidName(std::uint32_t mbid) const;

  // For tests and the converter: files already in memory.
  void Adopt(std::unique_ptr<THostNameFile> msg, std::unique_ptr<THostNameFile> vmi,
             std::unique_ptr<THostNameFile> bid);

 private:
  std::unique_ptr<THostNameFile> Msg, Vmi, Bid;
};
