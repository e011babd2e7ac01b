#pragma once
// What the simulator plays: the base station's answers, the terminals with their request
// scripts, and the faults. Read from script files and the command line.
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "SimRecords.h"

namespace qv::sim {

enum class TTermMode { Ordering, Stocktaking };

enum class TFaultKind {
  Drop,     // an answer is lost on the radio
  Crc,      // an answer goes out with a broken CRC (or sum)
  Wt,       // "WT" first, the real answer later
  Resend,   // 0x0700 instead of the answer: the PC is to send its last frame again
  BadPsw,   // poll and call answers carry a wrong communication password
  Intrude,  // another terminal speaks out of turn just before the answer
  Slow,     // the answer comes late
};

struct TFault {
  enum class TWhen { Always, Once, Every, Rate };
  TFaultKind kind = TFaultKind::Drop;
  TWhen when = TWhen::Always;
  int every = 1;    // Every: each n-th occasion
  double rate = 0;  // Rate: probability per occasion
  uint32_t ms = 0;  // Slow: extra delay; Wt: time until the real answer
  // Run state.
  uint64_t occasions = 0;
  bool spent = false;
};

// "drop", "crc:once", "wt:every=3", "slow:ms=500", "resend:rate=0.2", "badpsw", "intrude:once".
// Throws std::invalid_argument.
TFault ParseFault(const std::string& spec);
const char* FaultName(TFaultKind kind);

struct TSimRequest {
  std::string strCmd;  // catalogue name, or "" for a raw code
  uint16_t code = 0;
  bool bRetData = false;              // a read request (answered with data frames)
  TFieldValues fields;                // the request line
  std::vector<TFieldValues> records;  // dish / item / record lines
  std::vector<uint8_t> raw;           // hex= payload, used as it stands
  bool hasRaw = false;
  std::string text;  // text= payload of a free-text read request
  int line = 0;      // where it was written
};

struct TSimTerminalCfg {
  uint32_t no = 0;
  TTermMode mode = TTermMode::Ordering;
  uint32_t psw = 0;
  std::vector<TSimRequest> requests;
  std::vector<TFault> faults;
};

struct TSimConfig {
  std::string version = "V1.0";
  int32_t station = 1;
  uint8_t channel = 1;
  uint32_t delayMs = 2;   // turnaround before every answer
  uint32_t wtMs = 300;    // "WT" fault: the real answer follows after this
  uint32_t slowMs = 400;  // "slow" fault default
  uint32_t intruder = 0;  // number of the out-of-turn terminal; 0: highest configured + 1
  int retries = 2;        // further attempts of a request that failed
  bool loop = false;
  int count = 1;  // rounds of every script (ignored with loop)
  uint32_t seed = 1;
  std::vector<TFault> faults;      // every terminal and the base station
  std::vector<TFault> baseFaults;  // the base station only
  std::vector<TSimTerminalCfg> terminals;
};

// Reads one script into cfg (settings, terminal sections). Throws std::invalid_argument
// with "file:line: message".
void ParseScript(std::istream& in, const std::string& name, TSimConfig& cfg);
void ParseScriptFile(const std::string& path, TSimConfig& cfg);

// Splits a script line into words; "quoted words" may hold spaces, \" a quote.
std::vector<std::string> SplitWords(const std::string& line);

}  // namespace qv::sim
