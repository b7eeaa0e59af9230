// The fixed name tables of the MINI trace: task names of the CFCS, SSF and
// ISS subsystems, CFCS field names, and the texts of shell tracing events.
#pragma once

#include <cstdint>
#include <string>

enum class TTaskTable {
  Cfcs,       // CFCS tasks, width 21
  Ssf,        // SSF tasks, width 20
  Iss,        // ISS tasks, width 13
  CfcsField,  // CFCS field names, width 10
};

// The name of `value` in the table, padded with spaces to the table's width;
// "UNKNOWN" padded the same way for a value the table does not list. A name
// is never cut.
std::string TaskName(TTaskTable table, unsigned value);

// The text of a shell tracing event, chosen by the event code's high byte;
// the task word's bytes name the sending and receiving tasks, the field
// word's low byte a CFCS field. Events without names of their own are
// completed with the low byte of the event code and the two task bytes in hex
// ("ISUP ASIG: 05 01 02"); an unknown high byte shows the whole event code
// ("UNKNOWN: 2A05 01 02").
std::string ShellEventText(std::uint16_t event, std::uint16_t task, std::uint16_t field);
