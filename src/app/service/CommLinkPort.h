#pragma once
// The link's port seam over a serial component.
#include "link/LinkInterfaces.h"
#include "serial/Comm.h"

namespace qv {

class TCommLinkPort : public ILinkPort {
 public:
  explicit TCommLinkPort(TComm& comm) : comm_(comm) {}
  bool WriteCommData(const uint8_t* data, uint32_t count) override;
  TLinkDtr DtrControl() const override;
  void SetDtrControl(TLinkDtr value) override;

 private:
  TComm& comm_;
};

// The designed line settings of the base-station ports: COM2, 9600 8N1, DTR and RTS on,
// 1 ms read interval with the link's burst-end check (a whole frame goes at once); the
// dialog's port also takes incoming XON/XOFF. Received bytes
// dropped while the program was busy get one line in the error log.
void DesignBasePort(TComm& comm, bool inXonXoff);

}  // namespace qv
