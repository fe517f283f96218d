#include "data/connection_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kz {
namespace {

// Catches a wrong item name or case, a value cut at its second "=" or
// trimmed, a later item overriding the first, and noise items taken.
TEST(ConnectionTextTest, ParseTakesLocationUserPasswordCharsetAndRole) {
  const std::vector<std::vector<std::string>> cases = {
      // text, location, user, password, charset, role
      {"DRIVER=Firebird/InterBase(r) driver;UID=SYSDBA;PWD=masterkey;DBNAME=srv:/d/b.fdb",
       "srv:/d/b.fdb", "SYSDBA", "masterkey", "WIN1252", ""},
      {"Provider=P;User=ana;Password=s;Data Source=C:\\B.FDB", "C:\\B.FDB", "ana", "s", "WIN1252",
       ""},
      {"dbname=b.fdb;uid=u;pwd=p;charset=UTF8;role= KZ_R ", "b.fdb", "u", "p", "UTF8", "KZ_R"},
      {"  Data Source = b.fdb ;USER\t=u ;PWD=a=b==", " b.fdb ", "u ", "a=b==", "WIN1252", ""},
      {"ROLE=R;noequals;;DBNAMEX=z;UID=1st;User=2nd;DBNAME=a;Data Source=b;CHARSET=;Role=S", "a",
       "1st", "", "WIN1252", "R"},
  };
  for (const auto& c : cases) {
    const ConnectionTarget t = ParseConnectionText(c[0]);
    EXPECT_EQ((std::vector<std::string>{c[0], t.location, t.user, t.password, t.charset, t.role}),
              c);
  }
}

// Catches a password left visible in a message, or a look-alike item masked.
TEST(ConnectionTextTest, MaskPasswordHidesEveryPasswordValue) {
  EXPECT_EQ(MaskPassword("UID=u;PWD=secret;DBNAME=b.fdb"), "UID=u;PWD=***;DBNAME=b.fdb");
  EXPECT_EQ(MaskPassword(" pwd =s;Password=a=b"), " pwd =***;Password=***");
  EXPECT_EQ(MaskPassword("PWDX=1;OLDPASSWORD=2;UID=pwd"), "PWDX=1;OLDPASSWORD=2;UID=pwd");
}

}  // namespace
}  // namespace kz
