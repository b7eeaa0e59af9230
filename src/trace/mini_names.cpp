#include "trace/mini_names.h"

#include <string_view>

#include "core/numbers.h"
#include "trace/linetext.h"

namespace {
struct TTaskName {
  unsigned Value;
  std::string_view Name;
};

constexpr TTaskName kCfcsTasks[] = {
    {0, "CFCS_SHELL"},          {1, "CC_ME"},
    {2, "SIG_INFORMATION"},     {3, "PATED_ITF"},
    {4, "TRM_ITF"},             {5, "ETEC_ITF"},
    {6, "CHARGING_ITF"},        {7, "DATA_ACQ"},
    {8, "DDM_ITF"},             {9, "STABLE_DATA"},
    {10, "SNT_ITF"},            {11, "EXTERN_APPLIC_ITF"},
    {12, "CAPS"},               {13, "TERMINATING_DATA"},
    {14, "TRUNK_SELECTION"},    {15, "TERMINATING_SEIZURE"},
    {16, "CCS"},                {17, "ANN_SELECTION"},
    {18, "RELEASE_SEQUENCE"},   {20, "TAT_ITF"},
    {21, "IN_CHARGING"},        {22, "ANN_RESOURCE_ITF"},
    {23, "HOCC_ME"},            {24, "STATUS_RQST"},
    {25, "ALLOC_CONF_BRIDGE"},  {26, "LOCK"},
    {27, "CALL_RECONFIGURE"},   {28, "ANAL_FAC_LAYOUT"},
    {29, "CALL_FORWARDING"},    {30, "UPDATE_CHARGING"},
    {31, "UPDATE_STABLE_DATA"}, {32, "IN_TRIGGER_HANDLER"},
    {33, "REGISTER_ITF"},       {34, "TCAP_ITF"},
    {37, "CAPA"},               {38, "REMOTE_ACCESS_HANDLER"},
    {39, "SUBSCR_CONTROL_ITF"}, {40, "SS_ME"},
    {255, "DUMMY"},
};

constexpr TTaskName kSsfTasks[] = {
    {0, "SSF_SHELL"},          {1, "SSF_IPR"},
    {2, "SSF_DIAL_SUPERV"},    {3, "SSF_SACF"},
    {4, "SSF_SCP_ADDRESS"},    {5, "SSF_OPER_PROCESS"},
    {6, "SSF_TRAF_MANAGEMENT"}, {7, "SSF_TRIGGER_HANDLING"},
    {255, "DUMMY"},
};

constexpr TTaskName kIssTasks[] = {
    {0, "V2_L3"},        {1, "SHELL"},        {2, "V1_L3_CIRCUIT"}, {3, "V1_L3_PACKET"},
    {4, "FORMATTER_V1"}, {5, "FORMATTER_V2"}, {6, "L2_L3_ME"},      {7, "RESTART"},
    {8, "REASSEMBLER"},  {9, "BIP_HANDLER"},
};

constexpr TTaskName kCfcsFields[] = {
    {0, "T91_MSGID"}, {1, "RET_COD"}, {2, "INPUT_TASK"}, {3, "PROC_NR"}, {4, "INT_MSG_ID"},
};

template <std::size_t N>
std::string_view Lookup(const TTaskName (&table)[N], unsigned value) {
  for (const TTaskName& entry : table) {
    if (entry.Value == value) return entry.Name;
  }
  return "UNKNOWN";
}

// The bytes that complete an event text without names of its own.
std::string EventBytes(std::uint16_t event, std::uint16_t task) {
  return Hex(event & 0xFF, 2) + " " + Hex(task >> 8, 2) + " " + Hex(task & 0xFF, 2);
}
}  // namespace

std::string TaskName(TTaskTable table, unsigned value) {
  switch (table) {
    case TTaskTable::Cfcs: return Padded(Lookup(kCfcsTasks, value), 21);
    case TTaskTable::Ssf: return Padded(Lookup(kSsfTasks, value), 20);
    case TTaskTable::Iss: return Padded(Lookup(kIssTasks, value), 13);
    case TTaskTable::CfcsField: return Padded(Lookup(kCfcsFields, value), 10);
  }
  return {};
}

std::string ShellEventText(std::uint16_t event, std::uint16_t task, std::uint16_t field) {
  const unsigned from = task >> 8;
  const unsigned to = task & 0xFF;
  switch (event >> 8) {
    case 0x10:
      if (event == 0x1000) return "IPPIW : SENT IPP PACKET";
      if (event == 0x1001) return "IPPIW : RECEIVED IPP PACKET";
      return "IPPIW : " + EventBytes(event, task);
    case 0x11:
      return "CFCS: From " + TaskName(TTaskTable::Cfcs, from) + " To " + TaskName(TTaskTable::Cfcs, to) +
             " Task = " + TaskName(TTaskTable::CfcsField, field & 0xFF);
    case 0x12: return "SSF : From " + TaskName(TTaskTable::Ssf, from) + " To " + TaskName(TTaskTable::Ssf, to);
    case 0x13: return "ISS : From " + TaskName(TTaskTable::Iss, from) + " To " + TaskName(TTaskTable::Iss, to);
    case 0x14: return "ISUP ASIG: " + EventBytes(event, task);
    case 0x15: return "TUP/NTUP ASIG: " + EventBytes(event, task);
    case 0x16: return "ISUP TSIG: " + EventBytes(event, task);
    case 0x17: return "TUP/NTUP TSIG: " + EventBytes(event, task);
    case 0x18: return "ASIGN CAS: " + EventBytes(event, task);
    case 0x19: return "DMCP/A TRACING: " + EventBytes(event, task);
    case 0x1A: return "BSSAP TRACING: " + EventBytes(event, task);
    case 0x1B: return "N5 ASIGN TRACING: " + EventBytes(event, task);
    case 0x1C: return "N5 TSIGN TRACING: " + EventBytes(event, task);
    default: return "UNKNOWN: " + Hex(event, 4) + " " + Hex(from, 2) + " " + Hex(to, 2);
  }
}
