// The boot sequence's pure decisions: language code, host name check, password commands.

#include "init/boot_text.h"
#include "tests/unit/unit.h"

namespace {

TEST(BootText, LanguageCodeInSearchOrderAndOnlyPlainHostNames) {
  // cn is searched first, then en, vn, ct; anything else is cn.
  for (auto [stored, code] : {std::pair{"en", "en"}, {"vn", "vn"}, {"ct", "ct"}, {"", "cn"}, {"fr", "cn"},
                              {"en,cn", "cn"}, {"xvnen", "en"}})
    EXPECT_STREQ(brim::language_code(stored), code) << stored;
  const std::string a31(31, 'a'), a32(32, 'a');
  for (const char *good : {"brimrouter", "my-router.lan", a31.c_str()}) EXPECT_TRUE(brim::valid_host_name(good));
  for (const char *bad : {a32.c_str(), "", "a'b", "a b", "a\nb", "$(id)", "a;b", "a`b`", "a|b", "a&b", "a>b", "a_b"})
    EXPECT_FALSE(brim::valid_host_name(bad)) << bad;
}

TEST(PasswordCommands, OrdinaryPasswordsKeepTheFirmwareCommandOthersGoAsDataOrAreRefused) {
  char a[brim::kPasswordCmdCap], b[brim::kPasswordCmdCap];
  ASSERT_EQ(brim::password_commands("hq4729", a, b, sizeof a), brim::PasswordForm::Plain);
  EXPECT_STREQ(a, "echo \"hq4729\" > /var/tmppwd");
  EXPECT_STREQ(b, "echo \"hq4729\" >> /var/tmppwd");
  // Single quotes, spaces and most punctuation are literal inside double quotes.
  ASSERT_EQ(brim::password_commands("it's a p@ss!;|&<>", a, b, sizeof a), brim::PasswordForm::Plain);
  // Longer than the firmware's 128-byte command buffer held: carried whole.
  std::string longpw(127, 'x');
  ASSERT_EQ(brim::password_commands(longpw.c_str(), a, b, sizeof a), brim::PasswordForm::Plain);
  EXPECT_EQ(std::string(a), "echo \"" + longpw + "\" > /var/tmppwd");
  // Shell-special passwords go as data; control characters are refused.
  for (const char *pw : {"$(reboot)", "`reboot`", "back\\slash", "quote\"d", "-n", "-e"})
    EXPECT_EQ(brim::password_commands(pw, a, b, sizeof a), brim::PasswordForm::Quoted) << pw;
  ASSERT_EQ(brim::password_commands("a$b", a, b, sizeof a), brim::PasswordForm::Quoted);
  EXPECT_STREQ(a, "printf '%s\\n' 'a$b' > /var/tmppwd");
  EXPECT_STREQ(b, "printf '%s\\n' 'a$b' >> /var/tmppwd");
  std::string quotes(127, '\'');
  quotes[0] = '$';
  EXPECT_EQ(brim::password_commands(quotes.c_str(), a, b, sizeof a), brim::PasswordForm::Quoted);
  for (const char *pw : {"line\nbreak", "cr\r", "tab\t", "del\x7f", "\x1b[0m"})
    EXPECT_EQ(brim::password_commands(pw, a, b, sizeof a), brim::PasswordForm::Refused);
}

}  // namespace
