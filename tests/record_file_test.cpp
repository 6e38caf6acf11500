// The record file as the dialog and the command line append to it: real
// files in a scratch folder, and two processes at once.
#include "module/record_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "module/sha256.h"

namespace {

std::string sha256Of(const std::string& text, size_t chunk) {
  Sha256 hash;
  sha256Start(hash);
  for (size_t at = 0; at < text.size(); at += chunk)
    sha256Add(hash, text.data() + at, std::min(chunk, text.size() - at));
  uint8_t digest[32];
  sha256Finish(hash, digest);
  std::string hex;
  for (uint8_t b : digest)
    hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

TEST(Sha256, StandardVectors) {
  char hex[65];
  sha256Hex("abc", 3, hex);
  EXPECT_STREQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  sha256Hex("", 0, hex);
  EXPECT_STREQ(hex, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // 448 bits: the padding no longer fits the message's block.
  EXPECT_EQ(sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256Of(std::string(1000000, 'a'), 4093),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/nlconf-record-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    path = dir + "/pairs.csv";
    context.version = "9.9.9";
    context.when = {2026, 12, 8, 15, 4, 5, 540};
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string contents() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string header() const { return formatPairRecordHeader(); }
  RecordOutcome append() { return appendPairRecord(path.c_str(), run, L"", context); }
  std::string dir, path;
  PairRunResult run;
  PairRecordContext context;
};

TEST_F(RecordFileTest, ANewRecordStartsWithTheMarkAndHeaderThenTakesLinesAlone) {
  EXPECT_EQ(checkRecordFile(path.c_str()).result, 0);
  EXPECT_EQ(contents(), "") << "checked, created, nothing written";
  ASSERT_EQ(append().result, 0);
  ASSERT_EQ(append().result, 0);
  const std::string text = contents();
  const std::string bomHeader = std::string(kRecordByteOrderMark) + header();
  ASSERT_EQ(text.compare(0, bomHeader.size(), bomHeader), 0);
  const std::string lines = text.substr(bomHeader.size());
  EXPECT_EQ(lines.find("2026-12-08T15:04:05+09:00,9.9.9,"), 0u);
  EXPECT_EQ(lines.size() % 2, 0u);
  EXPECT_EQ(lines.substr(0, lines.size() / 2), lines.substr(lines.size() / 2));
  char name[256];
  EXPECT_GT(os::computerName(name, sizeof name), 0u) << "a station names itself";
  EXPECT_GT(os::userName(name, sizeof name), 0u) << "so does its operator";
}

TEST_F(RecordFileTest, RefusesAnotherHeaderSayingWhereAndWhatIsNoFile) {
  const std::string old = "Date and Time,Result\r\n2026-01-01 00:00:00,PASS\r\n";
  std::ofstream(path, std::ios::binary) << old;
  EXPECT_EQ(checkRecordFile(path.c_str()).result, RecordOtherHeader);
  EXPECT_EQ(append().result, RecordOtherHeader);
  EXPECT_EQ(contents(), old);
  wchar_t text[512];
  recordOutcomeText(checkRecordFile(path.c_str()), path.c_str(), text, 512);
  EXPECT_NE(std::wstring(text).find(L"/pairs.csv"), std::wstring::npos);
  EXPECT_NE(std::wstring(text).find(L"its column 2 is \"Result\", not \"Program Version\""),
            std::wstring::npos)
      << text;
  EXPECT_NE(std::wstring(text).find(L"new record"), std::wstring::npos);
  std::string renamed = header();
  renamed.replace(renamed.find(",Operator,"), 10, ",Operater,");
  std::ofstream(path, std::ios::binary) << renamed;
  recordOutcomeText(checkRecordFile(path.c_str()), path.c_str(), text, 512);
  EXPECT_NE(std::wstring(text).find(L"its column 6 is \"Operater\", not \"Operator\""),
            std::wstring::npos)
      << text;
  std::ofstream(path, std::ios::binary)
      << header().substr(0, header().rfind(",Duration")) << "\r\n";
  recordOutcomeText(checkRecordFile(path.c_str()), path.c_str(), text, 512);
  EXPECT_NE(std::wstring(text).find(L"its columns end before \"Duration ms\""), std::wstring::npos)
      << text;

  const RecordOutcome folder = checkRecordFile(dir.c_str());
  EXPECT_EQ(folder.result, RecordNotAFile);
  recordOutcomeText(folder, dir.c_str(), text, 512);
  EXPECT_NE(std::wstring(text).find(L"is no file: choose a file"), std::wstring::npos) << text;
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(appendPairRecord(fifo.c_str(), run, L"", context).result, RecordNotAFile);
  EXPECT_EQ(checkRecordFile("/dev/null").result, RecordNotAFile);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(append().systemError, static_cast<uint32_t>(EACCES)) << "a record closed by its owner";

  const std::string missing = dir + "/no/such/dir/p.csv";
  const RecordOutcome none = checkRecordFile(missing.c_str());
  EXPECT_EQ(none.result, RecordCannotOpen);
  EXPECT_EQ(none.systemError, static_cast<uint32_t>(ENOENT));
  recordOutcomeText(none, missing.c_str(), text, 512);
  EXPECT_NE(std::wstring(text).find(L"p.csv: No such file"), std::wstring::npos) << text;
}

TEST_F(RecordFileTest, ALineCutShortDoesNotSwallowTheNext) {
  ASSERT_EQ(append().result, 0);
  std::ofstream(path, std::ios::binary | std::ios::app) << "2026-12-08T15:04:05+09:00,9.9";
  ASSERT_EQ(append().result, 0);
  const std::string text = contents();
  EXPECT_NE(text.find("9.9\r\n2026-12-08T15:04:05+09:00,9.9.9,"), std::string::npos);
}

// An editor or sed left LF line ends: the record is still ours, and takes
// its lines as it ends them.
TEST_F(RecordFileTest, ARecordWithLfLineEndsTakesLinesEndedTheSameWay) {
  std::string line = formatPairRecordLine(run, L"", context);
  line.replace(line.size() - 2, 2, "\n");
  std::string lf = header();
  lf.replace(lf.size() - 2, 2, "\n");
  for (const std::string& start : {std::string(kRecordByteOrderMark) + lf + line, lf + "2026"}) {
    std::ofstream(path, std::ios::binary) << start;
    ASSERT_EQ(append().result, 0);
    EXPECT_EQ(contents(), start + (start.back() == '\n' ? "" : "\n") + line);
  }
}

// Windows paths reach 32767 UTF-16 units; a record names the very file.
TEST_F(RecordFileTest, LongPathsAndMessagesGoIntoTheLineWhole) {
  std::string profile = "/bench";
  while (profile.size() < 2 * 32767)
    profile += "/\xC3\xA9t\xC3\xA9";
  context.profilePath = profile.c_str();
  const std::wstring message(5000, L'\u00e4');
  ASSERT_EQ(appendPairRecord(path.c_str(), run, message.c_str(), context).result, 0);
  const std::string text = contents();
  EXPECT_NE(text.find("," + profile + ","), std::string::npos);
  std::string utf8Message;
  while (utf8Message.size() < 2 * message.size())
    utf8Message += "\xC3\xA4";
  EXPECT_NE(text.find("," + utf8Message + ","), std::string::npos);
  EXPECT_EQ(text,
            kRecordByteOrderMark + header() + formatPairRecordLine(run, message.c_str(), context));
}

TEST_F(RecordFileTest, TwoProcessesAppendingAtOnceGiveOneHeaderAndWholeLines) {
  constexpr int kLines = 100;
  // Held here first, so that both start at once on an empty file.
  uint32_t error = 0;
  os::Handle held = os::openFileToAppend(path.c_str(), true, error);
  ASSERT_NE(held, nullptr);
  ASSERT_EQ(os::lockFile(held, 0, error), os::LockResult::Locked);
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kLines; ++i)
        failures += append().result != 0;
      _exit(failures);
    }
  }
  usleep(200 * 1000);
  EXPECT_EQ(contents(), "") << "nothing written past the lock";
  os::unlockFile(held);
  os::closeFile(held);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string line = formatPairRecordLine(run, L"", context);
  std::string expected = std::string(kRecordByteOrderMark) + header();
  for (int i = 0; i < 2 * kLines; ++i)
    expected += line;
  EXPECT_EQ(contents(), expected);
}

}  // namespace
