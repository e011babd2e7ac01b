#include "SimConfig.h"

#include <cctype>
#include <fstream>
#include <stdexcept>

#include "link/Catalogue.h"

namespace qv::sim {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

long long Integer(const std::string& what, const std::string& v, long long lo, long long hi) {
  size_t used = 0;
  long long x = 0;
  try {
    x = std::stoll(v, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != v.size() || x < lo || x > hi)
    throw std::invalid_argument(what + ": integer from " + std::to_string(lo) + " to " + std::to_string(hi) +
                                " expected, not \"" + v + "\"");
  return x;
}

TTermMode Mode(const std::string& v) {
  const std::string l = Lower(v);
  if (l == "ordering") return TTermMode::Ordering;
  if (l == "stocktaking") return TTermMode::Stocktaking;
  throw std::invalid_argument("mode: ordering or stocktaking expected, not \"" + v + "\"");
}

// name=value words into fields.
TFieldValues Fields(const std::vector<std::string>& words, size_t from) {
  TFieldValues out;
  for (size_t i = from; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    if (eq == std::string::npos || eq == 0)
      throw std::invalid_argument("name=value expected, not \"" + words[i] + "\"");
    out[words[i].substr(0, eq)] = words[i].substr(eq + 1);
  }
  return out;
}

// Takes the special words out of the request line's fields.
void TakeSpecial(TSimRequest& r) {
  for (auto it = r.fields.begin(); it != r.fields.end();) {
    const std::string l = Lower(it->first);
    if (l == "hex") {
      r.raw = ParseHex(it->second);
      r.hasRaw = true;
      it = r.fields.erase(it);
    } else if (l == "text") {
      r.text = it->second;
      it = r.fields.erase(it);
    } else {
      ++it;
    }
  }
}

// Encodes once so that a bad field shows up with its line now, not at the first grant.
void Check(const TSimRequest& r) {
  if (r.hasRaw) return;
  if (r.bRetData) {
    if (const auto l = ReadLayout(r.strCmd)) {
      EncodeRecord(*l, r.fields, 0);
    } else if (!r.fields.empty()) {
      throw std::invalid_argument(r.strCmd + " takes text=... or hex=..., not named fields");
    }
    if (!r.records.empty()) throw std::invalid_argument(r.strCmd + " is a read request and takes no records");
    return;
  }
  const auto l = UploadLayout(r.strCmd);
  if (!l) throw std::invalid_argument(r.strCmd + " has no record layout; give hex=...");
  if (r.strCmd == "RT-MEMU") {
    EncodeRecord(MemuHeaderLayout(), r.fields, 0);
    for (const TFieldValues& d : r.records) EncodeRecord(*l, d, 0);
  } else {
    TFieldValues merged;
    for (const TFieldValues& d : r.records) {
      merged = r.fields;
      for (const auto& [k, v] : d) merged[k] = v;
      EncodeRecord(*l, merged, 0);
    }
    if (r.records.empty()) EncodeRecord(*l, r.fields, 0);
  }
}

}  // namespace

const char* FaultName(TFaultKind kind) {
  switch (kind) {
    case TFaultKind::Drop:
      return "drop";
    case TFaultKind::Crc:
      return "crc";
    case TFaultKind::Wt:
      return "wt";
    case TFaultKind::Resend:
      return "resend";
    case TFaultKind::BadPsw:
      return "badpsw";
    case TFaultKind::Intrude:
      return "intrude";
    case TFaultKind::Slow:
      return "slow";
  }
  return "?";
}

TFault ParseFault(const std::string& spec) {
  TFault f;
  const size_t colon = spec.find(':');
  const std::string kind = Lower(spec.substr(0, colon));
  bool found = false;
  for (TFaultKind k : {TFaultKind::Drop, TFaultKind::Crc, TFaultKind::Wt, TFaultKind::Resend,
                       TFaultKind::BadPsw, TFaultKind::Intrude, TFaultKind::Slow})
    if (kind == FaultName(k)) {
      f.kind = k;
      found = true;
    }
  if (!found)
    throw std::invalid_argument("unknown fault \"" + kind +
                                "\" (drop, crc, wt, resend, badpsw, intrude, slow)");
  std::string rest = colon == std::string::npos ? "" : spec.substr(colon + 1);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string opt = Lower(rest.substr(0, comma));
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    const size_t eq = opt.find('=');
    const std::string key = opt.substr(0, eq);
    const std::string val = eq == std::string::npos ? "" : opt.substr(eq + 1);
    if (key == "once" && eq == std::string::npos) {
      f.when = TFault::TWhen::Once;
    } else if (key == "always" && eq == std::string::npos) {
      f.when = TFault::TWhen::Always;
    } else if (key == "every") {
      f.when = TFault::TWhen::Every;
      f.every = static_cast<int>(Integer("every", val, 1, 1000000));
    } else if (key == "rate") {
      size_t used = 0;
      double r = -1;
      try {
        r = std::stod(val, &used);
      } catch (const std::exception&) {
      }
      if (used != val.size() || !(r >= 0 && r <= 1))
        throw std::invalid_argument("rate: 0 to 1 expected, not \"" + val + "\"");
      f.when = TFault::TWhen::Rate;
      f.rate = r;
    } else if (key == "ms") {
      f.ms = static_cast<uint32_t>(Integer("ms", val, 0, 600000));
    } else {
      throw std::invalid_argument("fault option \"" + opt + "\" (once, always, every=N, rate=P, ms=N)");
    }
  }
  return f;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
        cur += line[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == '#') {
      break;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      if (inWord) out.push_back(cur);
      cur.clear();
      inWord = false;
    } else {
      cur += c;
      inWord = true;
    }
  }
  if (quoted) throw std::invalid_argument("unclosed quote");
  if (inWord) out.push_back(cur);
  return out;
}

void ParseScript(std::istream& in, const std::string& name, TSimConfig& cfg) {
  std::string line;
  int no = 0;
  TSimTerminalCfg* term = nullptr;
  TSimRequest* req = nullptr;
  while (std::getline(in, line)) {
    ++no;
    try {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::vector<std::string> w = SplitWords(line);
      if (w.empty()) continue;
      const std::string key = Lower(w[0]);
      auto arg = [&](size_t i) -> const std::string& {
        if (i >= w.size()) throw std::invalid_argument(key + ": value missing");
        return w[i];
      };
      auto noMore = [&](size_t n) {
        if (w.size() > n) throw std::invalid_argument(key + ": unexpected \"" + w[n] + "\"");
      };
      if (key == "terminal") {
        TSimTerminalCfg t;
        t.no = static_cast<uint32_t>(Integer("terminal", arg(1), 1, 0x7FFFFFFF));
        for (const TSimTerminalCfg& o : cfg.terminals)
          if (o.no == t.no)
            throw std::invalid_argument("terminal " + std::to_string(t.no) + " is defined twice");
        size_t i = 2;
        if (i < w.size() && w[i].find('=') == std::string::npos && Lower(w[i]) != "password")
          t.mode = Mode(w[i++]);
        if (i < w.size() && Lower(w[i]) == "password") {
          t.psw = static_cast<uint32_t>(Integer("password", arg(i + 1), 0, 0xFFFFFFFFLL));
          i += 2;
        }
        noMore(i);
        cfg.terminals.push_back(std::move(t));
        term = &cfg.terminals.back();
        req = nullptr;
      } else if (key == "fault") {
        noMore(2);
        const TFault f = ParseFault(arg(1));
        if (term)
          term->faults.push_back(f);
        else
          cfg.faults.push_back(f);
      } else if (key == "basefault") {
        noMore(2);
        cfg.baseFaults.push_back(ParseFault(arg(1)));
      } else if (!term) {
        noMore(2);
        if (key == "station")
          cfg.station = static_cast<int32_t>(Integer("station", arg(1), INT32_MIN, INT32_MAX));
        else if (key == "version")
          cfg.version = arg(1);
        else if (key == "channel")
          cfg.channel = static_cast<uint8_t>(Integer("channel", arg(1), 0, 255));
        else if (key == "delay")
          cfg.delayMs = static_cast<uint32_t>(Integer("delay", arg(1), 0, 60000));
        else if (key == "wtdelay")
          cfg.wtMs = static_cast<uint32_t>(Integer("wtdelay", arg(1), 0, 60000));
        else if (key == "slowdelay")
          cfg.slowMs = static_cast<uint32_t>(Integer("slowdelay", arg(1), 0, 600000));
        else if (key == "intruder")
          cfg.intruder = static_cast<uint32_t>(Integer("intruder", arg(1), 1, 0x7FFFFFFF));
        else if (key == "retries")
          cfg.retries = static_cast<int>(Integer("retries", arg(1), 0, 100));
        else if (key == "seed")
          cfg.seed = static_cast<uint32_t>(Integer("seed", arg(1), 0, 0xFFFFFFFFLL));
        else
          throw std::invalid_argument("unknown setting \"" + w[0] +
                                      "\" (or a terminal line is missing above)");
      } else if (key == "mode") {
        noMore(2);
        term->mode = Mode(arg(1));
      } else if (key == "password") {
        noMore(2);
        term->psw = static_cast<uint32_t>(Integer("password", arg(1), 0, 0xFFFFFFFFLL));
      } else if (key == "request") {
        TSimRequest r;
        r.line = no;
        const std::string& c = arg(1);
        if (const TStru_CmdList* cmd = GetCmdByName(c)) {
          r.strCmd = cmd->strCmd;
          r.code = cmd->CmdCode;
          r.bRetData = cmd->bRetData;
        } else if (c.size() > 2 && (c[0] == '0') && (c[1] == 'x' || c[1] == 'X')) {
          r.code = static_cast<uint16_t>(Integer("code", c, 0, 0xFFFF));
          r.strCmd = "";
        } else {
          throw std::invalid_argument("unknown command \"" + c + "\"");
        }
        r.fields = Fields(w, 2);
        TakeSpecial(r);
        if (r.strCmd.empty() && !r.hasRaw && r.text.empty() && !r.fields.empty())
          throw std::invalid_argument("a raw code takes hex=... or text=...");
        term->requests.push_back(std::move(r));
        req = &term->requests.back();
      } else if (key == "dish" || key == "item" || key == "record") {
        if (!req) throw std::invalid_argument(key + " without a request above");
        if (req->hasRaw || req->strCmd.empty()) throw std::invalid_argument(key + " after a hex= request");
        req->records.push_back(Fields(w, 1));
      } else {
        throw std::invalid_argument("unknown line \"" + w[0] + "\"");
      }
      // Checked after every line that changes it, so that an error names its own line.
      if (req && (key == "request" || key == "dish" || key == "item" || key == "record")) Check(*req);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(name + ":" + std::to_string(no) + ": " + e.what());
    }
  }
}

void ParseScriptFile(const std::string& path, TSimConfig& cfg) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument(path + ": cannot be read");
  ParseScript(in, path, cfg);
}

}  // namespace qv::sim
