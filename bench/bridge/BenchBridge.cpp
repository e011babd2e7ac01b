// Times the bridge on a real server: one W-PLU read of 2,000 dishes row by row, and one
// stocktaking upload of 200 records, with the server round trips each one costs.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "base/Settings.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"
#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string WithDbName(const std::string& conn, const std::string& db) {
  std::istringstream in(conn);
  std::string word, out;
  bool done = false;
  while (in >> word) {
    if (word.rfind("dbname=", 0) == 0) {
      word = "dbname=" + db;
      done = true;
    }
    out += (out.empty() ? "" : " ") + word;
  }
  if (!done) out += " dbname=" + db;
  return out;
}

const char* kSetup = R"SQL(
CREATE TABLE dish(code varchar(5), sort_code varchar(4), name varchar(20), unit varchar(4),
  price numeric(10,2), group_flag smallint, now_price_flag smallint, recommend_flag smallint,
  spec_flag smallint, code_index varchar(10), db_unit smallint);
INSERT INTO dish SELECT lpad(i::text, 5, '0'), lpad((i % 20)::text, 2, '0'), '菜品' || i, '份',
  (i % 300) + 0.5, 0, 0, i % 2, 0, 'CP' || i, 0 FROM generate_series(1, 2000) i;
CREATE PROCEDURE "MT_Get_Dish_Info"("@sBase" integer, "@iMTNo" integer,
  INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '',
  INOUT "@rs" refcursor DEFAULT NULL)
LANGUAGE plpgsql AS $$
BEGIN
  OPEN "@rs" FOR SELECT code AS "cCode", sort_code AS "cSortCode", name AS "cName",
    unit AS "cUnit", price AS "fPrice", group_flag AS "bGroupFlag",
    now_price_flag AS "bNowPriceFlag", recommend_flag AS "bRecommendFlag",
    spec_flag AS "bSpecFlag", code_index AS "cCodeIndex", db_unit AS "bDbUnit"
    FROM dish ORDER BY code;
END $$;
CREATE TABLE bill_line(pda int, bill varchar(15), goods varchar(30), qty numeric, price numeric);
CREATE TABLE bill_post(pda int, bill varchar(15), lines int);
CREATE PROCEDURE "pda_ins_bill_inf"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cBillNO" varchar, "@cSupplyCode" varchar, "@cStrCode" varchar, "@fQty" numeric,
  "@fPrice" numeric, INOUT "@iResult" integer DEFAULT 0, INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO bill_line VALUES ("@iPDANo", "@cBillNO", "@cStrCode", "@fQty", "@fPrice");
END $$;
CREATE PROCEDURE "pda_bat_bill_inf"("@iPDANo" integer, "@cShopNo" varchar, "@iBillType" integer,
  "@cBatchno" varchar, "@cBillNO" varchar, INOUT "@iResult" integer DEFAULT 0,
  INOUT "@strResult" varchar DEFAULT '')
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO bill_post SELECT "@iPDANo", "@cBillNO", count(*) FROM bill_line
    WHERE pda = "@iPDANo" AND bill = "@cBillNO";
END $$;
)SQL";

struct Figures {
  int rows = 0;
  double seconds = 0;
  uint64_t trips = 0;
};

void Print(const char* what, const Figures& f) {
  std::printf("%-34s %5d rows  %8.3f ms total  %7.1f us/row  %4llu round trips  %.4f trips/row\n", what,
              f.rows, f.seconds * 1e3, f.rows ? f.seconds * 1e6 / f.rows : 0.0,
              static_cast<unsigned long long>(f.trips), f.rows ? double(f.trips) / f.rows : 0.0);
}

Figures ReadPlu(int terminal) {
  qv::TADOConnection& conn = qv::dtDbLink().LocalDbLink;
  Figures f;
  const uint64_t before = conn.RoundTrips();
  const auto start = Clock::now();
  std::string text, result;
  int flag = -1;
  while (true) {
    const int r = qv::cb_Read_Data_SQLPROC("W-PLU", terminal, text, &flag, result);
    if (r != 0) {
      std::fprintf(stderr, "W-PLU read failed with %d\n", r);
      std::exit(1);
    }
    if (flag < 1) break;
    ++f.rows;
    flag = 1;
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.trips = conn.RoundTrips() - before;
  return f;
}

Figures Upload(int terminal, int records) {
  qv::TADOConnection& conn = qv::dtDbLink().LocalDbLink;
  Figures f;
  const uint64_t before = conn.RoundTrips();
  const auto start = Clock::now();
  std::string result;
  qv::ClearLastBillNo();
  for (int i = 0; i < records; ++i) {
    const std::string text =
        "\"B" + std::to_string(terminal) + "\",\"SUP1\",\"690" + std::to_string(100000 + i) + "\",1.5,12.00";
    const int r = qv::cb_Save_Data_SQLPROC("W-PDIN", terminal, text, result, i == records - 1);
    if (r != 0) {
      std::fprintf(stderr, "upload record %d failed with %d\n", i, r);
      std::exit(1);
    }
    ++f.rows;
  }
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.trips = conn.RoundTrips() - before;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("QV_TEST_PG");
  const std::string server = argc > 1 ? argv[1] : env != nullptr ? env : "";
  if (server.empty()) {
    std::fprintf(stderr, "usage: bench_bridge CONNSTRING (or set QV_TEST_PG)\n");
    return 2;
  }
  qv::SysSet().writeResult = false;
  qv::SysSet().ShopNO = "S01";
  const std::string name = "qvbench_" + std::to_string(getpid());
  int status = 0;
  try {
    qv::TADOConnection admin(server);
    admin.Open();
    admin.Execute("CREATE DATABASE " + name + " TEMPLATE template0 ENCODING 'UTF8'");
    {
      qv::TADOConnection setup(WithDbName(server, name));
      setup.Open();
      setup.Execute(kSetup);
    }
    if (!qv::ConnectDatabase(WithDbName(server, name))) {
      std::fprintf(stderr, "cannot connect to %s\n", name.c_str());
      status = 1;
    } else {
      Print("W-PLU read, first", ReadPlu(5));
      Print("W-PLU read, again (new pool entry)", ReadPlu(5));
      Print("upload W-PDIN, first", Upload(6, 200));
      Print("upload W-PDIN, again", Upload(7, 200));
    }
    // The demo database's own dish list, when the server holds it.
    qv::FreeShareDataSetList();
    qv::ResetDbLink();
    if (qv::ConnectDatabase(server)) {
      qv::TADOStoredProc probe(&qv::dtDbLink().LocalDbLink);
      probe.SetProcedureName("MT_Get_Dish_Info");
      if (qv::dtDbLink().SQL_OBJ_EXISTS(probe) == 0) Print("W-PLU read, given database", ReadPlu(8));
    }
    qv::FreeShareDataSetList();
    qv::ResetDbLink();
    admin.Execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_bridge: %s\n", e.what());
    status = 1;
  }
  return status;
}
