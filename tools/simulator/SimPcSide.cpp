#include "SimPcSide.h"

#include "link/Frames.h"

namespace qv::sim {

TPcSide::TPcSide(const std::string& path) {
  comm.SetCommName(path);
  comm.SetBaudRate(115200);
  comm.SetReadIntervalTimeout(1);
  comm.SetBurstEndCheck(EndsOnWholeFrame);  // as the service does
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.OnReceiveData = [this](TComm*, const uint8_t* b, uint16_t n) { link.OnReceiveData(b, n); };
  link.SetPort(&port);
  link.SetPump(&pump);
  started = comm.StartComm();
}

TPcSide::~TPcSide() {
  comm.StopComm();
}

}  // namespace qv::sim
