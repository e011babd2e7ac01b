#pragma once
// The pool of per-terminal procedure datasets: one entry per (terminal, command group),
// kept across the calls of one read or one upload, swept after 30 idle seconds.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/Db.h"

namespace qv {

class TShareDataSet {
 public:
  TShareDataSet();
  virtual ~TShareDataSet();  // closes and frees the dataset
  TShareDataSet(const TShareDataSet&) = delete;
  TShareDataSet& operator=(const TShareDataSet&) = delete;

  void setID(int ID) { PDAId = ID; }
  int getID() const { return PDAId; }
  void setGroup(const std::string& Group) { sdsGroup = Group; }
  const std::string& getGroup() const { return sdsGroup; }
  // Takes ownership.
  void setDataSet(std::unique_ptr<db::TADOStoredProc> DataSet);
  db::TADOStoredProc* getDataSet() const { return sdsDataSet.get(); }
  void setLatelyOpTime();  // now, by the program's clock (base/Clock.h)
  void setLatelyOpTime(std::chrono::system_clock::time_point When) { dtLatelyOp = When; }
  std::chrono::system_clock::time_point getLatelyOpTime() const { return dtLatelyOp; }
  void setFreeFlag(bool Flag) { bFreeFlag = Flag; }
  bool getFreeFlag() const { return bFreeFlag; }

 private:
  int PDAId = 0;
  std::string sdsGroup;
  bool bFreeFlag = false;
  std::unique_ptr<db::TADOStoredProc> sdsDataSet;
  std::chrono::system_clock::time_point dtLatelyOp;
};

using TShareDataSetPtr = std::shared_ptr<TShareDataSet>;

// The process-wide list and its re-entrant lock. Entries are shared so that a caller
// holding one survives a sweep that runs meanwhile.
struct TShareDataSetList {
  std::vector<TShareDataSetPtr> Items;
  std::recursive_mutex Lock;
};
TShareDataSetList& SHARE_DATASET_LIST();

// Entry := none, then get_Valid_ShareDataset; true only when an entry was given.
bool getShareDataset(int iID, const std::string& Group, TShareDataSetPtr& Entry);
// Finds or creates the entry of (iID, upper-cased Group) and stamps its last use.
bool get_Valid_ShareDataset(int iID, const std::string& Group, TShareDataSetPtr& Entry);
// Creates, registers and returns a new entry on the data module's connection, or none.
TShareDataSetPtr newShareDataset(int iID, const std::string& Group);
// Removes the entry with Entry's key, closing and freeing its dataset.
void FreeShareData(const TShareDataSet& Entry);
// The idle sweep: removes every entry unused for 30 whole seconds or more; nothing while a
// request runs on the data module's connection.
void FreeDataSetLink();
// Frees every entry (program end; tests between cases).
void FreeShareDataSetList();

}  // namespace qv
