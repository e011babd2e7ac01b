// Times the database access layer on a real server (PostgreSQL through libpq, or any
// connection string the layer accepts whose server has the procedure below).
// Prints, per kind of call: calls, microseconds per call, server round trips per call.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "db/Db.h"

using namespace qv::db;
using Clock = std::chrono::steady_clock;

namespace {

void Measure(TADOConnection& c, const char* what, int n, const std::function<void()>& f,
             int rowsPerCall = 0) {
  f();  // warm-up
  c.ResetRoundTrips();
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) f();
  double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  std::printf("%-34s %6d calls %10.1f us/call %6.2f trips/call", what, n, us / n,
              static_cast<double>(c.RoundTrips()) / n);
  if (rowsPerCall > 0) std::printf(" %8.2f us/row", us / n / rowsPerCall);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("QV_TEST_PG");
  std::string cs = argc > 1 ? argv[1] : (env ? env : "");
  int n = argc > 2 ? std::atoi(argv[2]) : 200;
  if (cs.empty()) {
    std::fprintf(stderr, "usage: bench_db CONNSTRING [iterations]  (or set QV_TEST_PG)\n");
    return 2;
  }
  try {
    TADOConnection c(cs);
    c.Open();
    if (c.Backend() != TBackend::PostgreSQL) {
      std::fprintf(stderr, "bench_db: creates its procedure with PL/pgSQL; give a PostgreSQL string\n");
      return 2;
    }
    std::string proc = "qvbench" + std::to_string(getpid());
    c.Execute(
        "create procedure public.\"" + proc +
        "\"(\"@iMTNo\" integer, \"@cTableNo\" varchar, INOUT \"@iResult\" integer, "
        "INOUT \"@strResult\" varchar, INOUT \"@rs\" refcursor default null) language plpgsql as $$ begin "
        "\"@iResult\" := 0; \"@strResult\" := 'ok'; "
        "open \"@rs\" for select g as \"iRecNo\", lpad(g::text, 5, '0') as \"cDishCode\", "
        "'菜品' || g as \"cDishName\", '份'::char(4) as \"cUnit\", (g * 0.5)::numeric(10,2) as \"fPrice\" "
        "from generate_series(1, \"@iMTNo\") g; end $$");
    struct Drop {
      TADOConnection& c;
      std::string p;
      ~Drop() {
        try {
          c.Execute("drop procedure public.\"" + p + "\"");
        } catch (...) {
        }
      }
    } drop{c, proc};

    TADOStoredProc sp(&c);
    sp.SetProcedureName(proc);
    Measure(c, "Parameters.Refresh", n, [&] { sp.Parameters().Refresh(); });
    auto bind = [&](int rows) {
      sp.ParamByName("@iMTNo").SetInteger(rows);
      sp.ParamByName("@cTableNo").SetString("A01");
      sp.ParamByName("@iResult").SetInteger(0);
      sp.ParamByName("@strResult").SetString("");
    };
    Measure(c, "ExecProc (outputs only)", n, [&] {
      bind(1);
      sp.ExecProc();
    });
    for (int rows : {1, 100, 2000}) {
      std::string label = "Open + read all, " + std::to_string(rows) + " rows";
      Measure(
          c, label.c_str(), rows >= 2000 ? std::max(1, n / 10) : n,
          [&] {
            bind(rows);
            sp.Open();
            size_t sum = 0;
            for (sp.First(); !sp.Eof(); sp.Next()) sum += sp.FieldByName("cDishName").AsString().size();
            if (sum == 0) std::abort();
          },
          rows);
    }
    TADOQuery q(&c);
    q.SetSQL(LinkCheckSql(c));
    Measure(c, "link check query", n, [&] { q.Open(); });
    q.SetSQL(ProcListSql(c));
    Measure(c, "procedure list query", n, [&] { q.Open(); });
  } catch (const EDatabaseError& e) {
    std::fprintf(stderr, "bench_db: %s\n", e.what());
    return 1;
  }
  return 0;
}
