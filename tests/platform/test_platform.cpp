// Tests of the platform layer: events, threads, memory blocks, files and folders.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

namespace {

// ---- events and threads -------------------------------------------------------------

TEST(PlatformEventTest, TimesOutWhenNotSignalledAndResetsAfterAWait) {
  PlatformEvent* event = PlatformEventCreate();
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(PlatformEventWait(event, 0));
  uint32_t before = PlatformTickMs();
  EXPECT_FALSE(PlatformEventWait(event, 60));
  EXPECT_GE(uint32_t(PlatformTickMs() - before), 40u);  // really waited, in milliseconds

  // A signal given before anyone waits is kept until one wait consumes it.
  PlatformEventSignal(event);
  EXPECT_TRUE(PlatformEventWait(event, 0));
  EXPECT_FALSE(PlatformEventWait(event, 0));
  PlatformEventDestroy(event);
}

struct PingPong {
  PlatformEvent* ping;
  PlatformEvent* pong;
  std::atomic<bool> woke{false};
};

void AnswerPing(void* context) {
  PingPong* game = static_cast<PingPong*>(context);
  // Waits for ever: only a working signal gets it out.
  if (PlatformEventWait(game->ping, -1)) game->woke = true;
  PlatformEventSignal(game->pong);
}

TEST(PlatformEventTest, WakesAThreadThatWaitsForEver) {
  PingPong game;
  game.ping = PlatformEventCreate();
  game.pong = PlatformEventCreate();
  ASSERT_TRUE(game.ping && game.pong);
  PlatformThread* thread = PlatformThreadStart(AnswerPing, &game, 0);
  ASSERT_NE(thread, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let it block first
  PlatformEventSignal(game.ping);
  EXPECT_TRUE(PlatformEventWait(game.pong, 10000));
  PlatformThreadJoin(thread);
  EXPECT_TRUE(game.woke);
  PlatformEventDestroy(game.ping);
  PlatformEventDestroy(game.pong);
}

struct StackJob {
  int index;
  int result;
};

const size_t kScratchBytes = 96 * 1024;

int ExpectedSum(int index) {
  int sum = 0;
  for (size_t i = 0; i < kScratchBytes; i += 4096) sum += static_cast<unsigned char>(i + index);
  return sum;
}

void FillStackAndSum(void* context) {
  StackJob* job = static_cast<StackJob*>(context);
  // A frame of a good part of a 256 KiB stack, as the render workers use.
  volatile unsigned char scratch[kScratchBytes];
  for (size_t i = 0; i < kScratchBytes; ++i) scratch[i] = static_cast<unsigned char>(i + job->index);
  int sum = 0;
  for (size_t i = 0; i < kScratchBytes; i += 4096) sum += scratch[i];
  job->result = sum;
}

void MarkDone(void* context) {
  StackJob* job = static_cast<StackJob*>(context);
  job->result = ExpectedSum(job->index);
}

TEST(PlatformThreadTest, ThreadsRunWithRequestedStackSizesAndJoin) {
  struct Case {
    size_t stackBytes;
    PlatformThreadProc proc;
  };
  // A 1-byte request must be rounded up to what the system accepts, not refused;
  // it runs no big frame.
  const Case cases[] = {{0, FillStackAndSum},
                        {1, MarkDone},
                        {256 * 1024, FillStackAndSum},
                        {256 * 1024 + 123, FillStackAndSum},
                        {1024 * 1024, FillStackAndSum}};
  const int kThreads = int(sizeof(cases) / sizeof(cases[0]));
  StackJob jobs[kThreads];
  PlatformThread* threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    jobs[i] = {i, -1};
    threads[i] = PlatformThreadStart(cases[i].proc, &jobs[i], cases[i].stackBytes);
    ASSERT_NE(threads[i], nullptr) << "stack " << cases[i].stackBytes;
  }
  for (int i = 0; i < kThreads; ++i) PlatformThreadJoin(threads[i]);
  for (int i = 0; i < kThreads; ++i)
    EXPECT_EQ(jobs[i].result, ExpectedSum(i)) << "stack " << cases[i].stackBytes;
  EXPECT_GE(PlatformProcessorCount(), 1);
}

// ---- memory blocks ------------------------------------------------------------------

TEST(PlatformBlockTest, BlocksAreZeroedEvenAfterDirtyBlocksWereFreed) {
  const size_t sizes[] = {0, 1, 4095, 1 << 20};
  for (int round = 0; round < 2; ++round) {
    for (size_t bytes : sizes) {
      unsigned char* block = static_cast<unsigned char*>(PlatformBlockAlloc(bytes));
      ASSERT_NE(block, nullptr) << bytes;
      size_t nonZero = 0;
      for (size_t i = 0; i < bytes; ++i) nonZero += block[i] != 0;
      EXPECT_EQ(nonZero, 0u) << bytes << " bytes, round " << round;
      memset(block, 0xA5, bytes);  // dirty it so that reuse would show
      PlatformBlockFree(block);
    }
  }
  PlatformBlockFree(nullptr);
}

// ---- files and folders --------------------------------------------------------------

// A fresh folder under the temporary folder for each test, removed afterwards.
class PlatformFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[kPathMax];
    ASSERT_GT(PlatformTempFolder(temp, sizeof(temp)), 0u);
    folder = std::string(temp) + "tallow_platform_test_" + std::to_string(PlatformTickMs()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(PlatformFolderCreate(folder.c_str()));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::string PathOf(const char* name) const { return folder + PlatformPathSeparator() + name; }
  void WriteText(const std::string& path, const std::string& text) {
    PlatformFile* file = PlatformFileOpen(path.c_str(), kFileWriteTruncate);
    ASSERT_NE(file, nullptr) << path;
    EXPECT_EQ(PlatformFileWrite(file, text.data(), text.size()), int64_t(text.size()));
    PlatformFileClose(file);
  }
  std::string ReadText(const std::string& path) {
    PlatformFile* file = PlatformFileOpen(path.c_str(), kFileRead);
    if (!file) return "<missing>";
    char buffer[256];
    int64_t got = PlatformFileRead(file, buffer, sizeof(buffer));
    PlatformFileClose(file);
    return got < 0 ? "<error>" : std::string(buffer, size_t(got));
  }
  std::string folder;
};

TEST_F(PlatformFileTest, WriteSeekReadAndSetEndRoundTrip) {
  std::string path = PathOf("round trip.bin");
  EXPECT_EQ(PlatformFileOpen(path.c_str(), kFileRead), nullptr);  // not there yet
  WriteText(path, "abcdefghij");

  PlatformFile* file = PlatformFileOpen(path.c_str(), kFileReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(PlatformFileSize(file), 10);  // read-write keeps the contents
  ASSERT_TRUE(PlatformFileSeek(file, 4));
  EXPECT_EQ(PlatformFileWrite(file, "XY", 2), 2);
  ASSERT_TRUE(PlatformFileSeek(file, 0));
  char buffer[32] = {};
  EXPECT_EQ(PlatformFileRead(file, buffer, sizeof(buffer)), 10);  // short read at the end
  EXPECT_EQ(std::string(buffer, 10), "abcdXYghij");
  EXPECT_EQ(PlatformFileRead(file, buffer, sizeof(buffer)), 0);

  ASSERT_TRUE(PlatformFileSeek(file, 6));
  ASSERT_TRUE(PlatformFileSetEnd(file));
  EXPECT_EQ(PlatformFileSize(file), 6);
  EXPECT_FALSE(PlatformFileSeek(file, -1));
  // Seeking past the end and writing leaves a zero-filled gap.
  ASSERT_TRUE(PlatformFileSeek(file, 8));
  EXPECT_EQ(PlatformFileWrite(file, "Z", 1), 1);
  EXPECT_EQ(PlatformFileSize(file), 9);
  PlatformFileClose(file);
  EXPECT_EQ(ReadText(path), std::string("abcdXY\0\0Z", 9));

  WriteText(path, "");  // write-truncate empties an existing file
  EXPECT_EQ(ReadText(path), "");

  // A folder is not a file to read.
  EXPECT_EQ(PlatformFileOpen(folder.c_str(), kFileRead), nullptr);
}

TEST_F(PlatformFileTest, MoveReplacesAnExistingTarget) {
  std::string from = PathOf("new.q06");
  std::string to = PathOf("old.q06");
  WriteText(from, "new contents");
  WriteText(to, "old");
  ASSERT_TRUE(PlatformFileMove(from.c_str(), to.c_str()));
  EXPECT_FALSE(PlatformFileExists(from.c_str()));
  EXPECT_EQ(ReadText(to), "new contents");
  EXPECT_FALSE(PlatformFileMove(from.c_str(), to.c_str()));  // source is gone
  EXPECT_EQ(ReadText(to), "new contents");
}

TEST_F(PlatformFileTest, ExistsReadOnlyAndDelete) {
  std::string path = PathOf("flags.txt");
  EXPECT_FALSE(PlatformFileExists(path.c_str()));
  EXPECT_FALSE(PlatformFileIsReadOnly(path.c_str()));
  WriteText(path, "x");
  EXPECT_TRUE(PlatformFileExists(path.c_str()));
  EXPECT_FALSE(PlatformFileIsReadOnly(path.c_str()));

  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_TRUE(PlatformFileIsReadOnly(path.c_str()));
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);

  EXPECT_TRUE(PlatformFileDelete(path.c_str()));
  EXPECT_FALSE(PlatformFileExists(path.c_str()));
  EXPECT_FALSE(PlatformFileDelete(path.c_str()));
  EXPECT_TRUE(PlatformFolderCreate(folder.c_str()));  // already there is fine
}

struct Listing {
  std::map<std::string, bool> entries;  // name -> is folder
  int calls = 0;
  int stopAfter = -1;
};

bool RecordEntry(const char* name, bool isFolder, void* context) {
  Listing* listing = static_cast<Listing*>(context);
  listing->entries[name] = isFolder;
  ++listing->calls;
  return listing->calls != listing->stopAfter;
}

TEST_F(PlatformFileTest, ListsEntriesWithoutDotsAndStopsOnRequest) {
  WriteText(PathOf("one.q04"), "1");
  WriteText(PathOf("two.txt"), "2");
  ASSERT_TRUE(PlatformFolderCreate(PathOf("sub").c_str()));

  const std::string spellings[] = {folder, folder + PlatformPathSeparator()};
  for (const std::string& spelling : spellings) {
    Listing listing;
    ASSERT_TRUE(PlatformFolderList(spelling.c_str(), RecordEntry, &listing)) << spelling;
    std::map<std::string, bool> expected = {{"one.q04", false}, {"two.txt", false}, {"sub", true}};
    EXPECT_EQ(listing.entries, expected) << spelling;
    EXPECT_EQ(listing.calls, 3) << spelling;
  }

  Listing stopped;
  stopped.stopAfter = 1;
  ASSERT_TRUE(PlatformFolderList(folder.c_str(), RecordEntry, &stopped));
  EXPECT_EQ(stopped.calls, 1);

  Listing missing;
  EXPECT_FALSE(PlatformFolderList(PathOf("no such folder").c_str(), RecordEntry, &missing));
  EXPECT_EQ(missing.calls, 0);
}

TEST(PlatformTempFolderTest, EndsWithSeparatorAndNeverOverrunsTheBuffer) {
  char temp[kPathMax];
  size_t length = PlatformTempFolder(temp, sizeof(temp));
  ASSERT_GT(length, 0u);
  EXPECT_EQ(strlen(temp), length);
  EXPECT_EQ(temp[length - 1], PlatformPathSeparator());
  EXPECT_TRUE(PlatformFileExists(temp));

  // Exactly enough room works; one byte less gives nothing rather than a cut path.
  char exact[kPathMax + 1];
  EXPECT_EQ(PlatformTempFolder(exact, length + 1), length);
  EXPECT_STREQ(exact, temp);
  char small[kPathMax + 1];
  memset(small, '#', sizeof(small));
  EXPECT_EQ(PlatformTempFolder(small, length), 0u);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(small[length], '#');
}

}  // namespace
