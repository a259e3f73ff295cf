#include "logging/log_facility.h"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "logging/logger.h"
#include "support/fixtures.h"
#include "support/log_capture.h"

namespace {

// Redirects std::clog (the stderr sink) into a string for the life of the object.
class ClogCapture {
 public:
  ClogCapture() : old(std::clog.rdbuf(captured.rdbuf())) {}
  ~ClogCapture() { std::clog.rdbuf(old); }
  std::string text() const { return captured.str(); }

 private:
  std::ostringstream captured;
  std::streambuf* old;
};

std::string file_text(const std::string& path) {
  auto bytes = fixtures::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

class InitLogging : public ::testing::Test {
 protected:
  ~InitLogging() override { Logging::init_logging("", Logging::ERROR, "", false, false); }
  fixtures::TempDir dir;
};

TEST_F(InitLogging, LevelZeroInstallsNothing) {
  LogCapture cap(Logging::DEBUG);
  EXPECT_FALSE(Logging::init_logging(dir / "never.log", 0, "%M", true, false));
  Logging::Logger(Logging::INFO) << "still captured";
  EXPECT_EQ(cap.text(), "INFO: still captured\n");
  EXPECT_FALSE(std::ifstream(dir / "never.log").good());
}

TEST_F(InitLogging, UnopenableFileFailsButStaysInstalled) {
  ClogCapture err;
  EXPECT_FALSE(Logging::init_logging(dir / "missing/x.log", Logging::INFO, "%M", true, false));
  Logging::Logger(Logging::INFO) << "to stderr";
  EXPECT_EQ(err.text(), "to stderr\n");
}

TEST_F(InitLogging, TruncatesAnExistingFile) {
  const std::string path = dir / "old.log";
  ASSERT_TRUE(fixtures::write_file(path, std::vector<uint8_t>(100, 'x')));
  ASSERT_TRUE(Logging::init_logging(path, Logging::INFO, "%L %M", false, false));
  Logging::Logger(Logging::ERROR) << "fresh";
  EXPECT_EQ(file_text(path), "ERROR fresh\n");
}

TEST_F(InitLogging, EverySinkGetsTheSameLine) {
  ClogCapture err;
  const std::string path = dir / "both.log";
  ASSERT_TRUE(Logging::init_logging(path, Logging::DEBUG, "<%L|%M>", true, false));
  Logging::Logger(Logging::DEBUG) << "x=" << 42;
  EXPECT_EQ(file_text(path), "<DEBUG|x=42>\n");
  EXPECT_EQ(err.text(), "<DEBUG|x=42>\n");
}

TEST_F(InitLogging, EmptyFormatWritesBareNewline) {
  ClogCapture err;
  const std::string path = dir / "empty.log";
  ASSERT_TRUE(Logging::init_logging(path, Logging::INFO, "", true, false));
  Logging::Logger(Logging::INFO) << "gone";
  EXPECT_EQ(file_text(path), "\n");
  EXPECT_EQ(err.text(), "\n");
}

TEST_F(InitLogging, NoSinksFiltersAndWritesNothing) {
  ClogCapture err;
  ASSERT_TRUE(Logging::init_logging("", Logging::DEBUG, "%M", false, false));
  Logging::Logger(Logging::ERROR) << "nowhere";
  EXPECT_EQ(err.text(), "");
}

TEST_F(InitLogging, SyslogWithoutFileSucceeds) {
  EXPECT_TRUE(Logging::init_logging("", Logging::ERROR, "%M", false, true));
}

TEST_F(InitLogging, ReplacingClosesTheOldFile) {
  const std::string first = dir / "first.log";
  const std::string second = dir / "second.log";
  ASSERT_TRUE(Logging::init_logging(first, Logging::INFO, "%M", false, false));
  Logging::Logger(Logging::INFO) << "one";
  ASSERT_TRUE(Logging::init_logging(second, Logging::INFO, "%M", false, false));
  Logging::Logger(Logging::INFO) << "two";
  EXPECT_EQ(file_text(first), "one\n");
  EXPECT_EQ(file_text(second), "two\n");
}

TEST_F(InitLogging, ConcurrentLinesStayWhole) {
  const std::string path = dir / "threads.log";
  ASSERT_TRUE(Logging::init_logging(path, Logging::INFO, "[%I] %M", false, false));
  constexpr int kThreads = 8;
  constexpr int kMessages = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i)
        Logging::Logger(Logging::INFO) << "thread " << t << " message " << i << " "
                                       << std::string(50, static_cast<char>('a' + t));
    });
  }
  for (auto& thread : threads) thread.join();

  std::istringstream in(file_text(path));
  std::set<std::string> seen;
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    int t = -1, i = -1;
    char tid[64];
    ASSERT_EQ(std::sscanf(line.c_str(), "[%63[^]]] thread %d message %d", tid, &t, &i), 3) << line;
    EXPECT_EQ(line.substr(line.size() - 50), std::string(50, static_cast<char>('a' + t))) << line;
    seen.insert(tid);
  }
  EXPECT_EQ(count, kThreads * kMessages);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads));
}

}  // namespace
