// The access layer against a real PostgreSQL server (QV_TEST_PG, set by scripts/test).
// Every test makes its own objects: a schema for tables and public procedures whose names
// carry the process id (ctest runs tests in parallel processes).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "db/Db.h"

using namespace qv::db;

namespace {

class Pg : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* s = std::getenv("QV_TEST_PG");
    if (!s || !*s)
      GTEST_SKIP() << "QV_TEST_PG is not set (scripts/test sets it; by hand: "
                      "export QV_TEST_PG=$(scripts/pg-fixture start /tmp/qv-pg))";
    cs_ = s;
    conn_.SetConnectionString(cs_);
    conn_.Open();
    tag_ = "qvt" + std::to_string(getpid());
    schema_ = tag_ + "_s";
    conn_.Execute("create schema " + schema_);
  }
  void TearDown() override {
    if (cs_.empty()) return;
    try {
      TADOConnection c(cs_);
      c.Open();
      for (const auto& p : procs_) c.Execute("drop procedure if exists public.\"" + p + "\"");
      c.Execute("drop schema if exists " + schema_ + " cascade");
    } catch (const std::exception& e) {
      ADD_FAILURE() << "clean-up: " << e.what();
    }
  }
  // Creates public."<tag>_<name>"(args) with the body; returns the full name.
  std::string Proc(const std::string& name, const std::string& args, const std::string& body) {
    std::string full = tag_ + "_" + name;
    conn_.Execute("create procedure public.\"" + full + "\"(" + args + ") language plpgsql as $q$ begin " +
                  body + " end $q$");
    procs_.push_back(full);
    return full;
  }
  std::string T(const std::string& table) const { return schema_ + "." + table; }

  std::string cs_, tag_, schema_;
  std::vector<std::string> procs_;
  TADOConnection conn_;
};

const char* kStd =
    R"("@iMTNo" integer, "@cTableNo" varchar, INOUT "@iResult" integer, INOUT "@strResult" varchar)";

TEST_F(Pg, ConnectAndBadConnect) {
  EXPECT_TRUE(conn_.Connected());
  EXPECT_EQ(conn_.Backend(), TBackend::PostgreSQL);
  conn_.Close();
  EXPECT_FALSE(conn_.Connected());
  conn_.Open();
  EXPECT_TRUE(conn_.Connected());

  TADOConnection bad("host=/nonexistent-qv-dir dbname=demo user=postgres");
  bad.SetConnectionTimeout(2);
  try {
    bad.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Connect);
    EXPECT_NE(std::string(e.what()).find("cannot connect"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(bad.Connected());

  TADOConnection nodb(cs_ + " dbname=qv_no_such_database");
  EXPECT_THROW(nodb.Open(), EDatabaseError);
  EXPECT_FALSE(nodb.Connected());
}

TEST_F(Pg, ProviderStringReachesTheSameServer) {
  // "host=DIR dbname=demo user=postgres" rewritten in the ADO shape
  std::string host = cs_.substr(cs_.find("host=") + 5);
  host = host.substr(0, host.find(' '));
  TADOConnection c("Provider=PostgreSQL;Data Source=" + host + ";Initial Catalog=demo;User ID=postgres");
  c.Open();
  TADOQuery q(&c);
  q.SetSQL(LinkCheckSql(c));
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
}

TEST_F(Pg, QueryCursorAndLocate) {
  conn_.Execute("create table " + T("t") + " (id int, name text)");
  EXPECT_EQ(conn_.Execute("insert into " + T("t") + " values (1,'a'),(2,'b'),(3,NULL)"), 3);
  TADOQuery q(&conn_);
  q.SetSQL("select id, name as \"Name\" from " + T("t") + " order by id");
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.Eof());
  q.Open();
  ASSERT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(q.FieldCount(), 2);
  EXPECT_EQ(q.Fields(1).FieldName(), "Name");
  std::vector<std::string> seen;
  for (q.First(); !q.Eof(); q.Next())
    seen.push_back(q.FieldByName("ID").AsString() + ":" + q.FieldByName("name").AsString());
  EXPECT_EQ(seen, (std::vector<std::string>{"1:a", "2:b", "3:"}));
  EXPECT_THROW(q.FieldByName("id").AsString(), EDatabaseError);  // past the end
  q.First();
  EXPECT_TRUE(q.Locate("name", "b"));
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 2);
  EXPECT_FALSE(q.Locate("name", "B"));  // case-sensitive
  EXPECT_FALSE(q.Locate("name", "zz"));
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 2);  // position unchanged
  EXPECT_TRUE(q.Locate("name", ""));              // NULL renders as ""
  EXPECT_TRUE(q.FieldByName("name").IsNull());
  EXPECT_THROW(q.FieldByName("nope"), EDatabaseError);
  try {
    q.FieldByName("nope");
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::NotFound);
  }
  EXPECT_THROW(q.Locate("nope", "1"), EDatabaseError);
  q.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.RecordCount(), 0);

  // a statement with no rows: not active, no exception
  q.SetSQL("update " + T("t") + " set id = id");
  q.Open();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.ExecSQL(), 3);

  // an empty result
  q.SetSQL("select id from " + T("t") + " where false");
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_TRUE(q.Eof());

  // an error leaves the connection usable
  q.SetSQL("select * from " + T("missing"));
  EXPECT_THROW(q.Open(), EDatabaseError);
  EXPECT_TRUE(conn_.Connected());
  q.SetSQL("select 1 as x");
  q.Open();
  EXPECT_EQ(q.FieldByName("x").AsString(), "1");
}

// A value bound to a placeholder is compared, never read as SQL, whatever it holds.
TEST_F(Pg, ParametersTravelApartFromTheStatement) {
  conn_.Execute("create table " + T("names") + " (n text)");
  TADOQuery ins(&conn_);
  ins.SetSQL("insert into " + T("names") + " values ($1), ($2)");
  ins.SetParams({"x'); drop table " + T("names") + "; --", "凉菜"});
  EXPECT_EQ(ins.ExecSQL(), 2);
  TADOQuery q(&conn_);
  q.SetSQL("select n from " + T("names") + " where n = $1");
  q.SetParams({"x'); drop table " + T("names") + "; --"});
  conn_.ResetRoundTrips();
  q.Open();
  EXPECT_EQ(conn_.RoundTrips(), 1u);
  ASSERT_EQ(q.RecordCount(), 1);
  q.SetParams({"凉菜"});
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "凉菜");
  q.SetParams({"nobody"});
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  // A parameterised text is one statement: a second one is refused, not run.
  q.SetSQL("select $1::text as a; drop table " + T("names"));
  q.SetParams({"a"});
  EXPECT_THROW(q.Open(), EDatabaseError);
  q.SetSQL("select count(*) from " + T("names"));
  q.SetParams({});
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "2");
}

TEST_F(Pg, ProcListAndLinkCheck) {
  std::string name = Proc("Listed", kStd, "null;");
  TADOQuery list(&conn_);
  list.SetSQL(ProcListSql(conn_));
  list.Open();
  EXPECT_TRUE(list.Locate("name", name));
  EXPECT_FALSE(list.Locate("name", tag_ + "_listed"));  // exact name
  TADOQuery check(&conn_);
  check.SetSQL(LinkCheckSql(conn_));
  check.Open();
  EXPECT_EQ(check.RecordCount(), 1);
}

TEST_F(Pg, RefreshReadsTheDeclaration) {
  std::string name =
      Proc("Get", std::string(kStd) + R"(, "@fQty" numeric, "@bFlag" boolean, INOUT "@rs" refcursor)",
           R"(open "@rs" for select 1 as a;)");
  TADOStoredProc sp(&conn_);
  sp.SetName("SQLProcRTBILL1");
  sp.SetLockType(TLockType::ltReadOnly);
  sp.SetProcedureName(name);
  EXPECT_EQ(sp.Parameters().Count(), 0);
  conn_.ResetRoundTrips();
  ASSERT_TRUE(sp.Parameters().Refresh());
  EXPECT_EQ(conn_.RoundTrips(), 1u);
  auto& ps = sp.Parameters();
  ASSERT_EQ(ps.Count(), 6);  // the refcursor is hidden
  const char* names[] = {"@iMTNo", "@cTableNo", "@iResult", "@strResult", "@fQty", "@bFlag"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ps[i].Name(), names[i]);
  EXPECT_EQ(ps[0].Direction(), TParameterDirection::pdInput);
  EXPECT_EQ(ps[0].DataType(), TFieldType::ftInteger);
  EXPECT_EQ(ps[0].ServerType(), "integer");
  EXPECT_EQ(ps[1].DataType(), TFieldType::ftString);
  EXPECT_EQ(ps[2].Direction(), TParameterDirection::pdInputOutput);
  EXPECT_EQ(ps[3].Direction(), TParameterDirection::pdInputOutput);
  EXPECT_EQ(ps[4].DataType(), TFieldType::ftBCD);
  EXPECT_EQ(ps[5].DataType(), TFieldType::ftBoolean);
  EXPECT_EQ(ps.FindParam("@rs"), nullptr);
  EXPECT_THROW(sp.ParamByName("@rs"), EDatabaseError);
  EXPECT_EQ(&sp.ParamByName("@IMTNO"), &ps[0]);  // names without regard to case
  EXPECT_TRUE(ps[0].IsNull());

  // an undeclared name
  try {
    sp.ParamByName("@iPDANo");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::NotFound);
    EXPECT_NE(std::string(e.what()).find("@iPDANo"), std::string::npos);
  }

  // a missing procedure, and the exact (case-sensitive) name
  TADOStoredProc other(&conn_);
  other.SetProcedureName(tag_ + "_get");
  EXPECT_FALSE(other.Parameters().Refresh());
  other.SetProcedureName(tag_ + "_NoSuchProc");
  EXPECT_FALSE(other.Parameters().Refresh());
  EXPECT_THROW(other.Open(), EDatabaseError);

  // the same name keeps the list, another name clears it
  sp.SetProcedureName(name);
  EXPECT_EQ(sp.Parameters().Count(), 6);
  sp.SetCommandText(tag_ + "_Other");
  EXPECT_EQ(sp.Parameters().Count(), 0);
}

TEST_F(Pg, NoParameters) {
  std::string name = Proc("Bare", "", "null;");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  EXPECT_TRUE(sp.Parameters().Refresh());
  EXPECT_EQ(sp.Parameters().Count(), 0);
  sp.ExecProc();
  EXPECT_FALSE(sp.Active());
}

TEST_F(Pg, AssignmentConvertsToTheDeclaredType) {
  std::string name = Proc("Echo",
                          R"("@iMTNo" integer, "@sBase" smallint, "@fQty" numeric, "@fPrice" double precision,
                             "@bFlag" boolean, "@cText" varchar, "@dtOpTime" timestamp,
                             INOUT "@iResult" integer, INOUT "@strResult" varchar)",
                          R"("@iResult" := "@iMTNo" + "@sBase";
                             "@strResult" := concat_ws('|', "@fQty", "@fPrice", "@bFlag", "@cText", "@dtOpTime");)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetString(" 12 ");
  EXPECT_EQ(sp.ParamByName("@iMTNo").AsInteger(), 12);
  sp.ParamByName("@sBase").SetString("2.5");  // rounds half to even
  EXPECT_EQ(sp.ParamByName("@sBase").AsString(), "2");
  EXPECT_THROW(sp.ParamByName("@sBase").SetString("70000"), EDatabaseError);
  EXPECT_THROW(sp.ParamByName("@iMTNo").SetString("abc"), EDatabaseError);
  EXPECT_THROW(sp.ParamByName("@iMTNo").SetString(""), EDatabaseError);
  try {
    sp.ParamByName("@fQty").SetString("1x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Conversion);
  }
  EXPECT_EQ(sp.ParamByName("@iMTNo").AsInteger(), 12);  // a failed assignment keeps the value
  sp.ParamByName("@fQty").SetString("1.50");
  sp.ParamByName("@fPrice").SetString("2.25");
  sp.ParamByName("@bFlag").SetString("1");
  EXPECT_EQ(sp.ParamByName("@bFlag").AsString(), "True");
  sp.ParamByName("@cText").SetString("凉菜, \"x\" 'y'");
  sp.ParamByName("@dtOpTime").SetString("2024-03-05 14:07:09");
  sp.ParamByName("@iResult").SetInteger(0);
  sp.ParamByName("@strResult").SetString("");
  conn_.ResetRoundTrips();
  sp.ExecProc();
  EXPECT_EQ(conn_.RoundTrips(), 1u);
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 14);
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "1.50|2.25|t|凉菜, \"x\" 'y'|2024-03-05 14:07:09");

  // a value the server rejects: a clean error, and the connection works on
  sp.ParamByName("@dtOpTime").SetString("not a date");
  EXPECT_THROW(sp.ExecProc(), EDatabaseError);
  EXPECT_TRUE(conn_.Connected());
  sp.ParamByName("@dtOpTime").SetNull();
  sp.ExecProc();
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 14);
  // SetInteger into a text parameter
  sp.ParamByName("@cText").SetInteger(-5);
  sp.ExecProc();
  EXPECT_NE(sp.ParamByName("@strResult").AsString().find("|-5"), std::string::npos);
}

TEST_F(Pg, OutputsAreNullAware) {
  std::string name = Proc("Nulls", kStd, R"("@iResult" := null; "@strResult" := null;)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(1);
  sp.ParamByName("@cTableNo").SetString("");
  sp.ParamByName("@iResult").SetInteger(7);
  sp.ParamByName("@strResult").SetString("before");
  sp.ExecProc();
  EXPECT_TRUE(sp.ParamByName("@iResult").IsNull());
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 0);
  EXPECT_TRUE(sp.ParamByName("@strResult").IsNull());
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "");
}

TEST_F(Pg, OpenFetchesEveryRowInOneRoundTrip) {
  std::string name = Proc("Rows", std::string(kStd) + R"(, INOUT "@rs" refcursor)",
                          R"("@iResult" := 0; "@strResult" := 'rows for ' || "@cTableNo";
                             open "@rs" for select g as "iRecNo", 'D' || g as "cDishCode", g * 0.5 as "fQty"
                               from generate_series(1, "@iMTNo") g order by g;)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(1000);
  sp.ParamByName("@cTableNo").SetString("A01");
  sp.ParamByName("@iResult").SetInteger(0);
  sp.ParamByName("@strResult").SetString("");
  conn_.ResetRoundTrips();
  uint64_t total0 = TADOConnection::TotalRoundTrips();
  sp.Open();
  EXPECT_EQ(conn_.RoundTrips(), 1u);
  EXPECT_GE(TADOConnection::TotalRoundTrips() - total0, 1u);
  ASSERT_TRUE(sp.Active());
  EXPECT_EQ(sp.RecordCount(), 1000);
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "rows for A01");
  EXPECT_FALSE(sp.ParamByName("@iResult").IsNull());
  EXPECT_EQ(sp.FieldCount(), 3);
  int n = 0;
  for (sp.First(); !sp.Eof(); sp.Next()) {
    ++n;
    ASSERT_EQ(sp.FieldByName("irecno").AsInteger(), n);
  }
  EXPECT_EQ(n, 1000);
  EXPECT_EQ(conn_.RoundTrips(), 1u);  // none per row
  sp.First();
  EXPECT_EQ(sp.FieldByName("fQty").AsString(), "0.5");
  sp.Next();
  EXPECT_EQ(sp.FieldByName("fQty").AsString(), "1");
  EXPECT_EQ(sp.Fields(1).AsString(), "D2");

  // re-open from the start; a second round trip, nothing else
  sp.ParamByName("@iMTNo").SetInteger(2);
  sp.Open();
  EXPECT_EQ(conn_.RoundTrips(), 2u);
  EXPECT_EQ(sp.RecordCount(), 2);
  EXPECT_EQ(sp.RecNo(), 1);

  // an empty result
  sp.ParamByName("@iMTNo").SetInteger(0);
  sp.Open();
  EXPECT_TRUE(sp.Active());
  EXPECT_EQ(sp.RecordCount(), 0);
  EXPECT_TRUE(sp.Eof());

  // ExecProc on a reading procedure: outputs only
  sp.ParamByName("@iMTNo").SetInteger(5);
  sp.ExecProc();
  EXPECT_FALSE(sp.Active());
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "rows for A01");
}

TEST_F(Pg, OpenWithoutAResultSetKeepsTheWork) {
  conn_.Execute("create table " + T("log") + " (v int)");
  std::string name =
      Proc("Early", std::string(kStd) + R"(, INOUT "@rs" refcursor)",
           "insert into " + T("log") + R"( values ("@iMTNo"); "@iResult" := 3; "@strResult" := '无此桌台';)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(9);
  sp.ParamByName("@cTableNo").SetString("X");
  sp.Open();
  EXPECT_FALSE(sp.Active());
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 3);
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "无此桌台");
  TADOQuery q(&conn_);
  q.SetSQL("select count(*) as n from " + T("log") + " where v = 9");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsString(), "1");
}

TEST_F(Pg, ACursorOfAnotherName) {
  std::string name = Proc("Named", R"(INOUT "@iResult" integer, INOUT "@rs" refcursor)",
                          R"("@rs" := 'mine'; open "@rs" for select 'x' as c; "@iResult" := 0;)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  sp.Open();  // refreshes by itself
  ASSERT_TRUE(sp.Active());
  EXPECT_EQ(sp.FieldByName("c").AsString(), "x");
}

TEST_F(Pg, ExecProcWritesAndAProcedureErrorIsClean) {
  conn_.Execute("create table " + T("bill") + " (no varchar(10), qty numeric)");
  std::string name = Proc(
      "Ins", R"("@cBillNO" varchar, "@fQty" numeric, INOUT "@iResult" integer, INOUT "@strResult" varchar)",
      R"(if "@fQty" < 0 then raise exception 'negative quantity %', "@fQty"; end if;
                             insert into )" +
          T("bill") + R"( values ("@cBillNO", "@fQty");
                             "@iResult" := 0; "@strResult" := 'saved';)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@cBillNO").SetString("B1");
  sp.ParamByName("@fQty").SetString("2.5");
  sp.ParamByName("@iResult").SetInteger(0);
  sp.ParamByName("@strResult").SetString("");
  sp.ExecProc();
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "saved");
  sp.ParamByName("@fQty").SetString("-1");
  try {
    sp.ExecProc();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::General);
    EXPECT_NE(std::string(e.what()).find("negative quantity -1"), std::string::npos) << e.what();
    EXPECT_EQ(e.SqlState(), "P0001");
  }
  EXPECT_TRUE(conn_.Connected());
  TADOQuery q(&conn_);
  q.SetSQL("select no, qty from " + T("bill"));
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("qty").AsString(), "2.5");
}

TEST_F(Pg, AsStringRendering) {
  struct Case {
    const char* expr;
    const char* text;
    bool null = false;
  };
  const Case cases[] = {
      {"42::int", "42"},
      {"(-9000000000)::bigint", "-9000000000"},
      {"(-7)::smallint", "-7"},
      {"12.50::numeric(10,2)", "12.5"},
      {"12.0::numeric(10,2)", "12"},
      {"(-0.29)::numeric(8,4)", "-0.29"},
      {"0::numeric(8,4)", "0"},
      {"1234567890.123456789::numeric", "1234567890.12346"},
      {"(0.1::float8 + 0.2::float8)", "0.3"},
      {"1e20::float8", "1E20"},
      {"12.5::float8", "12.5"},
      {"0.1::float4", "0.1"},
      {"12.5::money", "12.5"},
      {"'ab'::char(10)", "ab        "},
      {"'  '::char(2)", "  "},
      {"null::int", "", true},
      {"null::text", "", true},
      {"$$a,\"b\" 'c'$$::text", "a,\"b\" 'c'"},
      {"'凉菜  '::char(4)", "凉菜  "},
      {"'鱼香肉丝'::varchar(20)", "鱼香肉丝"},
      {"true", "True"},
      {"false", "False"},
      {"'2024-03-05'::date", "2024-03-05"},
      {"'2024-03-05 14:07:09.5'::timestamp", "2024-03-05 14:07:09"},
      {"'2024-03-05 00:00:00'::timestamp", "2024-03-05"},
      {"'08:30:00'::time", "08:30:00"},
      {"'\\x0aff'::bytea", "0aff"},
  };
  std::string sql = "select ";
  for (size_t i = 0; i < std::size(cases); ++i)
    sql += (i ? ", " : "") + std::string(cases[i].expr) + " as c" + std::to_string(i);
  TADOQuery q(&conn_);
  q.SetSQL(sql);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].expr);
    TField& f = q.FieldByName("c" + std::to_string(i));
    EXPECT_EQ(f.AsString(), cases[i].text);
    EXPECT_EQ(f.IsNull(), cases[i].null);
  }
  EXPECT_EQ(q.FieldByName("c0").DataType(), TFieldType::ftInteger);
  EXPECT_EQ(q.FieldByName("c13").DataType(), TFieldType::ftFixedChar);
  EXPECT_EQ(q.FieldByName("c20").DataType(), TFieldType::ftBoolean);

  // the same through a procedure's result set, and its outputs
  std::string name =
      Proc("Render", R"(INOUT "@fOut" numeric, INOUT "@rs" refcursor)",
           R"("@fOut" := 12.50; open "@rs" for select 12.50::numeric(10,2) as f, 'ab'::char(4) as c,
                             null::varchar as n;)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  sp.Open();
  EXPECT_EQ(sp.FieldByName("f").AsString(), "12.5");
  EXPECT_EQ(sp.FieldByName("c").AsString(), "ab  ");
  EXPECT_TRUE(sp.FieldByName("n").IsNull());
  EXPECT_EQ(sp.ParamByName("@fOut").AsString(), "12.5");
}

TEST_F(Pg, FixedLengthTextKeepsItsLength) {
  std::string name =
      Proc("Fixed", R"("@cCode" char(5), INOUT "@strResult" varchar)", R"("@strResult" := "@cCode";)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@cCode").SetString("abcde");
  sp.ParamByName("@strResult").SetString("");
  sp.ExecProc();
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "abcde");
}

// A request that runs too long is cancelled on the server and fails; the session stays.
TEST_F(Pg, CommandTimeoutCancelsTheRequest) {
  std::string slow = Proc("Slow", kStd, R"(perform pg_sleep(5); "@iResult" := 1;)");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(slow);
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(1);
  conn_.SetCommandTimeout(1);
  try {
    sp.ExecProc();
    FAIL() << "the call waited out the sleep";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("command time-out of 1 s"), std::string::npos) << e.what();
    EXPECT_FALSE(e.LinkLost());
  }
  EXPECT_TRUE(conn_.Connected());
  conn_.SetCommandTimeout(30);
  TADOQuery q(&conn_);
  q.SetSQL("select 7 as n");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 7);
}

TEST_F(Pg, ClosingTheConnectionClosesItsDatasets) {
  TADOQuery q(&conn_);
  q.SetSQL("select 1 as n");
  q.Open();
  ASSERT_TRUE(q.Active());
  conn_.Close();
  EXPECT_FALSE(q.Active());
  conn_.Open();
  q.Open();
  EXPECT_TRUE(q.Active());

  // A dataset that outlives its connection is left without one, not with a dangling one.
  auto orphan = std::make_unique<TADOQuery>();
  {
    TADOConnection other(cs_);
    other.Open();
    orphan->SetConnection(&other);
    orphan->SetSQL("select 2 as n");
    orphan->Open();
  }
  EXPECT_EQ(orphan->Connection(), nullptr);
  EXPECT_FALSE(orphan->Active());
  EXPECT_THROW(orphan->Open(), EDatabaseError);
}

TEST_F(Pg, LostConnection) {
  std::string name = Proc("Lost", kStd, R"("@iResult" := 0;)");
  TADOQuery pidq(&conn_);
  pidq.SetSQL("select pg_backend_pid() as pid");
  pidq.Open();
  std::string pid = pidq.FieldByName("pid").AsString();
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  ASSERT_TRUE(sp.Parameters().Refresh());

  TADOConnection killer(cs_);
  killer.Open();
  killer.Execute("select pg_terminate_backend(" + pid + ")");

  sp.ParamByName("@iMTNo").SetInteger(1);
  try {
    sp.ExecProc();
    FAIL() << "the call went through on a terminated session";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.LinkLost()) << e.what();
    EXPECT_NE(std::string(e.what()).find(kNetworkErrorText), std::string::npos) << e.what();
  }
  EXPECT_FALSE(conn_.Connected());
  // further use fails cleanly until the connection is opened again
  EXPECT_THROW(pidq.Open(), EDatabaseError);
  EXPECT_THROW(sp.Open(), EDatabaseError);
  conn_.Open();
  EXPECT_TRUE(conn_.Connected());
  sp.ExecProc();
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 0);

  // a query meets the lost link the same way
  pidq.Open();
  killer.Execute("select pg_terminate_backend(" + pidq.FieldByName("pid").AsString() + ")");
  TADOQuery q(&conn_);
  q.SetSQL(LinkCheckSql(conn_));
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.LinkLost()) << e.what();
  }
  EXPECT_FALSE(conn_.Connected());
}

TEST_F(Pg, DatasetStateErrors) {
  TADOStoredProc sp;
  EXPECT_THROW(sp.Open(), EDatabaseError);  // no connection
  sp.SetConnection(&conn_);
  EXPECT_THROW(sp.Open(), EDatabaseError);  // no procedure name
  EXPECT_THROW(sp.FieldByName("x"), EDatabaseError);
  sp.SetTag(2);
  EXPECT_EQ(sp.Tag(), 2);
  TADOQuery q(&conn_);
  EXPECT_THROW(q.Open(), EDatabaseError);  // no SQL
}

}  // namespace
