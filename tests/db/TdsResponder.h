#pragma once
// A scripted TDS 7.4 responder for the ODBC backend's tests: it plays a SQL Server on
// loopback so that the real FreeTDS driver and unixODBC are what the backend talks to.
// It answers prelogin and login7, answers sp_sproc_columns from declared procedures and
// every other RPC or batch from a handler, and records every request decoded (login
// fields, RPC parameter types and values) for the tests to assert on.
//
// It is a test fixture, not a database: one thread per connection, every loop bounded in
// time (a responder lives at most kLifetime and stops by itself), loopback addresses only.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

// Type codes of the TDS protocol the fixture knows.
enum : uint8_t {
  kTdsInt1 = 0x30,
  kTdsBit = 0x32,
  kTdsInt2 = 0x34,
  kTdsInt4 = 0x38,
  kTdsDateTime4 = 0x3A,
  kTdsFlt4 = 0x3B,
  kTdsMoney = 0x3C,
  kTdsDateTime = 0x3D,
  kTdsFlt8 = 0x3E,
  kTdsMoney4 = 0x7A,
  kTdsInt8 = 0x7F,
  kTdsIntN = 0x26,
  kTdsDateN = 0x28,
  kTdsTimeN = 0x29,
  kTdsDateTime2N = 0x2A,
  kTdsDateTimeOffsetN = 0x2B,
  kTdsBitN = 0x68,
  kTdsDecimalN = 0x6A,
  kTdsNumericN = 0x6C,
  kTdsFltN = 0x6D,
  kTdsMoneyN = 0x6E,
  kTdsDateTimeN = 0x6F,
  kTdsBigVarBin = 0xA5,
  kTdsBigVarChar = 0xA7,
  kTdsBigBinary = 0xAD,
  kTdsBigChar = 0xAF,
  kTdsNVarChar = 0xE7,
  kTdsNChar = 0xEF,
};

// Chinese_PRC_CI_AS: LCID 0x0804 (code page 936), as shops' databases use.
inline constexpr std::array<uint8_t, 5> kChinesePrcCiAs = {0x04, 0x08, 0xD0, 0x00, 0x00};

struct TdsType {
  uint8_t Code = kTdsIntN;
  uint32_t MaxLen = 4;  // 0xFFFF for a (max) type sent in chunks
  uint8_t Precision = 0;
  uint8_t Scale = 0;
  std::array<uint8_t, 5> Collation = kChinesePrcCiAs;

  static TdsType Int(int bytes = 4) { return {kTdsIntN, static_cast<uint32_t>(bytes)}; }
  static TdsType Float(int bytes = 8) { return {kTdsFltN, static_cast<uint32_t>(bytes)}; }
  static TdsType VarChar(uint32_t n) { return {kTdsBigVarChar, n}; }  // GBK text
  static TdsType NVarChar(uint32_t chars) { return {kTdsNVarChar, chars * 2}; }
  static TdsType DateTime() { return {kTdsDateTimeN, 8}; }
  static TdsType Money() { return {kTdsMoneyN, 8}; }
  static TdsType Decimal(uint8_t p, uint8_t s) { return {kTdsDecimalN, 17, p, s}; }
  static TdsType Bit() { return {kTdsBitN, 1}; }
  // "intn(4)", "bigvarchar(20)", "datetimen(8)", "decimaln(19,4)", ...
  std::string Name() const;
};

struct TdsParam {
  std::string Name;
  bool Output = false;
  TdsType Type;
  std::optional<std::vector<uint8_t>> Raw;  // the value's bytes; nullopt = NULL
  // The value decoded: integers and decimals in decimal, floats with 17 digits, dates as
  // "yyyy-mm-dd hh:mm:ss.mmm", texts as UTF-8 (varchar from GB18030), "NULL" for NULL.
  std::string Text() const;
};

struct TdsLogin {
  uint32_t TdsVersion = 0;
  std::string Host, User, Password, App, Server, Library, Language, Database;
};

struct TdsRequest {
  enum Kind { Batch, Rpc, Attention, Other } What = Other;
  int Connection = 0;  // 1 for the first connection accepted, 2 for the next, ...
  std::string Sql;     // batch text (UTF-8)
  std::string Proc;    // RPC procedure name
  std::vector<TdsParam> Params;
  const TdsParam* Param(const std::string& Name) const;
};

// The token stream of one reply.
class TdsReply {
 public:
  struct Column {
    std::string Name;
    TdsType Type;
  };
  TdsReply& Columns(std::vector<Column> Cols);
  // Values as text, encoded for the columns last declared (nullopt = NULL).
  TdsReply& Row(const std::vector<std::optional<std::string>>& Values);
  TdsReply& Error(int32_t Number, uint8_t Class, const std::string& Message);
  TdsReply& Info(int32_t Number, const std::string& Message);
  TdsReply& ReturnStatus(int32_t Status);
  TdsReply& ReturnValue(uint16_t Ordinal, const std::string& Name, TdsType Type,
                        std::optional<std::string> Value);
  // DONE (0xFD), DONEPROC (0xFE), DONEINPROC (0xFF) with status bits (0x10 count, 0x02 error,
  // 0x01 more, 0x20 attention).
  TdsReply& Done(uint8_t Token, uint16_t Status, uint64_t Rows = 0);
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<Column> cols_;
};

struct TdsAction {
  enum What { Reply, Silent, Close } Do = Reply;
  TdsReply Tokens;
  static TdsAction Answer(TdsReply r) { return {Reply, std::move(r)}; }
  static TdsAction NoAnswer() { return {Silent, {}}; }
  static TdsAction Hangup() { return {Close, {}}; }
};

// A declared parameter of a procedure, as sp_sproc_columns reports it.
struct TdsProcParam {
  std::string Name;  // "@RETURN_VALUE", "@iMTNo", ...
  int ColumnType;    // SQL_PARAM_INPUT 1, SQL_PARAM_INPUT_OUTPUT 2, SQL_RETURN_VALUE 5
  int DataType;      // ODBC SQL type (4 int, 12 varchar, 93 datetime, 3 decimal, 7 real, ...)
  std::string TypeName;
  int Precision;
  int Length;
  int Scale;
};

class TdsResponder {
 public:
  static constexpr std::chrono::seconds kLifetime{90};

  explicit TdsResponder(std::string Address = "127.0.0.1");
  ~TdsResponder();
  TdsResponder(const TdsResponder&) = delete;
  TdsResponder& operator=(const TdsResponder&) = delete;

  const std::string& Address() const { return address_; }
  int Port() const { return port_; }
  // "Driver=FreeTDS;Server=...;Port=...;..." for this responder (+ Extra, ";"-joined).
  std::string OdbcString(const std::string& Extra = {}) const;
  // "Provider=SQLOLEDB.1;...;Data Source=address,port" (+ Extra before Data Source).
  std::string OleDbString(const std::string& Extra = {}) const;

  // Everything below may be called before or between requests.
  void DeclareProc(const std::string& Name, std::vector<TdsProcParam> Params);
  // Answers RPCs (other than sp_sproc_columns) and batches; the default answers DONE.
  void SetHandler(std::function<TdsAction(const TdsRequest&)> Handler);
  // The encryption byte of the prelogin answer (2 = not supported, 3 = required).
  void SetServerEncryption(uint8_t Value);
  // Refuses every login from now on with this server error (18456: login failed).
  void FailLogins(int32_t Number, const std::string& Message);
  // Closes every open connection, as a restarting server does.
  void DropConnections();

  std::vector<TdsRequest> Requests() const;
  std::vector<TdsLogin> Logins() const;
  std::vector<uint8_t> PreloginEncryption() const;  // the client's byte, per connection
  int TlsHandshakes() const;  // connections on which the client began TLS after prelogin
  int Accepted() const;

 private:
  void AcceptLoop();
  void Serve(int fd, int number);
  TdsReply ProcColumns(const TdsRequest& r) const;

  std::string address_;
  int listenFd_ = -1;
  int port_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  mutable std::mutex mu_;
  std::vector<std::thread> workers_;
  std::vector<int> open_;
  std::vector<TdsRequest> requests_;
  std::vector<TdsLogin> logins_;
  std::vector<uint8_t> prelogin_;
  std::vector<std::pair<std::string, std::vector<TdsProcParam>>> procs_;
  std::function<TdsAction(const TdsRequest&)> handler_;
  uint8_t serverEncryption_ = 2;
  int32_t loginError_ = 0;
  std::string loginMessage_;
  int tls_ = 0;
  int accepted_ = 0;
};

// UTF-8 <-> GB18030 / UTF-16LE, for the fixture's encoding of texts.
std::string Utf8ToGb(const std::string& s);
std::string GbToUtf8(const std::string& s);

}  // namespace qv::test
