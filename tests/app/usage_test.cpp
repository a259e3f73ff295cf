#include "app/usage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

TEST(OptionHelp, HasItsExactShape) {
  EXPECT_EQ(option_help.size(), 2793u);
  EXPECT_EQ(std::count(option_help.begin(), option_help.end(), '\n'), 52);
  EXPECT_TRUE(option_help.starts_with("\nMount IN_DIR on OUT_DIR, converting"));
  EXPECT_TRUE(option_help.ends_with("output version information and exit\n"));
  EXPECT_EQ(option_help.find('\t'), std::string_view::npos);
  EXPECT_EQ(option_help.find(" \n"), std::string_view::npos);
}

TEST(PrintUsage, UsageLineBlankLineHelpAndOneMoreNewline) {
  std::ostringstream captured;
  std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
  print_usage("prog");
  std::cout.rdbuf(old);
  const std::string text = captured.str();
  const std::string classic =
      "Usage: prog [OPTION]... IN_DIR OUT_DIR\n" + std::string(option_help) + "\n";
  EXPECT_EQ(text, classic + std::string(extended_option_help) + "\n");
  EXPECT_NE(text.find("OUT_DIR\n\nMount"), std::string::npos);
  EXPECT_NE(text.find("and exit\n\nCache options:\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\n\n"));
}

}  // namespace
