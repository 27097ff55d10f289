#include "record/session_log.h"

#include <gtest/gtest.h>

namespace morva {
namespace {

SessionRecord sample() {
  return {.start = "2026-12-10T12:00:00Z",
          .end = "2026-12-10T12:00:35Z",
          .program = "1.0.0",
          .port = "/dev/ttyUSB3",
          .versions = {"2.05", "1.10"},
          .kind = "program",
          .direction = "write",
          .file = "/shows/fw.upg",
          .bytes = 131072,
          .sha256 = std::string(64, 'a'),
          .blocks = 512,
          .blocksDone = 512,
          .outcome = "completed",
          .message = ""};
}

TEST(SessionLog, ALineReadsBackAsTheRecordItWasWrittenFrom) {
  std::string why;
  for (const std::string& file :
       {std::string("/shows/fw.upg"), std::string("/a \"quoted\" \\ name\n\t.upg"),
        std::string("/été/日本/x.upg"), std::string("/ctl\x01\x1f.upg")}) {
    SessionRecord r = sample();
    r.file = file;
    r.message = "Fail: Transmission error : got NAK";
    const std::string line = toJsonLine(r);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_EQ(parseJsonLine(line, why), r) << line << why;
  }
  EXPECT_EQ(toJsonLine(sample()),
            R"({"start":"2026-12-10T12:00:00Z","end":"2026-12-10T12:00:35Z","program":"1.0.0",)"
            R"("port":"/dev/ttyUSB3","versions":["2.05","1.10"],"kind":"program",)"
            R"("direction":"write","file":"/shows/fw.upg","bytes":131072,"sha256":")" +
                std::string(64, 'a') +
                R"(","blocks":512,"blocks_done":512,"outcome":"completed","message":""})");
}

// A name that is not UTF-8 cannot stand in JSON as it is: its stray bytes become U+FFFD.
TEST(SessionLog, BytesThatAreNotUtf8BecomeTheReplacementCharacter) {
  SessionRecord r = sample();
  r.file =
      "/old\xe9"
      "disk/\xff\xc3.upg";
  std::string why;
  const auto back = parseJsonLine(toJsonLine(r), why);
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(back->file,
            "/old\xEF\xBF\xBD"
            "disk/\xEF\xBF\xBD\xEF\xBF\xBD.upg");
}

TEST(SessionLog, OnlyWholeObjectsWithTheirKeysAreRecords) {
  const std::string good = toJsonLine(sample());
  struct Row {
    std::string line;
    bool record;
  };
  const Row rows[] = {
      {good, true},
      {"  " + good + "  ", true},
      {good.substr(0, good.size() - 1) + R"(,"later":{"a":[1,true,null,"x"]},"n":-1.5e3})", true},
      {good.substr(0, good.size() - 1), false},
      {good + "}", false},
      {R"({"start":"x"})", false},
      {"", false},
      {"[1,2]", false},
      {good.substr(0, 30) + "\\q" + good.substr(30), false},
  };
  for (const Row& row : rows) {
    std::string why;
    EXPECT_EQ(parseJsonLine(row.line, why).has_value(), row.record) << row.line;
  }
}

TEST(SessionLog, TimesAreIsoInUtc) {
  using namespace std::chrono;
  const std::pair<long long, const char*> rows[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {1796904000 + 35, "2026-12-10T12:00:35Z"},
      {-1, "1969-12-31T23:59:59Z"},
  };
  for (const auto& [seconds, text] : rows)
    EXPECT_EQ(isoTime(system_clock::time_point(std::chrono::seconds(seconds))), text);
}

TEST(SessionLog, TheTableHasOneAlignedRowPerSessionNewestLast) {
  SessionRecord failed = sample();
  failed.port = "/dev/ttyUSB10";
  failed.outcome = "failed";
  failed.blocksDone = 7;
  const std::string table = recordTable({sample(), failed});
  const auto first = table.find('\n'), second = table.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos);
  const std::string head = table.substr(0, first), row = table.substr(first + 1, second - first),
                    last = table.substr(second + 1);
  EXPECT_EQ(head.find("outcome"), row.find("completed")) << table;
  EXPECT_EQ(head.find("blocks"), last.find("7/512")) << table;
  EXPECT_EQ(head.find("file"), last.find("/shows/fw.upg")) << table;
  EXPECT_LT(table.find("completed"), table.find("failed"));
}

}  // namespace
}  // namespace morva
