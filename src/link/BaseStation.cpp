#include "link/BaseStation.h"

#include <cstring>

#include "base/Text.h"
#include "base/ResultCodes.h"

namespace qv {
namespace {

// Holds the polling loop off for one exchange and gives the flag back as it was: a restart
// while an outer polling loop still waits must not let a second loop start inside it.
struct TIdleHold {
  bool* flag;
  bool was;
  explicit TIdleHold(bool* f) : flag(f), was(f ? *f : true) {
    if (flag) *flag = false;
  }
  ~TIdleHold() {
    if (flag) *flag = was;
  }
};

}  // namespace

int TBaseStation::Exchange(uint8_t cmd, const uint8_t* data, uint8_t len) {
  TIdleHold hold(pollIdle_);
  if (ILinkPort* port = link_.Port()) port->SetDtrControl(TLinkDtr::DtrEnable);
  if (switchDelay_) link_.Delay(kBaseSwitchMs);
  link_.SendBaseCmd(cmd, len, data);
  return link_.WaitReply(kBaseReplyMs);
}

int TBaseStation::ReadFirstByte(uint8_t cmd, const uint8_t* data, uint8_t& value) {
  const int r = Exchange(cmd, data, 2);
  if (r != RC_OK) return r;
  // With no data the byte at index 8 is the sum, not a channel.
  if (link_.RecBuffer()[7] < 1) return RC_BADFORMAT;
  value = link_.RecBuffer()[8];
  return RC_OK;
}

int TBaseStation::SetChannel(uint8_t channel, uint8_t& inForce) {
  const uint8_t data[2] = {channel, 0};
  return ReadFirstByte(BASE_SETCHANNEL, data, inForce);
}

int TBaseStation::ReadChannel(uint8_t& channel) {
  const uint8_t data[2] = {0, 0};
  return ReadFirstByte(BASE_READCHANNEL, data, channel);
}

int TBaseStation::ReadAll(uint8_t& channel) {
  const uint8_t data[2] = {0, 0};
  return ReadFirstByte(BASE_READALL, data, channel);
}

int TBaseStation::ReadInfo(TBaseInfo& info) {
  const int r = Exchange(BASE_INFO, nullptr, 0);
  if (r != RC_OK) return r;
  const uint8_t* f = link_.RecBuffer();
  // The version and the station number take the first 20 data bytes; a shorter answer
  // would have us read its sum and trailer as a number.
  if (f[7] < kBaseVersionLen + 4) return RC_BADFORMAT;
  const uint8_t* v = f + 8;
  const void* zero = std::memchr(v, 0, kBaseVersionLen);
  const size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - v) : kBaseVersionLen;
  info.strVersion = GbkToUtf8(std::string(reinterpret_cast<const char*>(v), n));
  info.iStationNo = static_cast<int32_t>(GetU32(v + kBaseVersionLen));
  return RC_OK;
}

int TBaseStation::SetBaseChannel(uint8_t channel) {
  uint8_t now = 0;
  return SetChannel(channel, now) == RC_OK ? now : 0;
}

int TBaseStation::ReadBaseChannel() {
  uint8_t ch = 0;
  return ReadAll(ch) == RC_OK ? ch : 0;
}

bool TBaseStation::ReadBaseInfo(TBaseInfo& info) {
  return ReadInfo(info) == RC_OK;
}

}  // namespace qv
