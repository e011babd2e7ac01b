#pragma once
// What the service needs of the database layer: the connection string, connect, the link
// check, the connection test, the linked flag and the idle-pool sweep.
#include <functional>
#include <memory>
#include <string>

namespace qv {

class IDbService {
 public:
  virtual ~IDbService() = default;
  virtual std::string GetConnectionString() = 0;
  virtual bool ConnectDatabase(const std::string& connStr) = 0;
  virtual bool CheckDbLink() = 0;
  // A temporary connection with a 1-second time-out.
  virtual bool TestLinkString(const std::string& connStr) = 0;
  virtual bool GetDbLinked() = 0;
  virtual void SetDbLinked(bool linked) = 0;
  virtual void FreeDataSetLink() = 0;
  // Called after each link check that a request ran at once on finding the link down.
  virtual void SetLinkCheckedHook(std::function<void()>) {}
  // A request is running on the service's connection: the program is inside its wait, and
  // nothing else may reach the database until it ends.
  virtual bool CallUnderWay() { return false; }
  // Gives the request under way up: it is cancelled on the server and fails, so that the
  // exchange waiting for it ends as a time-out would. Nothing happens when none runs.
  virtual void CancelCall() {}
};

// The bridge's data module (created here, before the service); its connection's requests
// wait inside the Qt event loop from now on.
std::unique_ptr<IDbService> MakeDbService();

}  // namespace qv
