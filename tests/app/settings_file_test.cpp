// Tests of "Setup.ini": the writer's exact layout, every key rule of the
// reader with its log lines, round trips, and durable writing when the file
// cannot be replaced. Each test runs in its own Files/274/ tree under /tmp.
#include "app/settings_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/frame_end.h"
#include "engine/log.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/setup_table.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace engine;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zq_setup_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        files_ = root_ + "/Files";
        fs::create_directories(files_ + "/274");
        old_ = fs::current_path();
        ASSERT_TRUE(media::ChangeDir(files_));
        SetupDefaults();
        AudioDriverNames = {"Null", "FreeMixer", "FreeMixer OpenSound System"};
        ASSERT_TRUE(OpenLog(root_ + "/Debug.txt"));
    }
    void TearDown() override {
        CloseLog();
        media::SetWriteFaultAfter(-1);
        fs::current_path(old_);
        chmod(files_.c_str(), 0700);
        std::error_code ec;
        fs::remove_all(root_, ec);
        AudioDriverNames.clear();
        SetupDefaults();
    }

    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void WriteSetup(const std::string& bytes) {
        std::ofstream out(files_ + "/Setup.ini", std::ios::binary);
        out << bytes;
    }
    // Loads the given file (in Files/) and returns the log lines it wrote.
    std::string Load(const std::string& bytes) {
        WriteSetup(bytes);
        CloseLog();
        OpenLog(root_ + "/Debug.txt");
        LoadSetup();
        CloseLog();
        std::string log = ReadAll(root_ + "/Debug.txt");
        OpenLog(root_ + "/Debug.txt");
        return log;
    }
    // Saves from the game folder, as the program does.
    bool Save() {
        EXPECT_TRUE(media::ChangeDir(files_ + "/274"));
        return SaveSetup();
    }

    std::string root_, files_;
    fs::path old_;
};

const char kExample[] =
    "[Graphics]\r\n"
    "Fullscreen = False\r\n"
    "GFX Engine = OpenGL\r\n"
    "Width=800\r\n"
    "Height=600\r\n"
    "\r\n"
    "[Audio]\r\n"
    "Master = 50\r\n"
    "Sound = 50\r\n"
    "Music = 50\r\n"
    "AudioDriver = FreeMixer\r\n"
    "; AudioDriver = Null\r\n"
    "; AudioDriver = FreeMixer\r\n"
    "; AudioDriver = FreeMixer OpenSound System\r\n"
    "\r\n"
    "[Controls]\r\n"
    "Key=0,38\r\n"
    "Key=3,37\r\n"
    "Key=5,39\r\n"
    "Key=8,40\r\n"
    "Key=10,90\r\n"
    "Key=11,88\r\n"
    "Key=12,67\r\n"
    "Key=13,86\r\n";

// --- Writer ---

TEST_F(SettingsFileTest, DefaultsWriteTheExampleFile) {
    engine::Setup[SETUP_AUDIODRIVER] = 1;  // the automatic choice on this list
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadAll(files_ + "/Setup.ini"), kExample);
    // Written in Files/, and back in the game folder afterwards.
    EXPECT_EQ(fs::current_path(), fs::path(files_ + "/274"));
    EXPECT_FALSE(fs::exists(files_ + "/274/Setup.ini"));
}

TEST_F(SettingsFileTest, WriterOptionalLines) {
    engine::Setup[SETUP_FULLSCREEN] = 1;
    engine::Setup[SETUP_GFXENGINE] = 2;
    engine::Setup[SETUP_ESS] = 1;
    engine::Setup[SETUP_WIDTH] = -5;
    KeyMap.fill(0);
    KeyMap[99] = 301;
    KeyMap[100] = 5;  // never written
    ASSERT_TRUE(Save());
    EXPECT_EQ(ReadAll(files_ + "/Setup.ini"),
              "[Graphics]\r\nFullscreen = True\r\nGFX Engine = DX7\r\nWidth=-5\r\nHeight=600\r\n"
              "ESS=1 ; This is a slow system, and things must run a wee bit slower for it.  "
              "Awww..\r\n\r\n[Audio]\r\nMaster = 50\r\nSound = 50\r\nMusic = 50\r\n"
              "AudioDriver = Null\r\n; AudioDriver = Null\r\n; AudioDriver = FreeMixer\r\n"
              "; AudioDriver = FreeMixer OpenSound System\r\n\r\n[Controls]\r\nKey=99,301\r\n");
}

TEST_F(SettingsFileTest, UnlistedValuesWriteNoLine) {
    engine::Setup[SETUP_FULLSCREEN] = 2;
    engine::Setup[SETUP_GFXENGINE] = 3;
    engine::Setup[SETUP_ESS] = 2;
    engine::Setup[SETUP_WIDTH] = 1024;  // written: shows the file below is the one read
    ASSERT_TRUE(Save());
    const std::string text = ReadAll(files_ + "/Setup.ini");
    EXPECT_EQ(text.find("Fullscreen"), std::string::npos);
    EXPECT_EQ(text.find("GFX Engine"), std::string::npos);
    EXPECT_EQ(text.find("ESS"), std::string::npos);
    // They come back as the defaults when the file is read, as at start-up.
    SetupDefaults();
    ASSERT_TRUE(media::ChangeDir(files_));
    LoadSetup();
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 1024);
    EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 0);
    EXPECT_EQ(engine::Setup[SETUP_GFXENGINE], 0);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 0);
}

TEST_F(SettingsFileTest, DriverLineWithoutListedDriver) {
    AudioDriverNames.clear();
    ASSERT_TRUE(Save());
    EXPECT_NE(ReadAll(files_ + "/Setup.ini").find("Music = 50\r\nAudioDriver = \r\n\r\n"),
              std::string::npos);
    AudioDriverNames = {"A"};
    for (int slot : {1, -1, INT_MAX}) {
        engine::Setup[SETUP_AUDIODRIVER] = slot;
        ASSERT_TRUE(Save());
        EXPECT_NE(
            ReadAll(files_ + "/Setup.ini").find("\r\nAudioDriver = \r\n; AudioDriver = A\r\n"),
            std::string::npos);
    }
}

TEST_F(SettingsFileTest, RoundTripOfEveryCarriedSlot) {
    engine::Setup[SETUP_FULLSCREEN] = 1;
    engine::Setup[SETUP_GFXENGINE] = 1;
    engine::Setup[SETUP_WIDTH] = 1024;
    engine::Setup[SETUP_HEIGHT] = 768;
    engine::Setup[SETUP_ESS] = 1;
    engine::Setup[SETUP_MASTER] = 0;
    engine::Setup[SETUP_SOUND] = 100;
    engine::Setup[SETUP_MUSIC] = 7;
    engine::Setup[SETUP_AUDIODRIVER] = 2;
    KeyMap[0] = 87;
    KeyMap[50] = 300;
    KeyMap[99] = 1;
    const auto setup = engine::Setup;
    const auto keys = KeyMap;
    ASSERT_TRUE(Save());
    EXPECT_NE(ReadAll(files_ + "/Setup.ini").find("\r\nWidth=1024\r\n"), std::string::npos);
    SetupDefaults();
    ASSERT_TRUE(media::ChangeDir(files_));
    LoadSetup();
    EXPECT_TRUE(AudioDriverChosen());
    for (int slot : {1, 3, 5, 6, 7, 11, 12, 13, 14})
        EXPECT_EQ(engine::Setup[slot], setup[slot]) << slot;
    EXPECT_EQ(KeyMap, keys);
}

// --- Reader ---

TEST_F(SettingsFileTest, MissingFileKeepsDefaultsAndLogsNothing) {
    engine::Setup[SETUP_WIDTH] = 1234;
    CloseLog();
    OpenLog(root_ + "/Debug.txt");
    LoadSetup();
    CloseLog();
    EXPECT_EQ(ReadAll(root_ + "/Debug.txt"), "");
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 1234);
    EXPECT_FALSE(AudioDriverChosen());
}

TEST_F(SettingsFileTest, UnreadableSetupIniKeepsDefaultsIsLoggedAndNeverReplaced) {
    // A folder, a FIFO (which must not block the read) and a file over 1 MiB.
    const std::string path = files_ + "/Setup.ini";
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        fs::remove_all(path);
        if (kind == 0) fs::create_directory(path);
        if (kind == 1) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        }
        if (kind == 2) {
            std::ofstream big(path, std::ios::binary);
            big << "Width=1024\r\n" << std::string((1 << 20), ';');
        }
        SetupDefaults();
        CloseLog();
        OpenLog(root_ + "/Debug.txt");
        LoadSetup();
        EXPECT_EQ(engine::Setup[SETUP_WIDTH], 800);
        ASSERT_TRUE(media::ChangeDir(files_ + "/274"));  // where saves are made from
        EXPECT_FALSE(SaveSetup());
        ASSERT_TRUE(media::ChangeDir(files_));
        CloseLog();
        const std::string log = ReadAll(root_ + "/Debug.txt");
        EXPECT_NE(log.find("\tSetup file cannot be read, using the defaults: "), std::string::npos);
        EXPECT_NE(log.find("\tSettings not saved: "), std::string::npos);
        EXPECT_EQ(fs::status(path).type(), kind == 0   ? fs::file_type::directory
                                           : kind == 1 ? fs::file_type::fifo
                                                       : fs::file_type::regular);
    }
    ASSERT_FALSE(engine::NoticeList.empty());
    EXPECT_EQ(engine::NoticeList.back().txt, kSetupNotSavedNotice);
}

TEST_F(SettingsFileTest, ExampleFileLoadsWithOnlyTheReadingLine) {
    EXPECT_EQ(Load(kExample), "\tReading Setup File\r\n");
    EXPECT_EQ(engine::Setup[SETUP_AUDIODRIVER], 1);
    EXPECT_TRUE(AudioDriverChosen());
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 800);
}

TEST_F(SettingsFileTest, EmptyFileLogsReadingLineOnly) {
    EXPECT_EQ(Load(""), "\tReading Setup File\r\n");
    EXPECT_FALSE(AudioDriverChosen());
}

TEST_F(SettingsFileTest, FullscreenSpellings) {
    for (const char* line : {"fullscreen=on", "FULLSCREEN = True", "Fullscreen =TRUE",
                             "   Fullscreen = on   ", "\tfullSCREEN=tRuE\t"}) {
        SetupDefaults();
        EXPECT_EQ(Load(std::string(line) + "\r\n"),
                  "\tReading Setup File\r\n\tSetting to Fullscreen\r\n")
            << line;
        EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 1) << line;
    }
    for (const char* line : {"Fullscreen = Yes", "Fullscreen = False", "Fullscreen",
                             "Full screen=on", "Fullscreen = True = x"}) {
        SetupDefaults();
        Load(std::string(line) + "\r\n");
        // "True = x": the value ends at the second "=", so this one does count.
        const int want = std::string(line) == "Fullscreen = True = x" ? 1 : 0;
        EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], want) << line;
    }
}

TEST_F(SettingsFileTest, GraphicsEngine) {
    EXPECT_EQ(Load("GfxEngine = dx7\n"), "\tReading Setup File\r\n\tDirectX 7 Mode\r\n");
    EXPECT_EQ(engine::Setup[SETUP_GFXENGINE], 2);
    EXPECT_EQ(Load("GFX Engine = DX9\n"), "\tReading Setup File\r\n\tDirectX 9 Mode\r\n");
    EXPECT_EQ(engine::Setup[SETUP_GFXENGINE], 1);
    EXPECT_EQ(Load("GFX Engine = OpenGL\n"), "\tReading Setup File\r\n");
    EXPECT_EQ(engine::Setup[SETUP_GFXENGINE], 1);  // unchanged
}

TEST_F(SettingsFileTest, SlowSystemWhateverTheValue) {
    const std::string logged =
        "\tReading Setup File\r\n\tAssuming Emergency Slow System values.\r\n";
    EXPECT_EQ(Load("ESS=0\r\n"), logged);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 1);
    SetupDefaults();
    EXPECT_EQ(Load("ESS\r\n"), logged);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 1);
    SetupDefaults();
    Load("[Graphics]\r\n; ESS=1\r\n");
    EXPECT_EQ(engine::Setup[SETUP_ESS], 0);
}

TEST_F(SettingsFileTest, KeyLines) {
    KeyMap.fill(0);
    Load(
        "Key=105,77\r\nKey=0,87\r\nKey=-12,65\r\nKey=12\r\nKey = 20 , 300\r\nKey=100,9\r\n"
        "Key=7,-66\r\nKey=-2147483648,4\r\n");
    std::array<int, kKeyMapSlots> want{};
    want[0] = 87;
    want[7] = 66;
    want[12] = 12;  // "Key=12": the second field of a value without "," is the whole value
    want[20] = 300;
    EXPECT_EQ(KeyMap, want);
    // A slot that is not a number reads as slot 0.
    Load("Key=abc,5\r\n");
    EXPECT_EQ(KeyMap[0], 5);
}

TEST_F(SettingsFileTest, NumbersAreAbsoluteAndJunkIsZero) {
    Load(
        "Width=abc\r\nHeight=-720\r\nMaster = -30\r\nSound=  75%\r\nMusic = $10\r\n"
        "Width=2147483648\r\n");
    // Later lines override earlier ones; a value that wraps to the smallest
    // int still reads as a positive number, capped at the largest side.
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 16384);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 720);
    EXPECT_EQ(engine::Setup[SETUP_MASTER], 30);
    EXPECT_EQ(engine::Setup[SETUP_SOUND], 75);
    EXPECT_EQ(engine::Setup[SETUP_MUSIC], 16);
    // Volumes are percentages however large the number in the file.
    Load("Sound = 2147483647\r\nMaster=-2147483648\r\nMusic=101\r\nHeight=99999\r\n");
    EXPECT_EQ(engine::Setup[SETUP_SOUND], 100);
    EXPECT_EQ(engine::Setup[SETUP_MASTER], 100);
    EXPECT_EQ(engine::Setup[SETUP_MUSIC], 100);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 16384);
    SetupDefaults();
    Load("Width=abc");
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 0);
}

TEST_F(SettingsFileTest, AudioDriverLine) {
    Load("AudioDriver = FreeMixer OpenSound System\r\n");
    EXPECT_TRUE(AudioDriverChosen());
    EXPECT_EQ(engine::Setup[SETUP_AUDIODRIVER], 2);
    // A name in the wrong case matches nothing, yet still counts as chosen.
    SetupDefaults();
    Load("AudioDriver = freemixer\r\n");
    EXPECT_TRUE(AudioDriverChosen());
    EXPECT_EQ(engine::Setup[SETUP_AUDIODRIVER], 0);
    // The comment lines the writer adds do not count.
    SetupDefaults();
    Load("; AudioDriver = FreeMixer\r\n");
    EXPECT_FALSE(AudioDriverChosen());
    // With a name listed twice the last index wins.
    AudioDriverNames = {"X", "Y", "X"};
    Load("AudioDriver=X");
    EXPECT_EQ(engine::Setup[SETUP_AUDIODRIVER], 2);
}

TEST_F(SettingsFileTest, LineEndsZeroBytesAndUnknownKeys) {
    // LF alone, CR LF, a zero byte and a last line without an end all end lines.
    const std::string bytes = std::string("[Audio]\nMaster=10\r\nSound=20") + '\0' +
                              "Music=30\r\r\nbogus = 1\nWidth 640\nHeight=480";
    Load(bytes);
    EXPECT_EQ(engine::Setup[SETUP_MASTER], 10);
    EXPECT_EQ(engine::Setup[SETUP_SOUND], 20);
    EXPECT_EQ(engine::Setup[SETUP_MUSIC], 30);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 800);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 480);
}

// --- Durable writing ---

TEST_F(SettingsFileTest, FailedWriteLeavesOldFileAndReturnsToGameFolder) {
    ASSERT_TRUE(Save());
    const std::string before = ReadAll(files_ + "/Setup.ini");
    engine::Setup[SETUP_WIDTH] = 1920;
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(files_.c_str(), 0500), 0);
    } else {
        media::SetWriteFaultAfter(0);  // permissions do not stop root
    }
    EXPECT_FALSE(Save());
    chmod(files_.c_str(), 0700);
    media::SetWriteFaultAfter(-1);
    EXPECT_EQ(ReadAll(files_ + "/Setup.ini"), before);
    EXPECT_EQ(fs::current_path(), fs::path(files_ + "/274"));

    // A disk that fills up midway.
    media::SetWriteFaultAfter(100);
    EXPECT_FALSE(Save());
    media::SetWriteFaultAfter(-1);
    EXPECT_EQ(ReadAll(files_ + "/Setup.ini"), before);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(files_)) ++entries;
    EXPECT_EQ(entries, 2u);  // Setup.ini and 274/, no temporary file left
    EXPECT_TRUE(Save());
    EXPECT_NE(ReadAll(files_ + "/Setup.ini").find("Width=1920"), std::string::npos);
}

TEST_F(SettingsFileTest, FolderInTheWayFailsCleanly) {
    fs::create_directories(files_ + "/Setup.ini/inside");
    EXPECT_FALSE(Save());
    EXPECT_TRUE(fs::is_directory(files_ + "/Setup.ini/inside"));
    EXPECT_EQ(fs::current_path(), fs::path(files_ + "/274"));
}

}  // namespace
}  // namespace app
