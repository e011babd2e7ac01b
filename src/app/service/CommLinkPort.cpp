#include "app/service/CommLinkPort.h"

#include <string>

#include "base/Logging.h"
#include "link/Frames.h"

namespace qv {

bool TCommLinkPort::WriteCommData(const uint8_t* data, uint32_t count) {
  return comm_.WriteCommData(data, count);
}

TLinkDtr TCommLinkPort::DtrControl() const {
  return comm_.DtrControl() == TDtrControl::DtrEnable ? TLinkDtr::DtrEnable : TLinkDtr::DtrDisable;
}

void TCommLinkPort::SetDtrControl(TLinkDtr value) {
  comm_.SetDtrControl(value == TLinkDtr::DtrEnable ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
}

void DesignBasePort(TComm& comm, bool inXonXoff) {
  comm.SetCommName("COM2");
  comm.SetBaudRate(9600);
  comm.SetByteSize(TByteSize::_8);
  comm.SetParity(TParity::None);
  comm.SetParityCheck(false);
  comm.SetStopBits(TStopBits::_1);
  comm.SetDtrControl(TDtrControl::DtrEnable);
  comm.SetRtsControl(TRtsControl::RtsEnable);
  comm.SetOutx_CtsFlow(false);
  comm.SetOutx_DsrFlow(false);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(inXonXoff);
  comm.SetReadIntervalTimeout(1);
  // A whole frame goes to the link at once; the 1 ms gap ends anything else.
  comm.SetBurstEndCheck(EndsOnWholeFrame);
  comm.OnReceiveOverflow = [](TComm* c, uint64_t dropped) {
    WriteErrLog("OnReceiveData: " + std::to_string(dropped) + " bytes received on " + c->CommName() +
                " while the program was busy were dropped (the receive queue holds " +
                std::to_string(TComm::kReceiveQueueLimit / 1024) + " KB)");
  };
}

}  // namespace qv
