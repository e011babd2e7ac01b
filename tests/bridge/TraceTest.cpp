// What the debug trace shows of a request: waiters' passwords never reach Result.txt.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TempHome.h"
#include "bridge/SqlExec.h"

namespace qv {
namespace {

TEST(TraceText, PasswordFieldsAreMasked) {
  const struct {
    const char* cmd;
    const char* text;
    const char* shown;
  } cases[] = {
      {"RT-LOGIN", "\"0001\",\"PDA11\",\"003\",\"123\"", "\"0001\",\"PDA11\",\"003\",\"***\""},
      {"rt-login", "\"0001\",\"PDA11\",\"003\",\"\"", "\"0001\",\"PDA11\",\"003\",\"***\""},
      {"RT-LOGIN", "0001,PDA11,003,123", "0001,PDA11,003,***"},
      // A comma inside a quoted field does not move the password.
      {"RT-LOGIN", "\"0,1\",\"P,DA\",\"003\",\"1,23\"", "\"0,1\",\"P,DA\",\"003\",\"***\""},
      {"RT-LOGIN", "\"a\"\"b\",\"PDA11\",\"003\",\"123\"", "\"a\"\"b\",\"PDA11\",\"003\",\"***\""},
      {"RT-SETPSW", "\"111111\",\"222222\",\"003\"", "\"***\",\"***\",\"003\""},
      {"RT-LOGIN", "\"0001\",\"PDA11\"", "\"0001\",\"PDA11\""},  // no password field
      {"RT-BILL", "\"A01\",\"003\"", "\"A01\",\"003\""},
      {"RT-OPENTABLE", "\"A01\",4,\"001\",\"123\",\"001\"", "\"A01\",4,\"001\",\"123\",\"001\""},
  };
  for (const auto& c : cases) EXPECT_EQ(TraceRequestText(c.cmd, c.text), c.shown) << c.cmd << " " << c.text;
}

// The trace of a call that never reaches a database: the request line is masked there too.
TEST(TraceText, ResultLogOfALoginHoldsNoPassword) {
  test::TTempHome home{test::kWithTrace};
  std::string text = "\"0001\",\"PDA11\",\"003\",\"654321\"";
  std::string result;
  int flag = -1;
  cb_Read_Data_SQLPROC("RT-LOGIN", 11, text, &flag, result);
  std::string saved = "\"old999\",\"new888\",\"003\"";
  cb_Save_Data_SQLPROC("RT-SETPSW", 11, saved, result, true);
  const std::vector<std::string> lines = home.Lines("Result.txt");
  EXPECT_THAT(lines, ::testing::Contains("pDataStr=\"0001\",\"PDA11\",\"003\",\"***\""));
  EXPECT_THAT(lines, ::testing::Contains("pDataStr=\"***\",\"***\",\"003\""));
  for (const std::string& l : lines) {
    EXPECT_EQ(l.find("654321"), std::string::npos) << l;
    EXPECT_EQ(l.find("old999"), std::string::npos) << l;
    EXPECT_EQ(l.find("new888"), std::string::npos) << l;
  }
}

}  // namespace
}  // namespace qv
