#include "bridge/SharePool.h"

#include <exception>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/Text.h"
#include "bridge/DbLink.h"
#include "base/Fields.h"

namespace qv {
namespace {

// Component names follow identifier rules; a name breaking them is refused, as the
// component framework always did.
bool IsValidIdent(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

}  // namespace

TShareDataSet::TShareDataSet() : dtLatelyOp(ClockNow()) {}

TShareDataSet::~TShareDataSet() {
  if (sdsDataSet) {
    sdsDataSet->Close();
    sdsDataSet.reset();
  }
}

void TShareDataSet::setDataSet(std::unique_ptr<db::TADOStoredProc> DataSet) {
  sdsDataSet = std::move(DataSet);
}

void TShareDataSet::setLatelyOpTime() {
  dtLatelyOp = ClockNow();
}

TShareDataSetList& SHARE_DATASET_LIST() {
  // The data module first, so that it outlives the pooled datasets on its connection.
  static TdtDbLink& module = dtDbLink();
  (void)module;
  static TShareDataSetList list;
  return list;
}

bool getShareDataset(int iID, const std::string& Group, TShareDataSetPtr& Entry) {
  Entry.reset();
  return get_Valid_ShareDataset(iID, Group, Entry) && Entry != nullptr;
}

bool get_Valid_ShareDataset(int iID, const std::string& Group, TShareDataSetPtr& Entry) {
  try {
    const std::string group = UpperCase(Group);
    TShareDataSetList& list = SHARE_DATASET_LIST();
    TShareDataSetPtr found;
    for (auto it = list.Items.rbegin(); it != list.Items.rend(); ++it) {
      if ((*it)->getID() == iID && (*it)->getGroup() == group) {
        found = *it;
        break;
      }
    }
    if (!found) found = newShareDataset(iID, group);
    if (!found) throw std::runtime_error("no dataset for " + group + std::to_string(iID));
    Entry = found;
    Entry->setLatelyOpTime();
    return true;
  } catch (const std::exception& e) {
    WriteErrLog(std::string("get_Valid_ShareDataset Except:") + e.what());
    return false;
  }
}

TShareDataSetPtr newShareDataset(int iID, const std::string& Group) {
  TShareDataSetList& list = SHARE_DATASET_LIST();
  std::lock_guard<std::recursive_mutex> lock(list.Lock);
  const std::string name = "SQLProc" + Trim(Group + std::to_string(iID));
  WriteResultLog("newShareDataset(" + std::to_string(iID) + "," + Group + ")");
  try {
    if (!IsValidIdent(name)) throw std::runtime_error("\"" + name + "\" is not a valid component name");
    auto dataSet = std::make_unique<db::TADOStoredProc>(&dtDbLink().LocalDbLink);
    dataSet->SetName(name);
    dataSet->SetLockType(db::TLockType::ltReadOnly);
    auto entry = std::make_shared<TShareDataSet>();
    entry->setID(iID);
    entry->setGroup(Group);
    entry->setDataSet(std::move(dataSet));
    WriteResultLog("add to SHARE_DATASET_LIST now");
    list.Items.push_back(entry);
    WriteResultLog("add to SHARE_DATASET_LIST complete DateSet.name=" + entry->getDataSet()->Name());
    return entry;
  } catch (const std::exception& e) {
    WriteResultLog("newShareDataset \"" + name + "\" except:" + e.what());
    return nullptr;
  }
}

void FreeShareData(const TShareDataSet& Entry) {
  TShareDataSetList& list = SHARE_DATASET_LIST();
  std::lock_guard<std::recursive_mutex> lock(list.Lock);
  try {
    // Copies: Entry may be the very entry being removed.
    const int id = Entry.getID();
    const std::string group = Entry.getGroup();
    for (size_t i = list.Items.size(); i-- > 0;) {
      const TShareDataSetPtr& item = list.Items[i];
      if (item->getID() == id && item->getGroup() == group) {
        if (db::TADOStoredProc* ds = item->getDataSet()) ds->Close();
        list.Items.erase(list.Items.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  } catch (const std::exception& e) {
    WriteErrLog(std::string("FreeShareData except:") + e.what());
  }
}

void FreeDataSetLink() {
  // Inside a request's wait: the next sweep does it, once no dataset is being run.
  if (DbCallUnderWay()) return;
  TShareDataSetList& list = SHARE_DATASET_LIST();
  std::lock_guard<std::recursive_mutex> lock(list.Lock);
  try {
    const auto now = ClockNow();
    for (size_t i = list.Items.size(); i-- > 0;) {
      try {
        const TShareDataSetPtr& item = list.Items[i];
        const auto idle = std::chrono::duration_cast<std::chrono::seconds>(now - item->getLatelyOpTime());
        if (idle.count() >= 30) {
          if (db::TADOStoredProc* ds = item->getDataSet()) ds->Close();
          list.Items.erase(list.Items.begin() + static_cast<std::ptrdiff_t>(i));
        }
      } catch (const std::exception& e) {
        WriteErrLog(std::string("FreeDataSetLink except:") + e.what());
        break;
      }
    }
  } catch (const std::exception& e) {
    WriteErrLog(std::string("FreeDataSetLink Except:") + e.what());
  }
}

void FreeShareDataSetList() {
  TShareDataSetList& list = SHARE_DATASET_LIST();
  std::lock_guard<std::recursive_mutex> lock(list.Lock);
  try {
    for (TShareDataSetPtr& item : list.Items) item.reset();
    list.Items.clear();
  } catch (const std::exception& e) {
    WriteErrLog(std::string("FreeShareDataSetList except:") + e.what());
  }
}

}  // namespace qv
