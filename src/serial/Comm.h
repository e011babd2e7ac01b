#pragma once
// Serial-port component: opens a tty, runs one read and one write thread, and hands what
// the threads learn to its owner thread as events through an injected dispatcher.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace qv {

// Carries a call from a worker thread to the owner thread. Post must only queue the call:
// calls run later on the owner thread, one at a time, in the order posted.
class ICommDispatcher {
 public:
  virtual ~ICommDispatcher() = default;
  virtual void Post(std::function<void()> call) = 0;
};

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

// Line-error flags of OnReceiveError (the Windows values, which the service's logs and
// settings have always used).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// Bits of OnModemStateChange.
inline constexpr uint32_t ME_RING = 4;
inline constexpr uint32_t ME_RLSD = 8;

// Bits of GetModemState.
inline constexpr uint32_t MS_CTS_ON = 0x10;
inline constexpr uint32_t MS_DSR_ON = 0x20;
inline constexpr uint32_t MS_RING_ON = 0x40;
inline constexpr uint32_t MS_RLSD_ON = 0x80;

class TComm;

using TReceiveDataEvent = std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, uint32_t ModemEvent)>;
using TSendDataEmptyEvent = std::function<void(TComm* Sender)>;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TReceiveOverflowEvent = std::function<void(TComm* Sender, uint64_t DroppedBytes)>;
// Whether the bytes of a burst gathered so far end where a message of the owner's protocol
// ends; called on the read thread, so it must depend on nothing but its arguments.
using TBurstEndCheck = std::function<bool(const uint8_t* Data, std::size_t Length)>;

// "COMn" (any case, optionally behind "//./" or "\\.\") -> "/dev/ttyS<n-1>"; a name that
// begins with '/' is returned unchanged; anything else gives "" (no device).
std::string CommDevicePath(const std::string& name);

// TIOCMGET bits -> MS_* bits.
uint32_t ModemStateFromTiocm(int tiocm);

// tty devices under sysRoot (normally /sys/class/tty) that have a "device" link, as
// "/dev/<name>" each followed by CR LF, in natural name order. Serial-core ports that
// report no UART behind them (type 0) are left out.
std::string CommListFrom(const std::string& sysRoot);

class TComm {
 public:
  explicit TComm(ICommDispatcher& dispatcher);
  // Stops the port if the owner has not; events still queued for this object are dropped.
  ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // 1 opened; 0 already open; -1 open failed (missing, busy, no permission); -2 not a
  // character device; -3 not a terminal / settings unreadable; -4 no stop descriptor;
  // -5 / -6 read / write thread cannot start.
  int StartComm();
  // Stops both threads and closes the port; queued writes are dropped. Idempotent.
  void StopComm();
  // Writes what the port takes at once when nothing is queued, and queues the rest for the
  // write thread; true means written or queued, not yet on the line.
  bool WriteCommData(const void* pDataToWrite, std::size_t dwSizeofDataToWrite);
  // Each character's low byte as its own write request; stops at the first refusal.
  bool SendData(const std::u16string& data);
  bool SendData(std::string_view data);
  uint32_t GetModemState() const;
  static std::string GetCommList();

  int Handle() const { return hCommFile; }  // -1 while closed
  bool SendDataEmpty() const { return FSendDataEmpty.load(); }
  // Whether the worker threads of the open port are still running (false once a thread
  // has ended after a hangup, and while closed).
  bool ReadThreadActive() const;
  bool WriteThreadActive() const;

  const std::string& CommName() const { return FCommName; }
  uint32_t BaudRate() const { return FBaudRate; }
  bool ParityCheck() const { return FParityCheck; }
  bool Outx_CtsFlow() const { return FOutx_CtsFlow; }
  bool Outx_DsrFlow() const { return FOutx_DsrFlow; }
  TDtrControl DtrControl() const { return FDtrControl; }
  bool DsrSensitivity() const { return FDsrSensitivity; }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  bool Outx_XonXoffFlow() const { return FOutx_XonXoffFlow; }
  bool Inx_XonXoffFlow() const { return FInx_XonXoffFlow; }
  bool ReplaceWhenParityError() const { return FReplaceWhenParityError; }
  bool IgnoreNullChar() const { return FIgnoreNullChar; }
  TRtsControl RtsControl() const { return FRtsControl; }
  uint16_t XonLimit() const { return FXonLimit; }
  uint16_t XoffLimit() const { return FXoffLimit; }
  TByteSize ByteSize() const { return FByteSize; }
  TParity Parity() const { return FParity; }
  TStopBits StopBits() const { return FStopBits; }
  uint8_t XonChar() const { return FXonChar; }
  uint8_t XoffChar() const { return FXoffChar; }
  uint8_t ReplacedChar() const { return FReplacedChar; }
  uint32_t ReadIntervalTimeout() const { return FReadIntervalTimeout; }
  uint32_t ReadTotalTimeoutMultiplier() const { return FReadTotalTimeoutMultiplier; }
  uint32_t ReadTotalTimeoutConstant() const { return FReadTotalTimeoutConstant; }
  uint32_t WriteTotalTimeoutMultiplier() const { return FWriteTotalTimeoutMultiplier; }
  uint32_t WriteTotalTimeoutConstant() const { return FWriteTotalTimeoutConstant; }

  void SetCommName(const std::string& v) { FCommName = v; }
  void SetBaudRate(uint32_t v) { SetLine(FBaudRate, v); }
  void SetParityCheck(bool v) { SetLine(FParityCheck, v); }
  void SetOutx_CtsFlow(bool v) { SetLine(FOutx_CtsFlow, v); }
  void SetOutx_DsrFlow(bool v) { SetLine(FOutx_DsrFlow, v); }
  void SetDtrControl(TDtrControl v) { SetLine(FDtrControl, v); }
  void SetDsrSensitivity(bool v) { SetLine(FDsrSensitivity, v); }
  void SetTxContinueOnXoff(bool v) { SetLine(FTxContinueOnXoff, v); }
  void SetOutx_XonXoffFlow(bool v) { SetLine(FOutx_XonXoffFlow, v); }
  void SetInx_XonXoffFlow(bool v) { SetLine(FInx_XonXoffFlow, v); }
  void SetReplaceWhenParityError(bool v) { SetLine(FReplaceWhenParityError, v); }
  void SetIgnoreNullChar(bool v) { SetLine(FIgnoreNullChar, v); }
  void SetRtsControl(TRtsControl v) { SetLine(FRtsControl, v); }
  void SetXonLimit(uint16_t v) { SetLine(FXonLimit, v); }
  void SetXoffLimit(uint16_t v) { SetLine(FXoffLimit, v); }
  void SetByteSize(TByteSize v) { SetLine(FByteSize, v); }
  void SetParity(TParity v) { FParity = v; }  // reaches the port with the next re-application
  void SetStopBits(TStopBits v) { SetLine(FStopBits, v); }
  void SetXonChar(uint8_t v) { SetLine(FXonChar, v); }
  void SetXoffChar(uint8_t v) { SetLine(FXoffChar, v); }
  void SetReplacedChar(uint8_t v) { SetLine(FReplacedChar, v); }
  void SetReadIntervalTimeout(uint32_t v) { SetTimeout(FReadIntervalTimeout, v); }
  void SetReadTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FReadTotalTimeoutMultiplier, v); }
  void SetReadTotalTimeoutConstant(uint32_t v) { SetTimeout(FReadTotalTimeoutConstant, v); }
  void SetWriteTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FWriteTotalTimeoutMultiplier, v); }
  void SetWriteTotalTimeoutConstant(uint32_t v) { SetTimeout(FWriteTotalTimeoutConstant, v); }

  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TModemStateChangeEvent OnModemStateChange;
  TNotifyEvent OnRequestHangup;
  TSendDataEmptyEvent OnSendDataEmpty;
  // Received chunks wait for the owner thread in a bounded queue: while the owner is busy
  // (a slow database call) a flooded line cannot grow the process. A chunk counts its
  // bytes plus kChunkOverhead for its bookkeeping; one that does not fit is dropped. The
  // owner hears of the bytes dropped once per busy spell, when it catches up.
  static constexpr std::size_t kReceiveQueueLimit = 512 * 1024;
  static constexpr std::size_t kChunkOverhead = 256;
  TReceiveOverflowEvent OnReceiveOverflow;
  // A burst is handed over as soon as this check says its bytes end on a whole message,
  // instead of after the read interval's gap; the gap still ends every other burst. The
  // component knows nothing of the messages: the owner hands the check over. Takes effect
  // at the next StartComm.
  void SetBurstEndCheck(TBurstEndCheck check) { FBurstEndCheck = std::move(check); }

 private:
  struct Session;  // what the two threads of one open port share

  template <class T>
  void SetLine(T& field, T v) {
    if (field == v) return;
    field = v;
    if (hCommFile >= 0) ApplyLineSettings();
  }
  void SetTimeout(uint32_t& field, uint32_t v) {
    if (field == v) return;
    field = v;
    if (hCommFile >= 0) ApplyTimeouts();
  }
  void ApplyLineSettings();
  void ApplyTimeouts();
  void CloseAll();

  static void ReadLoop(Session* s);
  static void WriteLoop(Session* s);

  ICommDispatcher& FDispatcher;
  // Owner-thread flag: false once this object is gone, so late events are dropped.
  std::shared_ptr<bool> FAlive;

  std::unique_ptr<Session> FSession;
  TBurstEndCheck FBurstEndCheck;
  std::thread ReadThread;
  std::thread WriteThread;
  int hCommFile = -1;
  int hCloseEvent = -1;
  std::atomic<bool> FSendDataEmpty{true};

  std::string FCommName = "COM2";
  uint32_t FBaudRate = 9600;
  bool FParityCheck = false;
  bool FOutx_CtsFlow = false;
  bool FOutx_DsrFlow = false;
  TDtrControl FDtrControl = TDtrControl::DtrEnable;
  bool FDsrSensitivity = false;
  bool FTxContinueOnXoff = true;
  bool FOutx_XonXoffFlow = true;
  bool FInx_XonXoffFlow = true;
  bool FReplaceWhenParityError = false;
  bool FIgnoreNullChar = false;
  TRtsControl FRtsControl = TRtsControl::RtsEnable;
  uint16_t FXonLimit = 500;
  uint16_t FXoffLimit = 500;
  TByteSize FByteSize = TByteSize::_8;
  TParity FParity = TParity::None;
  TStopBits FStopBits = TStopBits::_1;
  uint8_t FXonChar = 17;
  uint8_t FXoffChar = 19;
  uint8_t FReplacedChar = 0;
  uint32_t FReadIntervalTimeout = 100;
  uint32_t FReadTotalTimeoutMultiplier = 0;
  uint32_t FReadTotalTimeoutConstant = 0;
  uint32_t FWriteTotalTimeoutMultiplier = 0;
  uint32_t FWriteTotalTimeoutConstant = 0;
};

}  // namespace qv
