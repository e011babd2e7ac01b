#pragma once
// Small pieces the service, the window and the dialogs share.
#include <QString>
#include <string>

namespace qv {

inline constexpr const char* kAppTitle = "433无线服务程序";
inline constexpr const char* kVersion = "V3.06.160822";

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
  return s.toStdString();
}

// Text for a port-open result.
std::string GetStartCommMsg(int code);

// "//./" in front of a port name whose text from the fourth character on is a number of
// 10 or more (COM12 -> //./COM12); any other name unchanged.
std::string ServicePortName(const std::string& name);

// The optional port provider libextrares.so, from the executable's own directory, else
// the installation's library directory beside it (bin/../lib): GetComPort(2), or -1 when
// there is no library or no export. Never from the data directory.
int GetExtComPort();
}  // namespace qv
