#pragma once
// Private to qv_db: what the ODBC backend does itself because the FreeTDS driver (1.3, as
// Debian 12 ships it) would do it differently from the server or from the OLE DB provider
// the installations were set up with. Pure functions are exposed for the unit tests.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::db::detail {

// ---------------------------------------------------------------------------------------
// Connection string in the form FreeTDS reads it. FreeTDS 1.3 ends a plain value at the
// next ';' and a value in braces at the first '}' that a ';' or the end follows, and it
// does not undo "}}". So a value is braced only when it must be (a ';', a leading '{' or
// blank, a trailing blank), with its braces as they are, and a braced value is always
// followed by ';'. A value that contains "};" cannot be passed: Unsupported.
std::string FreeTdsConnectionString(const std::vector<std::pair<std::string, std::string>>& Pairs);

// ---------------------------------------------------------------------------------------
// Instance lookup. FreeTDS asks the SQL Server Browser (UDP 1434) 16 times a second apart
// and ignores the login time-out; the layer asks once (one resend), within Budget, and
// keeps the answer for the process. Returns the port, or 0 with *Why set to a sentence a
// technician can act on.
int LookupInstancePort(const std::string& Host, const std::string& Instance, std::chrono::milliseconds Budget,
                       std::string* Why, uint16_t BrowserPort = 1434);
// The cache of lookups (host and instance without regard to case). A connect that fails on
// a cached port forgets it, so that the next attempt asks the Browser again.
void ForgetInstancePort(const std::string& Host, const std::string& Instance);
// The port in a Browser answer ("ServerName;A;InstanceName;B;...;tcp;1433;;") for the
// instance; 0 when it has none (TCP/IP switched off), -1 when the answer is unreadable or
// names another instance.
int InstancePortFromAnswer(std::string_view Answer, const std::string& Instance);

// ---------------------------------------------------------------------------------------
// Values FreeTDS would convert wrongly.

struct TTimestamp {
  int Year = 1900, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
  uint32_t Nanos = 0;
};
// The date and time texts this system and its procedures use, read exactly:
// "yyyymmddhhnnss", "yyyymmddhhnn", "yyyymmdd" (also followed by a blank or 'T' and a time),
// "yyyy-m-d", "yyyy/m/d", "yyyy.m.d" (with an optional time), and a time alone
// "h:mm[:ss[.fffffffff]]" (on 1900-01-01). nullopt for anything else or an impossible date.
std::optional<TTimestamp> ParseDateTimeText(std::string_view Text);
// True for a text made only of digits, blanks and the separators - / . : T, that is, one that
// is meant as a date in one of the forms above (and is wrong when it does not parse).
bool LooksLikeNumericDate(std::string_view Text);

// A number text as plain decimal: "1e3" -> "1000", "-1.5E-7" -> "-0.00000015", "12.50"
// unchanged. nullopt when the text is no number.
std::optional<std::string> PlainDecimal(std::string_view Text);

// A single-precision value (real, float(24)) as text: the shortest digits that read back as
// the same single, in the general form of FormatFloat ("0.1", not "0.100000001490116").
std::string FormatSingle(double Value);

// ---------------------------------------------------------------------------------------
// The TCP connection FreeTDS opened, so that a request whose cancel is not answered can be
// ended on time. FreeTDS waits for the answer to a cancel as long again as for the request.

// Connected TCP sockets of this process (file descriptors).
std::vector<int> TcpSockets();

class TSocketWatch {
 public:
  // Adopts the one connected TCP socket to PeerPort that is in After but not in Before (none
  // when there is not exactly one).
  void Adopt(const std::vector<int>& Before, const std::vector<int>& After, uint16_t PeerPort);
  bool Known() const noexcept { return fd_ >= 0; }
  // Milliseconds since data last arrived on the socket; -1 when unknown.
  int64_t SilentMs() const;
  // Shuts the socket down (the driver's wait ends, the connection is dead) when it is still
  // the socket adopted. True when done.
  bool Cut();

 private:
  bool Same() const;
  int fd_ = -1;
  std::vector<uint8_t> local_, peer_;  // addresses at adoption, to tell a reused number
};

}  // namespace qv::db::detail
