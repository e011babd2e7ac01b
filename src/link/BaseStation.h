#pragma once
// Configuration exchanges with the radio base station itself: set and read the channel,
// read all parameters, read the version text and station number. Each exchange raises
// DTR, lets the station switch over, sends one command frame and waits 200 ms.
#include <cstdint>
#include <string>

#include "base/ResultCodes.h"
#include "link/Link.h"

namespace qv {

// Command codes of base-station command frames (byte 6).
constexpr uint8_t BASE_DETECT = 0;
constexpr uint8_t BASE_SETMODULERATE = 1;
constexpr uint8_t BASE_READMODULERATE = 2;
constexpr uint8_t BASE_SETAIRRATE = 3;
constexpr uint8_t BASE_READAIRRATE = 4;
constexpr uint8_t BASE_SETCHANNEL = 5;
constexpr uint8_t BASE_READCHANNEL = 6;
constexpr uint8_t BASE_SETALL = 14;
constexpr uint8_t BASE_READALL = 21;
constexpr uint8_t BASE_INFO = 0xA0;

constexpr int kBaseSwitchMs = 100;    // DTR raised -> configuration mode
constexpr int kBaseReplyMs = 200;     // the station's time to answer
constexpr size_t kBaseInfoLen = 144;  // data bytes of a base-information answer
constexpr size_t kBaseVersionLen = 16;

struct TBaseInfo {
  std::string strVersion;  // UTF-8, up to the first 0x00 of the 16-byte field
  int32_t iStationNo = 0;
};

class TBaseStation {
 public:
  // switchDelay false: a port that stays in configuration mode (the dialog's own port).
  // pollIdle, when given, is held false for each exchange and set true again afterwards,
  // so that no polling loop starts inside the waits.
  explicit TBaseStation(TLink& link, bool switchDelay = true, bool* pollIdle = nullptr)
      : link_(link), switchDelay_(switchDelay), pollIdle_(pollIdle) {}

  // One exchange: RC_OK with the answer in the link's RecBuffer, RC_TIMEOUT on time-out.
  int Exchange(uint8_t cmd, const uint8_t* data, uint8_t len);

  // Result codes: RC_OK, RC_TIMEOUT, or RC_BADFORMAT for an answer too short for what the
  // command reads from it; the value is set on RC_OK only.
  int SetChannel(uint8_t channel, uint8_t& inForce);
  int ReadChannel(uint8_t& channel);  // command 6
  int ReadAll(uint8_t& channel);      // command 21; only the channel is used
  int ReadInfo(TBaseInfo& info);

  // The start sequence's forms: the channel, 0 when there was no usable answer.
  int SetBaseChannel(uint8_t channel);
  int ReadBaseChannel();  // command 21, as the start sequence sends it
  bool ReadBaseInfo(TBaseInfo& info);

 private:
  int ReadFirstByte(uint8_t cmd, const uint8_t* data, uint8_t& value);

  TLink& link_;
  bool switchDelay_;
  bool* pollIdle_;
};

}  // namespace qv
