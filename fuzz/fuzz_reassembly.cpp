// Feeds random chunks, well-formed frames and mode switches to the reassembly, alone and
// behind the link's receive handler, and aborts unless every complete frame fits the
// 256-byte buffer, every verdict of the acceptance check other than a drop is given to a
// frame with a correct checksum, and every accepted frame carries one. Every chunk also
// goes, in a buffer of exactly its size, to the serial port's frame-end check, which must
// vouch for every whole good frame and for nothing that does not begin with lead bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/Frames.h"
#include "link/Link.h"
#include "link/Reassembly.h"

namespace {

class NullPort : public qv::ILinkPort {
 public:
  bool WriteCommData(const uint8_t*, uint32_t) override { return true; }
  qv::TLinkDtr DtrControl() const override { return dtr; }
  void SetDtrControl(qv::TLinkDtr value) override { dtr = value; }
  qv::TLinkDtr dtr = qv::TLinkDtr::DtrDisable;
};

class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  bool More() const { return i_ < n_; }
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v;
    while (n-- && i_ < n_) v.push_back(d_[i_++]);
    return v;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckAssembler(const qv::TFrameAssembler& a, bool reported) {
  Check(a.RecLen >= 0 && a.RecLen <= static_cast<int>(qv::kRecBufferSize));
  if (reported) Check(a.Complete());
  if (!a.Complete()) return;
  const auto f = a.Frame();
  Check(f.size() >= 2 && f.size() <= qv::kRecBufferSize);
  // A DTR switch between the two lead bytes may pair a lead of one framing with the other's.
  Check(f[0] == qv::kTermLead1 || f[0] == qv::kBaseLead);
  Check(f[1] == qv::kTermLead2 || f[1] == qv::kBaseLead);
}

void CheckVerdict(const qv::TFrameAssembler& a, const qv::TFraming& framing, int32_t served) {
  if (!a.Complete()) return;
  const auto f = a.Frame();
  const qv::TRecCheck c = qv::CheckRecDataOK(framing, f.data(), static_cast<int>(f.size()), served);
  if (c.verdict == qv::TRecVerdict::Drop) return;
  Check(qv::FrameCheckOK(framing, f.data(), f.size()));
  if (c.verdict == qv::TRecVerdict::Interference)
    Check(framing.addressed && qv::FrameWord(f.data()) == qv::CMD_POLL);
  if (c.verdict == qv::TRecVerdict::BaseBusy)
    Check(framing.addressed && served != 0 && c.sender != served &&
          c.sender == static_cast<int32_t>(qv::FrameFieldA(f.data())));
}

void CheckAccepted(const qv::TLink& link, bool base) {
  if (!link.FrameReady()) return;
  const uint8_t* b = link.RecBuffer();
  const int len = link.RecLen();
  Check(len > 0 && len <= static_cast<int>(qv::kRecBufferSize));
  if (base) {
    Check(b[7] + 11 == len);
    Check(b[len - 3] == static_cast<uint8_t>(qv::CalcSum(b, b[7] + 8)));
  } else {
    Check(qv::TermFrameCrcOK(b, static_cast<size_t>(len)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  qv::TFrameAssembler alone;
  NullPort port;
  qv::TLink link;
  link.SetPort(&port);
  bool base = false;
  while (in.More()) {
    const uint8_t op = in.Byte();
    std::vector<uint8_t> chunk;
    bool whole = false;  // one good frame, not cut short
    switch (op % 6) {
      case 0:
        chunk = in.Bytes(in.Byte());
        break;
      case 1: {  // a good terminal frame, maybe cut short
        const uint32_t a = in.Byte();
        const uint8_t lo = in.Byte();
        const uint16_t word = static_cast<uint16_t>(lo | in.Byte() << 8);
        const auto payload = in.Bytes(in.Byte() % (qv::kMaxPayload + 1));
        chunk = qv::BuildTermFrame(a, 0, word, in.Byte(), payload.data(), payload.size());
        whole = true;
        if (op & 0x80) {
          chunk.resize(in.Byte() % chunk.size());
          whole = false;
        }
        break;
      }
      case 2: {  // a good base-station frame, maybe cut short
        const uint8_t cmd = in.Byte();
        const auto d = in.Bytes(in.Byte() % (qv::kMaxBaseData + 1));
        chunk = qv::BuildBaseFrame(cmd, d.data(), d.size());
        whole = true;
        if (op & 0x80) {
          chunk.resize(in.Byte() % chunk.size());
          whole = false;
        }
        break;
      }
      case 3:  // a wait starts
        alone.ResetRecBuffer();
        link.ResetRecBuffer();
        continue;
      case 4:  // the DTR line changes, possibly in the middle of a frame
        base = !base;
        port.dtr = base ? qv::TLinkDtr::DtrEnable : qv::TLinkDtr::DtrDisable;
        continue;
      case 5:
        link.CurPDANo = in.Byte() % 4;
        continue;
    }
    const uint32_t n = static_cast<uint32_t>(chunk.size());
    {
      const std::unique_ptr<uint8_t[]> exact(new uint8_t[n + 1]);
      if (n) std::memcpy(exact.get(), chunk.data(), n);
      const bool ends = qv::EndsOnWholeFrame(exact.get(), n);
      if (whole) Check(ends);
      if (ends)
        Check(n >= qv::kBaseFraming.minLen &&
              ((chunk[0] == qv::kTermLead1 && chunk[1] == qv::kTermLead2) ||
               (chunk[0] == qv::kBaseLead && chunk[1] == qv::kBaseLead)));
    }
    const bool reported =
        base ? alone.BaseDataToRecBuffer(chunk.data(), n) : alone.DataToRecBuffer(chunk.data(), n);
    CheckAssembler(alone, reported);
    CheckVerdict(alone, base ? qv::kBaseFraming : qv::kTermFraming, link.CurPDANo);
    const bool wasReady = link.FrameReady();
    const std::vector<uint8_t> before(link.RecBuffer(), link.RecBuffer() + qv::kRecBufferSize);
    link.OnReceiveData(chunk.data(), n);
    CheckAssembler(link.Rec, false);
    Check(link.bRecFree);
    if (wasReady) {
      // An accepted frame stays as it was until the next wait resets it.
      Check(link.FrameReady());
      Check(std::equal(before.begin(), before.end(), link.RecBuffer()));
    } else {
      CheckAccepted(link, base);
    }
  }
  return 0;
}
