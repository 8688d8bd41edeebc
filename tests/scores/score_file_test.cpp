// Tests of the score file: the line layout, loading and saving (with files
// written by an independent implementation of the format), damaged and short
// lines, durable replacement under write failures, names the separator would
// spoil, runs kept across a reload, the list's order and the JSON form; and
// the player's files as one archive, exported and merged back in.
#include "scores/score_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame_end.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/zip_archive.h"
#include "scores/fields/date_time.h"
#include "scores/replay_store.h"
#include "scores/scrambler.h"
#include "scores/your_files.h"

namespace scores {
namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh folder under /tmp with fresh score globals.
class ScoreFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zq_scores_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        old_ = fs::current_path();
        ASSERT_TRUE(media::ChangeDir(dir_));
        ResetScores();
    }
    void TearDown() override {
        media::SetWriteFaultAfter(-1);
        fs::current_path(old_);
        chmod(dir_.c_str(), 0700);
        std::error_code ec;
        fs::remove_all(dir_, ec);
        ResetScores();
    }

    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void WriteAll(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    static Scores Record(int64_t score, const std::string& name, int64_t timestamp) {
        Scores r;
        r.Score = score;
        r.Name = name;
        r.Timestamp = timestamp;
        return r;
    }
    static std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const Scores& r : ScoreList) names.push_back(r.Name);
        return names;
    }
    // Returns the number of entries in the test folder other than the save
    // lock's file (temporary files must not linger).
    size_t Entries() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(dir_)) {
            if (e.path().extension() != ".lock") ++n;
        }
        return n;
    }

    std::string dir_;
    fs::path old_;
};

const int64_t kDec8 = DateTimeNumber(2026, 12, 8, 13, 5, 9);
const int64_t kJan31 = DateTimeNumber(2025, 1, 31, 0, 0, 0);

// A file written by an independent implementation of the format: the account
// "Ann"/"pw9", then a run of "Zo\xE9 K" (newest) and one of "Bob".
const std::string kForeignFile =
    "1E4A554F5F50525F5D1768147E640804697B03\r\n"
    "62412018493EC81D5A203E1A112C273966087523641D0E43741F735F735A720B7733763D2E220352674B6A207E"
    "06694B4351697364414B2110291A3908771C5F572843346009742504521E26023369281D4620730A16434C9958"
    "53692D0A0F0E306470402F582C73210D036D5E65536C7417630157\r\n"
    "3F1805312A034C533E5C66534254071C3B74502B3D5F565575735019B1334E1E38785C04566403277B4F412D69"
    "0D5231683C6E2E6F343422253B6C42512C1E4A574A71250074546B00417245733D0A026A22601B7626760C7464"
    "03277B4F412D380F1E7D5663706223787E63006D726476\r\n";

Scores ForeignNewest() {
    Scores r;
    r.Score = 12345;
    r.Name = "Zo\xE9 K";
    r.Badges = 3;
    r.Timestamp = kDec8;
    r.Level = 4;
    r.GameMode = 2;
    r.GameFlags = 5;
    r.Best[1] = 7;
    r.Best[30] = 1;
    return r;
}

Scores ForeignOldest() {
    Scores r;
    r.Score = -20;
    r.Name = "Bob";
    r.Timestamp = kJan31;
    r.Level = 1;
    r.Quit = 1;
    return r;
}

// --- Interchange with an independent implementation ---

TEST_F(ScoreFileTest, LoadsForeignFileRecordForRecord) {
    WriteAll(kScoreFileName, kForeignFile);
    LoadScores();
    EXPECT_EQ(AccountName, "Ann");
    EXPECT_EQ(AccountPassword, "pw9");
    ASSERT_EQ(ScoreList.size(), 2u);
    EXPECT_EQ(ScoreList.front(), ForeignNewest());
    EXPECT_EQ(ScoreList.back(), ForeignOldest());
    EXPECT_EQ(PlayerName, "Zo\xE9 K");
}

TEST_F(ScoreFileTest, WritesWhatForeignImplementationWrites) {
    AccountName = "Ann";
    AccountPassword = "pw9";
    ScoreList.push_back(ForeignOldest());
    ScoreList.push_back(ForeignNewest());
    ASSERT_TRUE(SaveScores());
    EXPECT_EQ(ReadAll(kScoreFileName), kForeignFile);
}

TEST_F(ScoreFileTest, LineLayout) {
    Scores r = ForeignOldest();
    r.Best[2] = -3;
    EXPECT_EQ(FormatScoreLine(r), "-20|Bob|0|" + std::to_string(kJan31) +
                                      "|1|0|0|1)~&+\xA7!R52nV8^0|-3" +
                                      "|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0|0");
}

// --- Loading and saving ---

TEST_F(ScoreFileTest, MissingFileChangesNothing) {
    LoadScores();
    EXPECT_TRUE(ScoreList.empty());
    EXPECT_EQ(AccountName, "");
    EXPECT_EQ(AccountPassword, "");
    EXPECT_EQ(PlayerName, "Player");
}

TEST_F(ScoreFileTest, RoundTripKeepsEveryField) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> small(0, 1000000);
    std::vector<Scores> made;
    for (int i = 0; i < 40; ++i) {
        Scores r;
        r.Score = (int64_t{small(rng)} << 20) * (i % 3 == 0 ? -1 : 1);
        r.Timestamp = DateTimeNumber(2020 + i % 7, 1 + i % 12, 1 + i % 31, i % 24, i % 60, i);
        r.Badges = small(rng);
        r.Name = "P" + std::to_string(i) + std::string(1, static_cast<char>(128 + i));
        r.Level = small(rng);
        r.GameMode = i % 3;
        r.GameFlags = small(rng);
        r.Quit = i % 2;
        for (int b = 1; b <= 30; ++b) r.Best[static_cast<size_t>(b)] = small(rng);
        made.push_back(r);
        ScoreList.push_back(r);
    }
    AccountName = "acc name";
    AccountPassword = "pa ss";
    ASSERT_TRUE(SaveScores());
    const std::list<Scores> saved = ScoreList;
    ResetScores();
    LoadScores();
    EXPECT_EQ(ScoreList, saved);
    EXPECT_EQ(AccountName, "acc name");
    EXPECT_EQ(AccountPassword, "pa ss");
    EXPECT_EQ(PlayerName, saved.front().Name);
}

TEST_F(ScoreFileTest, FileIsHexLinesWithCrLf) {
    ScoreList.push_back(Record(5, "a", 1));
    ScoreList.push_back(Record(6, "bb", 2));
    ASSERT_TRUE(SaveScores());
    const std::string bytes = ReadAll(kScoreFileName);
    int lines = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r') {
            ASSERT_LT(i + 1, bytes.size());
            ASSERT_EQ(bytes[i + 1], '\n');
            ++lines;
            ++i;
            continue;
        }
        ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << int(c);
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

TEST_F(ScoreFileTest, EmptyAccountGivesValidLine) {
    ASSERT_TRUE(SaveScores());
    EXPECT_EQ(ReadAll(kScoreFileName), Scramble("|", AccountKey) + "\r\n");
    AccountName = "x";
    LoadScores();
    EXPECT_EQ(AccountName, "");
    EXPECT_EQ(AccountPassword, "");
    EXPECT_TRUE(ScoreList.empty());
}

TEST_F(ScoreFileTest, OnlyAccountLineLeavesListEmpty) {
    ScoreList.push_back(Record(1, "old", 1));
    WriteAll(kScoreFileName, Scramble("me|pw", AccountKey) + "\r\n");
    LoadScores();
    EXPECT_TRUE(ScoreList.empty());
    EXPECT_EQ(AccountName, "me");
    EXPECT_EQ(PlayerName, "Player");
}

TEST_F(ScoreFileTest, EqualTimestampsKeepInsertionOrder) {
    for (const char* n : {"first", "second", "third"}) ScoreList.push_back(Record(1, n, 500));
    ScoreList.push_front(Record(1, "older", 100));
    ScoreList.push_back(Record(1, "newer", 900));
    SortScoreList();
    const std::vector<std::string> expect = {"newer", "first", "second", "third", "older"};
    EXPECT_EQ(Names(), expect);
    ASSERT_TRUE(SaveScores());
    ResetScores();
    LoadScores();
    EXPECT_EQ(Names(), expect);
}

TEST_F(ScoreFileTest, NameIsTrimmedOnReload) {
    ScoreList.push_back(Record(1, "  Ann \t", 1));
    ASSERT_TRUE(SaveScores());
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    EXPECT_EQ(ScoreList.front().Name, "Ann");
    EXPECT_EQ(PlayerName, "Ann");
}

// --- Damaged files ---

TEST_F(ScoreFileTest, DamagedAccountLineReadsXXX) {
    std::string account = Scramble("me|pw", AccountKey);
    account[3] = account[3] == '0' ? '1' : '0';
    WriteAll(kScoreFileName,
             account + "\r\n" + Scramble(FormatScoreLine(Record(3, "k", 4)), "") + "\r\n");
    LoadScores();
    EXPECT_EQ(AccountName, "XXX");
    EXPECT_EQ(AccountPassword, "XXX");
    ASSERT_EQ(ScoreList.size(), 1u);
}

TEST_F(ScoreFileTest, DamagedAndForeignKeyLinesAreSkipped) {
    std::string bad = Scramble(FormatScoreLine(Record(2, "bad", 2)), "");
    bad[10] = bad[10] == 'A' ? 'B' : 'A';
    const std::string otherKey = Scramble(FormatScoreLine(Record(3, "other", 3)), "not ours");
    WriteAll(kScoreFileName, Scramble("|", AccountKey) + "\r\n" +
                                 Scramble(FormatScoreLine(Record(1, "good", 1)), "") + "\r\n" +
                                 bad + "\r\n" + otherKey + "\n" + "zz junk zz\r\n\r\n" +
                                 Scramble(FormatScoreLine(Record(4, "last", 4)), ""));
    LoadScores();
    const std::vector<std::string> expect = {"last", "good"};
    EXPECT_EQ(Names(), expect);
    // The first record read names the player, whatever its place after sorting.
    EXPECT_EQ(PlayerName, "good");
}

TEST_F(ScoreFileTest, EmptyFileAndShortLinesDoNotCrash) {
    WriteAll(kScoreFileName, "");
    LoadScores();
    EXPECT_TRUE(ScoreList.empty());
    EXPECT_EQ(AccountName, "XXX");

    // Lines of two characters or fewer are split as they stand.
    WriteAll(kScoreFileName, "\r\n|\r\nab\r\n1\r\n12345678901\r\n");
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    EXPECT_EQ(ScoreList.front(), Scores{});
    EXPECT_EQ(PlayerName, "");
}

TEST_F(ScoreFileTest, NumbersReadAsAbsoluteCountsAndStopAtJunk) {
    const std::string plain = "12x4|Name|-7|99|-5|2147483648|3junk|-1)~&+\xA7!R52nV8^-9|8|x";
    WriteAll(kScoreFileName, Scramble("|", AccountKey) + "\r\n" + Scramble(plain, "") + "\r\n");
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    const Scores& r = ScoreList.front();
    EXPECT_EQ(r.Score, 12);
    EXPECT_EQ(r.Badges, 7);
    EXPECT_EQ(r.Timestamp, 99);
    EXPECT_EQ(r.Level, 5);
    // 2147483648 wraps to the smallest int, whose count reads as the largest.
    EXPECT_EQ(r.GameMode, INT32_MAX);
    EXPECT_EQ(r.GameFlags, 3);
    EXPECT_EQ(r.Quit, 1);
    EXPECT_EQ(r.Best[1], 9);
    EXPECT_EQ(r.Best[2], 8);
    EXPECT_EQ(r.Best[3], 0);
    EXPECT_EQ(r.Best[30], 0);
}

TEST_F(ScoreFileTest, LineWithoutScoreKeyStillCountsWithMissingFieldsZero) {
    Scores r;
    ASSERT_TRUE(ParseScoreLine("50|Solo", r));
    EXPECT_EQ(r.Score, 50);
    EXPECT_EQ(r.Name, "Solo");
    EXPECT_EQ(r.Timestamp, 0);
    // Part B of a text without ScoreKey is the whole text.
    EXPECT_EQ(r.Best[1], 50);
    EXPECT_EQ(r.Best[2], 0);
    EXPECT_FALSE(ParseScoreLine("XXX", r));
    EXPECT_FALSE(ParseScoreLine("", r));
}

// --- Durable writing ---

TEST_F(ScoreFileTest, UnwritableFolderLeavesOldFileAndCarriesOn) {
    ScoreList.push_back(Record(1, "kept", 1));
    ASSERT_TRUE(SaveScores());
    const std::string before = ReadAll(kScoreFileName);
    ScoreList.push_back(Record(2, "new", 2));
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir_.c_str(), 0500), 0);
    } else {
        // Permissions do not stop root: make the very first byte fail instead.
        media::SetWriteFaultAfter(0);
    }
    EXPECT_FALSE(SaveScores());
    chmod(dir_.c_str(), 0700);
    media::SetWriteFaultAfter(-1);
    EXPECT_EQ(ReadAll(kScoreFileName), before);
    EXPECT_EQ(Entries(), 1u);
    EXPECT_EQ(ScoreList.size(), 2u);
    EXPECT_TRUE(SaveScores());
}

TEST_F(ScoreFileTest, WriteFailingMidwayLeavesOldFile) {
    for (int i = 0; i < 300; ++i) ScoreList.push_back(Record(i, "run" + std::to_string(i), i));
    ASSERT_TRUE(SaveScores());
    const std::string before = ReadAll(kScoreFileName);
    ASSERT_GT(before.size(), 40000u);
    ScoreList.push_back(Record(999, "extra", 1000));
    media::SetWriteFaultAfter(static_cast<int64_t>(before.size() / 2));
    EXPECT_FALSE(SaveScores());
    media::SetWriteFaultAfter(-1);
    EXPECT_EQ(ReadAll(kScoreFileName), before);
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(ScoreFileTest, VanishedFolderFailsWithoutCrash) {
    const std::string gone = dir_ + "/gone";
    ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
    ASSERT_TRUE(media::ChangeDir(gone));
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    ScoreList.push_back(Record(1, "a", 1));
    EXPECT_FALSE(SaveScores());
    EXPECT_FALSE(AddRun(Record(2, "b", 2)));
    LoadScores();
    EXPECT_EQ(ScoreList.size(), 2u);
}

// --- Names the line could not carry as they are ---

TEST_F(ScoreFileTest, BarInNameIsStoredAsBrokenBar) {
    Scores r = ForeignNewest();
    r.Name = "a|b||c|";
    ScoreList.push_back(r);
    ScoreList.push_back(Record(8, "plain", 1));
    ASSERT_TRUE(SaveScores());
    // The name in memory keeps its "|" until the next reload.
    EXPECT_EQ(ScoreList.front().Name, "a|b||c|");
    ResetScores();
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 2u);
    Scores expect = r;
    expect.Name =
        "a\xA6"
        "b\xA6\xA6"
        "c\xA6";
    EXPECT_EQ(ScoreList.front(), expect);
    EXPECT_EQ(ScoreList.back().Name, "plain");
}

TEST_F(ScoreFileTest, ScoreKeyInNameDoesNotShiftFields) {
    Scores r = ForeignNewest();
    r.Name = "x" + std::string(ScoreKey) + "y";
    ScoreList.push_back(r);
    ASSERT_TRUE(SaveScores());
    ResetScores();
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    Scores expect = r;
    expect.Name = "x)~&+S!R52nV8^y";
    EXPECT_EQ(ScoreList.front(), expect);
}

TEST_F(ScoreFileTest, EveryOtherNameIsKeptByteForByte) {
    // Every code except "|", inside a name (ends are trimmed, so keep them printable).
    std::string name = "<";
    for (int c = 0; c < 256; ++c) {
        if (c != '|') name.push_back(static_cast<char>(c));
    }
    name += ">";
    ScoreList.push_back(Record(1, name, 1));
    ASSERT_TRUE(SaveScores());
    ResetScores();
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    EXPECT_EQ(ScoreList.front().Name, name);
}

// --- Runs are saved at once and survive reloads ---

TEST_F(ScoreFileTest, AddRunSavesAtOnce) {
    ASSERT_TRUE(AddRun(Record(10, "first", 100)));
    ASSERT_TRUE(AddRun(Record(20, "second", 200)));
    EXPECT_EQ(Names(), (std::vector<std::string>{"second", "first"}));
    ResetScores();
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"second", "first"}));
}

TEST_F(ScoreFileTest, RunWhoseSaveFailedSurvivesReload) {
    ASSERT_TRUE(AddRun(Record(10, "saved", 100)));
    media::SetWriteFaultAfter(0);
    EXPECT_FALSE(AddRun(Record(20, "unsaved", 200)));
    media::SetWriteFaultAfter(-1);
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"unsaved", "saved"}));
    // A second reload still keeps it once.
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"unsaved", "saved"}));
    // Once a save succeeds the run comes from the file alone.
    ASSERT_TRUE(SaveScores());
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"unsaved", "saved"}));
}

TEST_F(ScoreFileTest, SavedRunIsNotDoubledByReload) {
    Scores r = ForeignNewest();
    r.Name = "pipe|name ";
    ASSERT_TRUE(AddRun(r));
    LoadScores();
    ASSERT_EQ(ScoreList.size(), 1u);
    EXPECT_EQ(ScoreList.front().Name, "pipe\xA6name");
}

TEST_F(ScoreFileTest, IdenticalRunsAreKeptOncePerRun) {
    media::SetWriteFaultAfter(0);
    EXPECT_FALSE(AddRun(Record(5, "twin", 300)));
    EXPECT_FALSE(AddRun(Record(5, "twin", 300)));
    media::SetWriteFaultAfter(-1);
    LoadScores();  // no file at all: nothing changes
    EXPECT_EQ(ScoreList.size(), 2u);
    ASSERT_TRUE(AddRun(Record(6, "third", 400)));
    LoadScores();
    EXPECT_EQ(ScoreList.size(), 3u);
    // The file now holds both twins; a failed save then a reload keeps two, not four.
    media::SetWriteFaultAfter(0);
    EXPECT_FALSE(AddRun(Record(7, "fourth", 500)));
    media::SetWriteFaultAfter(-1);
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"fourth", "third", "twin", "twin"}));
}

TEST_F(ScoreFileTest, RunRemovedFromListIsNotRevivedByReload) {
    ASSERT_TRUE(SaveScores());
    media::SetWriteFaultAfter(0);
    EXPECT_FALSE(AddRun(Record(5, "thinned", 300)));
    media::SetWriteFaultAfter(-1);
    ScoreList.clear();
    LoadScores();
    EXPECT_TRUE(ScoreList.empty());
}

TEST_F(ScoreFileTest, FileThatCannotBeReadIsNeverReplacedAndMergedOnceReadable) {
    const std::string kept = Scramble("acct|pw", AccountKey) + "\r\n" +
                             Scramble(FormatScoreLine(Record(1, "old", 10)), "") + "\r\n";
    // Each kind of file that is there but cannot be read; none counts as absent.
    const std::vector<std::string> kinds = {"folder", "fifo", "devzero", "16MiB", "records"};
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        ResetScores();
        fs::remove_all(kScoreFileName);
        if (kind == "folder") fs::create_directory(kScoreFileName);
        if (kind == "fifo") {
            ASSERT_EQ(mkfifo(kScoreFileName, 0600), 0);
        }
        if (kind == "devzero") fs::create_symlink("/dev/zero", kScoreFileName);
        if (kind == "16MiB") {
            WriteAll(kScoreFileName, kept);
            fs::resize_file(kScoreFileName, (16u << 20) + 1);
        }
        if (kind == "records") {
            std::string lines = kept;
            for (int i = 0; i < 100001; ++i) lines += "1|\r\n";
            WriteAll(kScoreFileName, lines);
        }
        const auto type = fs::symlink_status(kScoreFileName).type();
        const uintmax_t size = type == fs::file_type::regular ? fs::file_size(kScoreFileName) : 0;
        ScoreList.push_back(Record(5, "session", 50));
        LoadScores();
        EXPECT_EQ(Names(), std::vector<std::string>{"session"});
        EXPECT_FALSE(AddRun(Record(6, "later", 60)));
        EXPECT_EQ(ScoreList.size(), 2u);
        EXPECT_EQ(fs::symlink_status(kScoreFileName).type(), type);
        if (type == fs::file_type::regular) {
            EXPECT_EQ(fs::file_size(kScoreFileName), size);
        }
        ASSERT_FALSE(engine::NoticeList.empty());
        EXPECT_EQ(engine::NoticeList.back().txt, kScoresNotSavedNotice);
    }
    // Once the file can be read again, the next save takes in its runs and keeps its account.
    fs::remove_all(kScoreFileName);
    WriteAll(kScoreFileName, kept);
    ASSERT_TRUE(AddRun(Record(7, "third", 70)));
    ResetScores();
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"third", "later", "session", "old"}));
    EXPECT_EQ(AccountName + "|" + AccountPassword, "acct|pw");
}

TEST_F(ScoreFileTest, FileWithUnreadableLinesIsKeptOnceAsBak) {
    ASSERT_TRUE(AddRun(Record(1, "one", 10)));
    ASSERT_TRUE(AddRun(Record(2, "two", 20)));
    // An editor lower-cased the file: every line fails its check.
    std::string lowered = ReadAll(kScoreFileName);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    WriteAll(kScoreFileName, lowered);
    ResetScores();
    LoadScores();
    EXPECT_TRUE(ScoreList.empty());
    ASSERT_TRUE(AddRun(Record(3, "three", 30)));
    const std::string bak = std::string(kScoreFileName) + ".bak";
    EXPECT_EQ(ReadAll(bak), lowered);
    // The new file is clean, so a later save leaves the copy alone.
    WriteAll(bak, "mine");
    ASSERT_TRUE(AddRun(Record(4, "four", 40)));
    EXPECT_EQ(ReadAll(bak), "mine");
    // A clean file never gets a copy.
    fs::remove(bak);
    ASSERT_TRUE(SaveScores());
    EXPECT_FALSE(fs::exists(bak));
}

TEST_F(ScoreFileTest, SaveTakesInRunsAnotherCopySavedButNotRunsThisOneRemoved) {
    ASSERT_TRUE(AddRun(Record(1, "ours", 10)));
    ASSERT_TRUE(AddRun(Record(2, "thinned", 20)));
    // Another copy of the program read the file and saved its own run.
    const std::string account = Scramble("|", AccountKey) + "\r\n";
    std::string file = account;
    for (const Scores& r :
         {Record(3, "theirs", 30), Record(2, "thinned", 20), Record(1, "ours", 10)}) {
        file += Scramble(FormatScoreLine(r), "") + "\r\n";
    }
    WriteAll(kScoreFileName, file);
    // This copy thins its list (as the high-score panel does) and adds a run.
    ScoreList.remove_if([](const Scores& r) { return r.Name == "thinned"; });
    ASSERT_TRUE(AddRun(Record(4, "mine", 40)));
    EXPECT_EQ(Names(), (std::vector<std::string>{"mine", "theirs", "ours"}));
    ResetScores();
    LoadScores();
    EXPECT_EQ(Names(), (std::vector<std::string>{"mine", "theirs", "ours"}));
    // Saving again merges nothing twice.
    ASSERT_TRUE(SaveScores());
    ASSERT_TRUE(SaveScores());
    LoadScores();
    EXPECT_EQ(ScoreList.size(), 3u);
}

// --- Order of the list ---

TEST(ScoresCompare, NewestFirstAndNull) {
    Scores older;
    older.Timestamp = 1000;
    Scores newer;
    newer.Timestamp = 1500;
    EXPECT_EQ(older.Compare(nullptr), 1);
    EXPECT_EQ(older.Compare(&newer), 500);
    EXPECT_EQ(newer.Compare(&older), -500);
    EXPECT_EQ(newer.Compare(&newer), 0);
    // The difference is cut to its low 32 bits.
    Scores far;
    far.Timestamp = 1000 + (int64_t{1} << 32) + 7;
    EXPECT_EQ(older.Compare(&far), 7);
}

TEST(ScoresSort, StableMergeSortMatchesStableSort) {
    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
        std::list<Scores> list;
        std::vector<Scores> ref;
        std::uniform_int_distribution<int> ts(0, 9);
        const int n = round * 7;
        for (int i = 0; i < n; ++i) {
            Scores r;
            r.Timestamp = kDec8 + ts(rng) * 86400;
            r.Score = i;  // insertion order
            list.push_back(r);
            ref.push_back(r);
        }
        SortScores(list);
        std::stable_sort(ref.begin(), ref.end(), [](const Scores& a, const Scores& b) {
            return a.Timestamp > b.Timestamp;
        });
        ASSERT_EQ(std::vector<Scores>(list.begin(), list.end()), ref);
    }
}

// Loading must give the order a re-sort after every record gives, also when
// timestamps lie so far apart that Compare stops being a consistent order.
TEST_F(ScoreFileTest, LoadOrderMatchesSortAfterEveryRecord) {
    std::mt19937 rng(17);
    for (int64_t spread : {int64_t{50}, int64_t{1} << 33, int64_t{1} << 62}) {
        std::uniform_int_distribution<int64_t> ts(-spread, spread);
        std::string file = Scramble("|", AccountKey) + "\r\n";
        std::list<Scores> expect;
        for (int i = 0; i < 200; ++i) {
            Scores r = Record(i, "r" + std::to_string(i), i % 5 == 0 ? 7 : ts(rng));
            file += (i % 9 == 4 ? std::string("junk") : Scramble(FormatScoreLine(r), "")) + "\r\n";
            if (i % 9 != 4) expect.push_back(r);
            SortScores(expect);
        }
        WriteAll(kScoreFileName, file);
        LoadScores();
        ASSERT_EQ(ScoreList, expect) << "spread " << spread;
    }
}

// --- Name characters and the JSON form ---

TEST(NameChars, TypedCodePoints) {
    EXPECT_EQ(NameCharFor('A'), 'A');
    EXPECT_EQ(NameCharFor(' '), ' ');
    EXPECT_EQ(NameCharFor('|'), 166);
    EXPECT_EQ(NameCharFor(0xE9), 0xE9);
    EXPECT_EQ(NameCharFor(0xFF), 0xFF);
    EXPECT_EQ(NameCharFor(8), 0);
    EXPECT_EQ(NameCharFor(13), 0);
    EXPECT_EQ(NameCharFor(0x2019), '\'');
    EXPECT_EQ(NameCharFor(0x201C), '"');
    EXPECT_EQ(NameCharFor(0x2014), '-');
    EXPECT_EQ(NameCharFor(0x2026), '.');
    EXPECT_EQ(NameCharFor(0x0141), 'L');  // L with stroke
    EXPECT_EQ(NameCharFor(0x017E), 'z');  // z with caron
    EXPECT_EQ(NameCharFor(0x200B), 0);
    EXPECT_EQ(NameCharFor(0x4E2D), '?');
    EXPECT_EQ(NameCharFor(0x1F600), '?');
    EXPECT_EQ(NameCharFor(0xFFFFFFFF), '?');
    for (uint32_t cp = 0; cp < 0x30000; ++cp) {
        int c = NameCharFor(cp);
        ASSERT_TRUE(c == 0 || (c >= 32 && c <= 255 && c != '|')) << cp;
    }
}

TEST(ScoreJson, RecordAsOneLine) {
    Scores r = ForeignNewest();
    EXPECT_EQ(ScoreRecordJson(r),
              "{\"score\":12345,\"name\":\"Zo\xC3\xA9 K\",\"badges\":3,\"timestamp\":" +
                  std::to_string(kDec8) +
                  ",\"date\":\"08-12-2026\",\"time\":\"13:05:09\",\"level\":4,\"mode\":2,"
                  "\"flags\":5,\"quit\":0,\"best\":[7,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
                  "0,0,0,0,0,0,1]}");
}

TEST(ScoreJson, NameIsEscaped) {
    Scores r;
    r.Name = std::string("q\"b\\s/\n\t\x01\x1F\x7F\xA6\xFF", 13);
    const std::string json = ScoreRecordJson(r);
    EXPECT_NE(json.find("\"name\":\"q\\\"b\\\\s/\\n\\t\\u0001\\u001f\x7F\xC2\xA6\xC3\xBF\""),
              std::string::npos)
        << json;
    // Nothing below 0x20 and no lone byte above 0x7F remains.
    for (size_t i = 0; i < json.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(json[i]);
        ASSERT_GE(c, 0x20);
        if (c >= 0xC0) {
            ASSERT_LT(i + 1, json.size());
            ASSERT_EQ(static_cast<unsigned char>(json[i + 1]) & 0xC0, 0x80);
            ++i;
        } else {
            ASSERT_LT(c, 0x80);
        }
    }
    Scores zero;
    zero.Name = std::string("\0", 1);
    EXPECT_NE(ScoreRecordJson(zero).find("\"name\":\"\\u0000\""), std::string::npos);
}

// --- The player's files as one archive ---

// A score file as the foreign implementation writes it: the account line, then the runs.
std::string FileOf(const std::string& account, const std::vector<Scores>& runs) {
    std::string file = Scramble(account, AccountKey) + "\r\n";
    for (const Scores& r : runs) file += Scramble(FormatScoreLine(r), "") + "\r\n";
    return file;
}

// Returns every replay in the replays folder with its bytes.
std::map<std::string, std::string> StoredReplays() {
    std::map<std::string, std::string> out;
    for (const std::string& name : media::ListFiles(ReplayFolder())) {
        std::ifstream in(ReplayFolder() + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        out[name] = ss.str();
    }
    return out;
}

// Returns a store-only archive of the members.
std::string Zip(const std::vector<media::TZipMember>& members) {
    std::string zip;
    std::string error;
    EXPECT_TRUE(media::WriteZip(members, zip, error)) << error;
    return zip;
}

// Returns the archive with the first copy of bytes changed.
std::string Spoiled(std::string zip, const std::string& bytes) {
    const size_t at = zip.find(bytes);
    EXPECT_NE(at, std::string::npos);
    zip[at] ^= 0x20;
    return zip;
}

TEST_F(ScoreFileTest, ImportMergesAndNeverOverwrites) {
    const Scores a = Record(100, "Ann", kDec8);
    const Scores b = Record(200, "Bob", kJan31);
    const Scores c = Record(300, "Cy", DateTimeNumber(2026, 6, 1, 9, 0, 0));
    const std::string ra = ReplayFileName(a);
    const std::string rb = ReplayFileName(b);
    const std::string rc = ReplayFileName(c);
    const std::string ra2 = ReplayNameWithOrdinal(ra, 2);
    const std::string oldName = "2026-12-08_13-05-09_100.zqr";  // the form before check values
    const std::string dotdot = Zip({{"xx/escape.zqr", "x"}});
    std::string escaping = dotdot;
    for (size_t at; (at = escaping.find("xx/")) != std::string::npos;) escaping.replace(at, 2, "..");

    using Files = std::map<std::string, std::string>;
    struct Case {
        const char* what;
        std::string storedAccount;  // "name|password"
        std::vector<Scores> storedRuns;
        Files storedReplays;
        std::string archive;
        bool accepted;
        std::vector<std::string> runsAfter;  // names, newest first
        Files replaysAfter;
        std::string accountAfter;
        std::vector<std::string> problems;  // the start of each line reported, in order
        int added, renamed, present;
    };
    const std::vector<Case> cases = {
        {"into an empty folder", "", {}, {},
         Zip({{"nuscores.dat", FileOf("Ann|pw", {a, b})}, {"replays/" + ra, "ra"}}), true,
         {"Ann", "Bob"}, {{ra, "ra"}}, "Ann|pw", {}, 1, 0, 0},
        {"runs and replays held stay; a different replay of a name goes beside it", "Me|x", {a},
         {{ra, "ours"}},
         Zip({{"nuscores.dat", FileOf("Ann|pw", {a, c})},
              {"replays/" + ra, "theirs"},
              {"replays/" + rc, "rc"}}),
         true, {"Ann", "Cy"}, {{ra, "ours"}, {ra2, "theirs"}, {rc, "rc"}}, "Me|x", {}, 1, 1, 0},
        {"the same replay is stored once", "", {a}, {{ra, "same"}},
         Zip({{"nuscores.dat", FileOf("|", {a})}, {"replays/" + ra, "same"}}), true, {"Ann"},
         {{ra, "same"}}, "|", {}, 0, 0, 1},
        {"identical runs: as many as the archive holds", "", {a}, {},
         Zip({{"nuscores.dat", FileOf("|", {a, a})}}), true, {"Ann", "Ann"}, {}, "|", {}, 0, 0, 0},
        {"a desktop folder zipped whole", "", {}, {},
         Zip({{"Zarquill/Setup.ini", "[x]"},
              {"Zarquill/nuscores.dat", FileOf("|", {b})},
              {"Zarquill/replays/" + rb, "rb"},
              {"Zarquill/replays/notes.txt", "n"},
              {"other/replays/" + ra, "elsewhere"}}),
         true, {"Bob"}, {{rb, "rb"}}, "|",
         {"left out (not a score file or replay): Zarquill/Setup.ini, Zarquill/replays/notes.txt, "
          "other/replays/" + ra},
         1, 0, 0},
        {"replays alone", "", {a}, {}, Zip({{"replays/" + ra, "ra"}}), true, {"Ann"}, {{ra, "ra"}},
         "|", {}, 1, 0, 0},
        {"a damaged replay is named, the rest is read", "", {a}, {{ra, "ours"}},
         Spoiled(Zip({{"nuscores.dat", FileOf("|", {a, b})},
                      {"replays/" + rb, "bob's replay"},
                      {"replays/" + ra, "ours"}}),
                 "bob's replay"),
         true, {"Ann", "Bob"}, {{ra, "ours"}}, "|", {"replays/" + rb + ": damaged"}, 0, 0, 1},
        {"a damaged score file is named, the stored one is kept", "Me|x", {a}, {},
         Spoiled(Zip({{"nuscores.dat", FileOf("|", {b})}}), Scramble(FormatScoreLine(b), "")),
         true, {"Ann"}, {}, "Me|x", {"nuscores.dat: damaged"}, 0, 0, 0},
        {"unreadable lines are named, the readable runs taken", "", {}, {},
         Zip({{"nuscores.dat", FileOf("|", {a}) + "0123456789\r\n"}}), true, {"Ann"}, {}, "|",
         {"nuscores.dat: some lines could not be read"}, 0, 0, 0},
        {"a replay of the earlier name form with other bytes is refused", "", {a},
         {{oldName, "ours"}}, Zip({{"replays/" + oldName, "theirs"}}), true, {"Ann"},
         {{oldName, "ours"}}, "|", {oldName + ": a different replay of that name is kept"}, 0, 0,
         0},
        {"not an archive", "Me|x", {a}, {{ra, "ours"}}, "PK not really", false, {"Ann"},
         {{ra, "ours"}}, "Me|x", {"The archive cannot be read: not a zip archive"}, 0, 0, 0},
        {"a name leaving the folder refuses the archive", "", {a}, {{ra, "ours"}}, escaping, false,
         {"Ann"}, {{ra, "ours"}}, "|", {"The archive cannot be read: refused member name"}, 0, 0,
         0},
        {"nothing of the game's", "", {}, {}, Zip({{"photo.png", "x"}}), false, {}, {}, "",
         {"The archive holds no nuscores.dat and no replays"}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetScores();
        fs::remove_all(dir_ + "/replays");
        fs::remove(dir_ + "/" + kScoreFileName);
        if (!c.storedAccount.empty() || !c.storedRuns.empty()) {
            AccountName = c.storedAccount.substr(0, c.storedAccount.find('|'));
            AccountPassword = c.storedAccount.substr(c.storedAccount.find('|') + 1);
            for (const Scores& r : c.storedRuns) ScoreList.push_back(r);
            ASSERT_TRUE(SaveScores());
        }
        ASSERT_TRUE(media::MakeFolders(ReplayFolder()));
        for (const auto& [name, bytes] : c.storedReplays) WriteAll(ReplayFolder() + name, bytes);
        ResetScores();
        LoadScores();

        ImportReport report;
        EXPECT_EQ(ImportYourFiles(c.archive, report), c.accepted);
        ASSERT_EQ(report.problems.size(), c.problems.size()) << testing::PrintToString(report.problems);
        for (size_t i = 0; i < c.problems.size(); ++i) {
            EXPECT_EQ(report.problems[i].substr(0, c.problems[i].size()), c.problems[i]);
        }
        EXPECT_EQ(report.replaysAdded, c.added);
        EXPECT_EQ(report.replaysRenamed, c.renamed);
        EXPECT_EQ(report.replaysPresent, c.present);
        // What was merged is on disk: a fresh start reads the same.
        EXPECT_EQ(Names(), c.runsAfter);
        ResetScores();
        LoadScores();
        EXPECT_EQ(Names(), c.runsAfter);
        EXPECT_EQ(AccountName + (c.accountAfter.empty() ? "" : "|" + AccountPassword),
                  c.accountAfter);
        EXPECT_EQ(StoredReplays(), c.replaysAfter);
    }
}

TEST_F(ScoreFileTest, ExportHoldsTheStoredFilesAndImportsIntoAnotherFolder) {
    std::vector<std::string> problems;
    std::string zip;
    EXPECT_FALSE(ExportYourFiles(zip, problems));
    EXPECT_EQ(problems, std::vector<std::string>{"there are no scores or replays to export yet"});

    const Scores a = Record(100, "Ann", kDec8);
    ASSERT_TRUE(AddRun(a));
    ASSERT_TRUE(media::MakeFolders(ReplayFolder()));
    WriteAll(ReplayFolder() + ReplayFileName(a), "ann's replay");
    WriteAll(ReplayFolder() + "notes.txt", "not the game's");
    problems.clear();
    ASSERT_TRUE(ExportYourFiles(zip, problems));
    EXPECT_TRUE(problems.empty());
    media::TZipReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(zip, error)) << error;
    std::map<std::string, std::string> members;
    for (const media::TZipEntry& e : reader.Entries()) {
        ASSERT_TRUE(reader.Extract(e, members[e.name], error)) << error;
    }
    EXPECT_EQ(members, (std::map<std::string, std::string>{
                           {"nuscores.dat", ReadAll(kScoreFileName)},
                           {"replays/" + ReplayFileName(a), "ann's replay"}}));

    fs::remove_all(dir_ + "/replays");
    fs::remove(dir_ + "/" + kScoreFileName);
    ResetScores();
    ImportReport report;
    ASSERT_TRUE(ImportYourFiles(zip, report));
    EXPECT_EQ(report.runsAdded, 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"Ann"});
    EXPECT_EQ(ReadAll(ReplayFolder() + ReplayFileName(a)), "ann's replay");
}

}  // namespace
}  // namespace scores
