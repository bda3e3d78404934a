// The boot sequence's pure decisions: language code, host name check, password commands.
#include <gtest/gtest.h>

#include "init/boot_text.h"

namespace {

TEST(LanguageCode, SearchOrderNotTextOrder) {
  EXPECT_STREQ(brim::language_code("en"), "en");
  EXPECT_STREQ(brim::language_code("vn"), "vn");
  EXPECT_STREQ(brim::language_code("ct"), "ct");
  EXPECT_STREQ(brim::language_code(""), "cn");
  EXPECT_STREQ(brim::language_code("fr"), "cn");
  EXPECT_STREQ(brim::language_code("en,cn"), "cn");  // cn is searched first
  EXPECT_STREQ(brim::language_code("xvnen"), "en");
}

TEST(HostName, OnlyPlainHostNames) {
  EXPECT_TRUE(brim::valid_host_name("brimrouter"));
  EXPECT_TRUE(brim::valid_host_name("my-router.lan"));
  EXPECT_TRUE(brim::valid_host_name(std::string(31, 'a').c_str()));
  EXPECT_FALSE(brim::valid_host_name(std::string(32, 'a').c_str()));
  EXPECT_FALSE(brim::valid_host_name(""));
  for (const char *bad : {"a'b", "a b", "a\nb", "$(id)", "a;b", "a`b`", "a|b", "a&b", "a>b", "a_b"})
    EXPECT_FALSE(brim::valid_host_name(bad)) << bad;
}

TEST(PasswordCommands, OrdinaryPasswordsKeepTheFirmwareCommand) {
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
}

TEST(PasswordCommands, ShellSpecialPasswordsGoAsData) {
  char a[brim::kPasswordCmdCap], b[brim::kPasswordCmdCap];
  for (const char *pw : {"$(reboot)", "`reboot`", "back\\slash", "quote\"d", "-n", "-e"})
    EXPECT_EQ(brim::password_commands(pw, a, b, sizeof a), brim::PasswordForm::Quoted) << pw;
  ASSERT_EQ(brim::password_commands("a$b", a, b, sizeof a), brim::PasswordForm::Quoted);
  EXPECT_STREQ(a, "printf '%s\\n' 'a$b' > /var/tmppwd");
  EXPECT_STREQ(b, "printf '%s\\n' 'a$b' >> /var/tmppwd");
  std::string quotes(127, '\'');
  quotes[0] = '$';
  EXPECT_EQ(brim::password_commands(quotes.c_str(), a, b, sizeof a), brim::PasswordForm::Quoted);
}

TEST(PasswordCommands, ControlCharactersAreRefused) {
  char a[brim::kPasswordCmdCap], b[brim::kPasswordCmdCap];
  for (const char *pw : {"line\nbreak", "cr\r", "tab\t", "del\x7f", "\x1b[0m"})
    EXPECT_EQ(brim::password_commands(pw, a, b, sizeof a), brim::PasswordForm::Refused);
}

}  // namespace
