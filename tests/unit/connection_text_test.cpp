#include "data/connection_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kz {
namespace {

struct ParseCase {
  const char* text;
  const char* location;
  const char* user;
  const char* password;
  const char* charset;
};

TEST(ConnectionTextTest, ParseTakesTheItemsTheNativeClientNeeds) {
  const ParseCase cases[] = {
      {"DRIVER=Firebird/InterBase(r) driver;UID=SYSDBA;PWD=masterkey;DBNAME=srv:/d/b.fdb",
       "srv:/d/b.fdb", "SYSDBA", "masterkey", "WIN1252"},
      {"Provider=ZStyle IBOLE Provider;User=ana;Password=s;Data Source=C:\\B.FDB", "C:\\B.FDB",
       "ana", "s", "WIN1252"},
      {"dbname=b.fdb;uid=u;pwd=p;charset=UTF8", "b.fdb", "u", "p", "UTF8"},
      {"  Data Source =b.fdb; USER\t=u", "b.fdb", "u", "", "WIN1252"},  // names trimmed
      {"DBNAME= b.fdb ;UID=u ", " b.fdb ", "u ", "", "WIN1252"},        // values unchanged
      {"PWD=a=b==;UID==x", "", "=x", "a=b==", "WIN1252"},               // "=" in values
      {"UID=;PWD=;DBNAME=", "", "", "", "WIN1252"},
      {"UID=first;User=second;DBNAME=a;Data Source=b", "a", "first", "", "WIN1252"},
      {"CHARSET=;DBNAME=a", "a", "", "", "WIN1252"},
      {"ROLE=R;noequals;;DBNAMEX=z;DBNAME=a", "a", "", "", "WIN1252"},
      {"", "", "", "", "WIN1252"},
  };
  for (const ParseCase& t : cases) {
    const ConnectionTarget target = ParseConnectionText(t.text);
    SCOPED_TRACE(t.text);
    EXPECT_EQ(target.location, t.location);
    EXPECT_EQ(target.user, t.user);
    EXPECT_EQ(target.password, t.password);
    EXPECT_EQ(target.charset, t.charset);
  }
}

TEST(ConnectionTextTest, MaskPasswordHidesEveryPasswordValue) {
  const std::pair<const char*, const char*> cases[] = {
      {"UID=u;PWD=secret;DBNAME=b.fdb", "UID=u;PWD=***;DBNAME=b.fdb"},
      {"User=u;Password=a=b;Data Source=x", "User=u;Password=***;Data Source=x"},
      {" pwd =s;password=t", " pwd =***;password=***"},
      {"PWD=", "PWD=***"},
      {"PWDX=1;OLDPASSWORD=2;UID=pwd", "PWDX=1;OLDPASSWORD=2;UID=pwd"},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(MaskPassword(text), expected) << text;
}

}  // namespace
}  // namespace kz
