// What the ODBC backend does itself around the FreeTDS driver (see FreeTds.h).
#include "db/FreeTds.h"

#include <dirent.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "db/Internal.h"

namespace qv::db::detail {

// ---------------------------------------------------------------------------------------
// Connection string

std::string FreeTdsConnectionString(const std::vector<std::pair<std::string, std::string>>& Pairs) {
  std::string out;
  for (const auto& [k, v] : Pairs) {
    const bool brace =
        v.find(';') != std::string::npos ||
        (!v.empty() && (v.front() == '{' || std::isspace(static_cast<unsigned char>(v.front())) ||
                        std::isspace(static_cast<unsigned char>(v.back()))));
    if (brace && v.find("};") != std::string::npos)
      throw EDatabaseError(
          "connection string: the value of \"" + k +
              "\" contains \"};\", which the FreeTDS driver cannot read; choose another value",
          TErrorKind::Unsupported);
    out += k;
    out += '=';
    out += brace ? "{" + v + "}" : v;
    out += ';';
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Instance lookup

namespace {

std::mutex g_portsMu;
std::map<std::string, int>& Ports() {
  static std::map<std::string, int> m;
  return m;
}
std::string PortKey(const std::string& host, const std::string& instance) {
  return Lower(host) + "\\" + Lower(instance);
}

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t b = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      out.emplace_back(s.substr(b, i - b));
      b = i + 1;
    }
  }
  return out;
}

}  // namespace

int InstancePortFromAnswer(std::string_view Answer, const std::string& Instance) {
  // Records end with ";;"; within one, keys and values alternate.
  std::vector<std::string> t = Split(Answer, ';');
  std::map<std::string, std::string> rec;
  auto finish = [&]() -> int {
    auto name = rec.find("instancename");
    int r = -1;
    if (name != rec.end() && EqualsNoCase(name->second, Instance)) {
      auto tcp = rec.find("tcp");
      r = tcp == rec.end() ? 0 : std::max(0, std::atoi(tcp->second.c_str()));
    }
    rec.clear();
    return r;
  };
  for (size_t i = 0; i < t.size();) {
    if (t[i].empty()) {
      if (int r = finish(); r >= 0) return r;
      ++i;
      continue;
    }
    rec[Lower(t[i])] = i + 1 < t.size() ? t[i + 1] : std::string();
    i += 2;
  }
  return finish();
}

void ForgetInstancePort(const std::string& Host, const std::string& Instance) {
  std::lock_guard<std::mutex> l(g_portsMu);
  Ports().erase(PortKey(Host, Instance));
}

int LookupInstancePort(const std::string& Host, const std::string& Instance, std::chrono::milliseconds Budget,
                       std::string* Why, uint16_t BrowserPort) {
  const std::string key = PortKey(Host, Instance);
  {
    std::lock_guard<std::mutex> l(g_portsMu);
    auto it = Ports().find(key);
    if (it != Ports().end()) return it->second;
  }
  const std::string where =
      "the SQL Server Browser of " + Host + " (UDP port " + std::to_string(BrowserPort) + ")";
  const std::string advice =
      "; give the instance a fixed TCP port in SQL Server Configuration Manager and write it into the "
      "connection "
      "(server=" +
      Host + " with uport=1 and port=N in datalink.ini, or Data Source=" + Host +
      ",N), or start the "
      "SQL Server Browser service";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* ai = nullptr;
  if (getaddrinfo(Host.c_str(), std::to_string(BrowserPort).c_str(), &hints, &ai) != 0 || !ai) {
    if (Why)
      *Why = "the server name \"" + Host +
             "\" does not resolve on this machine (a Windows machine name often does not on Linux): write "
             "its IP "
             "address instead, or add the name to /etc/hosts";
    return 0;
  }
  int fd = socket(ai->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const bool connected = fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
  freeaddrinfo(ai);
  if (!connected) {
    if (fd >= 0) close(fd);
    if (Why) *Why = "instance lookup: cannot reach " + where + ": " + std::strerror(errno);
    return 0;
  }
  std::string req(1, '\x04');  // CLNT_UCAST_INST: one instance by name
  req += Instance;
  req += '\0';
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto deadline = start + Budget;
  auto resend = start + Budget / 2;
  bool refused = send(fd, req.data(), req.size(), MSG_NOSIGNAL) < 0 && errno == ECONNREFUSED;
  int port = -1;
  while (!refused && Clock::now() < deadline) {
    const auto until = std::min(resend, deadline);
    const int ms = static_cast<int>(std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count()));
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, ms);
    if (r == 0) {
      if (Clock::now() >= resend && resend < deadline) {
        resend = deadline;
        if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) < 0 && errno == ECONNREFUSED) refused = true;
      }
      continue;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == ECONNREFUSED) refused = true;
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (n >= 3 && static_cast<unsigned char>(buf[0]) == 0x05) {  // SVR_RESP
      size_t len =
          static_cast<unsigned char>(buf[1]) | (static_cast<size_t>(static_cast<unsigned char>(buf[2])) << 8);
      port = InstancePortFromAnswer(
          std::string_view(buf + 3, std::min<size_t>(len, static_cast<size_t>(n) - 3)), Instance);
      if (port >= 0) break;
    }
  }
  close(fd);
  if (port > 0) {
    std::lock_guard<std::mutex> l(g_portsMu);
    Ports()[key] = port;
    return port;
  }
  if (Why) {
    if (port == 0)
      *Why =
          "instance lookup: " + where + " knows the instance \"" + Instance +
          "\" but it has no TCP port: switch its TCP/IP protocol on in SQL Server Configuration Manager and "
          "restart it";
    else if (refused)
      *Why = "instance lookup: nothing answers on UDP port " + std::to_string(BrowserPort) + " of " + Host +
             ": the SQL Server Browser service is not running" + advice;
    else
      *Why = "instance lookup: " + where + " did not answer for the instance \"" + Instance + "\" within " +
             std::to_string(Budget.count()) + " ms" + advice;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Values

namespace {

struct Scan {
  std::string_view s;
  size_t i = 0;
  bool End() const { return i >= s.size(); }
  bool Is(char c) const { return i < s.size() && s[i] == c; }
  // Reads min..max digits; false (position unchanged) when fewer than min.
  bool Digits(size_t min, size_t max, int& v, size_t* count = nullptr) {
    size_t j = i;
    int r = 0;
    while (j < s.size() && j - i < max && std::isdigit(static_cast<unsigned char>(s[j])))
      r = r * 10 + (s[j++] - '0');
    if (j - i < min) return false;
    if (count) *count = j - i;
    v = r;
    i = j;
    return true;
  }
};

bool Leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
bool Valid(const TTimestamp& t) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.Year < 1 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Day < 1) return false;
  if (t.Day > days[t.Month - 1] + (t.Month == 2 && Leap(t.Year) ? 1 : 0)) return false;
  return t.Hour <= 23 && t.Minute <= 59 && t.Second <= 59;
}

// "h:mm[:ss[.f...]]"
bool Time(Scan& c, TTimestamp& t) {
  if (!c.Digits(1, 2, t.Hour) || !c.Is(':')) return false;
  ++c.i;
  if (!c.Digits(2, 2, t.Minute)) return false;
  if (!c.Is(':')) return true;
  ++c.i;
  if (!c.Digits(2, 2, t.Second)) return false;
  if (!c.Is('.')) return true;
  ++c.i;
  size_t n = 0;
  int f = 0;
  if (!c.Digits(1, 9, f, &n)) return false;
  t.Nanos = static_cast<uint32_t>(f);
  for (; n < 9; ++n) t.Nanos *= 10;
  return true;
}

}  // namespace

std::optional<TTimestamp> ParseDateTimeText(std::string_view Text) {
  const std::string s = Trim(Text);
  Scan c{s};
  TTimestamp t;
  size_t lead = 0;
  while (lead < s.size() && std::isdigit(static_cast<unsigned char>(s[lead]))) ++lead;
  auto num = [&](size_t at, size_t len) { return std::atoi(s.substr(at, len).c_str()); };
  if ((lead == 8 || lead == 12 || lead == 14) && (lead == s.size() || lead == 8)) {
    // yyyymmdd[hhnn[ss]]
    t.Year = num(0, 4), t.Month = num(4, 2), t.Day = num(6, 2);
    if (lead >= 12) t.Hour = num(8, 2), t.Minute = num(10, 2);
    if (lead == 14) t.Second = num(12, 2);
    c.i = lead;
  } else if (lead == 4 && s.size() > 4 && (s[4] == '-' || s[4] == '/' || s[4] == '.')) {
    t.Year = num(0, 4);
    const char sep = s[4];
    c.i = 5;
    if (!c.Digits(1, 2, t.Month) || !c.Is(sep)) return std::nullopt;
    ++c.i;
    if (!c.Digits(1, 2, t.Day)) return std::nullopt;
  } else {
    if (!Time(c, t) || !c.End() || !Valid(t)) return std::nullopt;
    return t;
  }
  if (!c.End()) {
    if (c.Is('T')) {
      ++c.i;
    } else if (c.Is(' ')) {
      while (c.Is(' ')) ++c.i;
    } else {
      return std::nullopt;
    }
    if (!Time(c, t) || !c.End()) return std::nullopt;
  }
  if (!Valid(t)) return std::nullopt;
  return t;
}

bool LooksLikeNumericDate(std::string_view Text) {
  const std::string s = Trim(Text);
  if (s.empty()) return true;
  return std::all_of(s.begin(), s.end(), [](char ch) {
    return std::isdigit(static_cast<unsigned char>(ch)) || (ch != 0 && std::strchr("-/.: T", ch) != nullptr);
  });
}

std::optional<std::string> PlainDecimal(std::string_view Text) {
  const std::string s = Trim(Text);
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  std::string digits;
  int point = -1;  // digits before the decimal point
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      digits += s[i];
    } else if (s[i] == '.' && point < 0) {
      point = static_cast<int>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return std::nullopt;
  if (point < 0) point = static_cast<int>(digits.size());
  if (i == s.size()) return s;  // no exponent: as it is
  if (s[i] != 'e' && s[i] != 'E') return std::nullopt;
  ++i;
  int exp = 0;
  auto [p, ec] =
      std::from_chars(s.data() + i + (i < s.size() && s[i] == '+' ? 1 : 0), s.data() + s.size(), exp);
  if (ec != std::errc() || p != s.data() + s.size() || exp > 100 || exp < -100) return std::nullopt;
  point += exp;
  if (point <= 0) {
    digits.insert(0, static_cast<size_t>(1 - point), '0');
    point = 1;
  } else if (point > static_cast<int>(digits.size())) {
    digits.append(static_cast<size_t>(point) - digits.size(), '0');
  }
  std::string intPart = digits.substr(0, static_cast<size_t>(point));
  std::string frac = digits.substr(static_cast<size_t>(point));
  intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size() - 1));
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  std::string r = (neg ? "-" : "") + intPart + (frac.empty() ? "" : "." + frac);
  return r == "-0" ? "0" : r;
}

std::string FormatSingle(double Value) {
  const float f = static_cast<float>(Value);
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, f);
  if (ec != std::errc()) return FormatFloat(Value, 7);
  return FormatFloat(std::strtod(std::string(buf, end).c_str(), nullptr), 15);
}

// ---------------------------------------------------------------------------------------
// The driver's socket

namespace {

bool Address(int fd, bool peer, std::vector<uint8_t>& out) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
                : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (rc != 0 || (a.ss_family != AF_INET && a.ss_family != AF_INET6)) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(&a);
  out.assign(p, p + len);
  return true;
}

}  // namespace

std::vector<int> TcpSockets() {
  std::vector<int> out;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    char* end = nullptr;
    long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || fd == dirfd(d)) continue;
    int type = 0;
    socklen_t len = sizeof type;
    std::vector<uint8_t> a;
    if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM &&
        Address(static_cast<int>(fd), true, a))
      out.push_back(static_cast<int>(fd));
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

void TSocketWatch::Adopt(const std::vector<int>& Before, const std::vector<int>& After, uint16_t PeerPort) {
  fd_ = -1;
  std::vector<int> fresh, match;
  std::set_difference(After.begin(), After.end(), Before.begin(), Before.end(), std::back_inserter(fresh));
  for (int fd : fresh) {
    std::vector<uint8_t> peer;
    if (!Address(fd, true, peer)) continue;
    const auto* a = reinterpret_cast<const sockaddr*>(peer.data());
    const uint16_t port = a->sa_family == AF_INET ? reinterpret_cast<const sockaddr_in*>(a)->sin_port
                                                  : reinterpret_cast<const sockaddr_in6*>(a)->sin6_port;
    if (ntohs(port) == PeerPort) match.push_back(fd);
  }
  if (match.size() != 1) return;
  if (Address(match[0], false, local_) && Address(match[0], true, peer_)) fd_ = match[0];
}

bool TSocketWatch::Same() const {
  std::vector<uint8_t> l, p;
  return fd_ >= 0 && Address(fd_, false, l) && Address(fd_, true, p) && l == local_ && p == peer_;
}

int64_t TSocketWatch::SilentMs() const {
  if (fd_ < 0) return -1;
  tcp_info ti{};
  socklen_t len = sizeof ti;
  if (getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &ti, &len) != 0) return -1;
  return ti.tcpi_last_data_recv;
}

bool TSocketWatch::Cut() {
  if (!Same()) return false;
  return shutdown(fd_, SHUT_RDWR) == 0;
}

}  // namespace qv::db::detail
