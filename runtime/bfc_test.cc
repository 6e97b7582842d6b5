// bfc in a scratch folder: name fixing, line reading with and without
// stripping, long lines in pieces, and writing.
#include "runtime/bfc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

class BfcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, getcwd(oldCwd_, sizeof(oldCwd_)));
    char tmpl[] = "/tmp/qzrt_bfc_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    ASSERT_EQ(0, chdir(dir_.c_str()));
  }
  void TearDown() override {
    ASSERT_EQ(0, chdir(oldCwd_));
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(0, system(cmd.c_str()));
  }
  static void writeFile(const char* name, const std::string& content) {
    FILE* f = fopen(name, "wb");
    ASSERT_NE(nullptr, f);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }
  static std::string readFile(const char* name) {
    std::string s;
    FILE* f = fopen(name, "rb");
    if (f == nullptr) return "<missing>";
    int c;
    while ((c = fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
    fclose(f);
    return s;
  }

  char oldCwd_[PATH_MAX];
  std::string dir_;
};

TEST_F(BfcTest, BackslashesBecomeSlashes) {
  ASSERT_EQ(0, mkdir("sub", 0700));
  writeFile("sub/a.ini", "x\n");
  bfc f("rb", "%s\\%s", "sub", "a.ini");
  EXPECT_STREQ("sub/a.ini", f.name());
  char line[16];
  EXPECT_EQ(1, f.rdln(line, sizeof(line), 1));
  EXPECT_STREQ("x", line);
}

TEST_F(BfcTest, NameIsCutAt255AndTakenLiterally) {
  std::string longName(300, 'n');
  bfc cut("rb", "%s", longName.c_str());
  EXPECT_EQ(std::string(255, 'n'), cut.name());
  bfc pct("rb", "%s", "100%d.ini");
  EXPECT_STREQ("100%d.ini", pct.name());
}

TEST_F(BfcTest, ReadsCrLfLines) {
  writeFile("crlf.txt", "alpha\r\n\r\nbeta\r\n");
  struct Row {
    const char* label;
    int strip;
    const char* want[3];
  } rows[] = {
      {"strip on", 1, {"alpha", "", "beta"}},
      {"strip off", 0, {"alpha\r\n", "\r\n", "beta\r\n"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    bfc f("rb", "%s", "crlf.txt");
    char line[64];
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(1, f.rdln(line, sizeof(line), r.strip)) << "line " << i;
      EXPECT_STREQ(r.want[i], line) << "line " << i;
    }
    strcpy(line, "stale");
    EXPECT_EQ(0, f.rdln(line, sizeof(line), r.strip)) << "end of file";
    EXPECT_STREQ("", line);
  }
}

TEST_F(BfcTest, LongLineComesInPieces) {
  writeFile("long.txt", std::string(1023, 'a') + std::string(977, 'b') + "\n");
  bfc f("rb", "%s", "long.txt");
  char line[1024];
  ASSERT_EQ(1, f.rdln(line, sizeof(line), 1));
  EXPECT_EQ(std::string(1023, 'a'), line);
  ASSERT_EQ(1, f.rdln(line, sizeof(line), 1));
  EXPECT_EQ(std::string(977, 'b'), line) << "rest, without its line feed";
  EXPECT_EQ(0, f.rdln(line, sizeof(line), 1));
}

TEST_F(BfcTest, MissingFileReadsAsEmptyAndRetries) {
  bfc f("rb", "%s", "later.txt");
  char line[16] = "stale";
  EXPECT_EQ(0, f.rdln(line, sizeof(line), 1));
  EXPECT_STREQ("", line);
  EXPECT_EQ(0, f.wrtf("x")) << "cannot open for writing in rb either";
  EXPECT_EQ(-1, f.setpos(0, SEEK_SET));
  writeFile("later.txt", "now\n");
  EXPECT_EQ(1, f.rdln(line, sizeof(line), 1)) << "a failed open is retried";
  EXPECT_STREQ("now", line);
}

TEST_F(BfcTest, TinyBuffersReadNothing) {
  writeFile("t.txt", "abc\n");
  bfc f("rb", "%s", "t.txt");
  char line[2] = {'q', 'q'};
  EXPECT_EQ(0, f.rdln(line, 0, 1));
  EXPECT_EQ('q', line[0]) << "max 0 has no room even for the terminator";
  EXPECT_EQ(0, f.rdln(line, 1, 1)) << "max 1 has no room for a character";
  EXPECT_EQ('\0', line[0]);
}

TEST_F(BfcTest, WritesFormattedTextAndSeeks) {
  {
    bfc f("wb", "%s", "out.txt");
    EXPECT_EQ(8, f.wrtf("%s=%d\n", "port", 42));
    EXPECT_EQ(1, f.setpos(0, SEEK_SET));
    EXPECT_EQ(4, f.wrtf("PORT"));
    EXPECT_EQ(0, f.setpos(-5, SEEK_SET)) << "a failed seek";
  }  // the destructor flushes
  EXPECT_EQ("PORT=42\n", readFile("out.txt"));
}

TEST_F(BfcTest, CloseReportsAndAllowsReopen) {
  writeFile("c.txt", "one\n");
  bfc f("rb", "%s", "c.txt");
  EXPECT_EQ(1, f.close()) << "closing a closed file";
  char line[8];
  EXPECT_EQ(1, f.rdln(line, sizeof(line), 1));
  EXPECT_EQ(1, f.close());
  EXPECT_EQ(1, f.rdln(line, sizeof(line), 1)) << "reopened from the start";
  EXPECT_STREQ("one", line);
}

}  // namespace
