// Cached reads of the open mode definition files for the decoders: a trace
// decodes the same few modes, sets and constant chains thousands of times, so
// each is read and parsed once. Only successful reads are kept (a failure is
// read and reported again next time, as the reader does), and every table is
// bounded: when one is full it is emptied and fills again.
//
// SetElementText and SynValueText give exactly the reader's texts: both
// format through SetValueText and ConstantValueText.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "trace/modefile.h"

// A mode: its header and the components that follow it.
struct TCachedMode {
  std::int64_t Index = -1;
  TModeHeaderRecord Header;
  std::vector<TModeComponentRecord> Components;

  // The component stored at absolute record number `record`, when it belongs to this run.
  const TModeComponentRecord* ComponentAt(std::int64_t record) const {
    const std::int64_t i = record - Index - 1;
    if (i < 0 || i >= static_cast<std::int64_t>(Components.size())) return nullptr;
    return &Components[static_cast<std::size_t>(i)];
  }
};

class TModeCache {
 public:
  static constexpr std::size_t kMaxModes = 4096;
  static constexpr std::size_t kMaxSets = 4096;
  static constexpr std::size_t kMaxChains = 4096;

  // Forgets everything and reads from `files` from now on (nullptr: no files).
  void Attach(const TTraceFileSet* files);
  const TTraceFileSet* Files() const { return Set; }

  // The mode at `index`; nullptr when its header cannot be read (*status says
  // why). Shared, so a mode being decoded outlives a cache that is emptied.
  std::shared_ptr<const TCachedMode> Mode(std::int64_t index, TReadStatus* status = nullptr);
  // One record as a component, for selectors outside the current run (not cached).
  std::optional<TModeComponentRecord> ComponentRecord(std::int64_t index);

  // `SetElementText` (see TTraceFileSet::SetElementText).
  std::string SetElementText(std::int64_t blockOffset, std::uint16_t value, const TMessageBuffer& buffer,
                             std::uint32_t byteOffset, std::uint32_t bitOffset, TPackMode mode,
                             bool convertSetElements);
  // `SynValueText` (see TTraceFileSet::SynValueText).
  std::string SynValueText(std::int64_t first, std::uint32_t valueOrOffset, std::uint32_t bitOffset,
                           std::uint32_t width, TPackMode mode, const TMessageBuffer& buffer);
  // The name the chain from `first` gives `value`, trimmed; nullopt when it has none.
  std::optional<std::string> ConstantName(std::int64_t first, std::uint16_t value);

  // Entry n of .msg, .usb and .bid (Found and Absent answers are kept).
  TModeIndexRead MessageModeIndex(std::uint32_t identity);
  TModeIndexRead UserBufferModeIndex(std::uint32_t identity);
  TMbidIndexRead MbidIndexEntry(std::uint32_t mbid);

 private:
  struct TCachedSet {
    std::uint16_t Count = 0;
    std::vector<std::string> Names;  // shown names by value, as far as the table holds them
  };
  struct TChainEntry {
    std::uint16_t Value;
    std::string Name;  // trimmed
  };
  struct TCachedChain {
    std::vector<TChainEntry> Entries;
    std::optional<TChainBreak> Break;  // reported at every lookup it spoils
  };

  const TCachedSet* SetBlock(std::int64_t offset);
  const TCachedChain* Chain(std::int64_t first);

  const TTraceFileSet* Set = nullptr;
  std::unordered_map<std::int64_t, std::shared_ptr<const TCachedMode>> Modes;
  std::unordered_map<std::int64_t, std::unique_ptr<TCachedSet>> Sets;
  std::unordered_map<std::int64_t, std::unique_ptr<TCachedChain>> Chains;
  // Index entries by number (up to 65535): the entry, or markers for "not
  // read yet" and "absent".
  std::vector<std::int64_t> MsgEntries, UsbEntries;
  std::unordered_map<std::uint32_t, TMbidIndexRead> BidEntries;
};
