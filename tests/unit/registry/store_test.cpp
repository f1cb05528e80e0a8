// The store's operations on a real file: types, missing values, case rules, corrupt and
// unreadable files, atomic replacement, and one store per settings directory.
#include "platform/registry/registry.h"
#include "test_env.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using registry::RootKey;
using registry::Setting;
using registry::Store;
using registry::ValueType;
using registry_test::ScopedEnv;
using registry_test::TempDir;

namespace {

constexpr const char* kGameKey = "Software\\Vesk-Soft\\Tarnhold";
constexpr const char* kAccountKey = "Software\\Vesk-Soft";
constexpr RootKey kMachine = RootKey::LocalMachine;

std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

} // namespace

TEST(Store, TextAndNumberValuesReadBackAndMissingOnesAreEmpty) {
    TempDir temp;
    const Store store(temp.path() / "sub" / "registry.reg");
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Skin").IsEmpty()); // no file yet
    EXPECT_FALSE(std::filesystem::exists(store.File()));                  // reading made none

    ASSERT_TRUE(store.EnsureKey(kMachine, kGameKey));
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Skin").IsEmpty()); // no such value
    EXPECT_TRUE(store.ReadSetting(kMachine, "Software\\Other", "Skin").IsEmpty());

    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Skin", "C:\\a \"b\"", ValueType::Text));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Killer", "12", ValueType::Number));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Neg", "-1", ValueType::Number));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Empty", "", ValueType::Text));
    // The parent of the game key exists too, as it does in the registry.
    ASSERT_TRUE(store.WriteSetting(kMachine, kAccountKey, "Id", "42", ValueType::Text));

    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Skin"), Setting::FromText("C:\\a \"b\""));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromNumber(12));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Neg"), Setting::FromNumber(-1));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Empty"), Setting::FromText(""));
    EXPECT_EQ(store.ReadSetting(kMachine, kAccountKey, "Id").ToText(), "42");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer").ToText(), "12");
    // Other roots are other keys.
    EXPECT_TRUE(store.ReadSetting(RootKey::CurrentUser, kGameKey, "Skin").IsEmpty());

    // A value turned from number to text by a later write is read as text.
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Killer", "13", ValueType::Text));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromText("13"));

    const std::string file = ReadText(store.File());
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\n"),
              std::string::npos);
    EXPECT_NE(file.find("\"Skin\"=\"C:\\\\a \\\"b\\\"\"\n"), std::string::npos);
    EXPECT_NE(file.find("\"Neg\"=dword:ffffffff\n"), std::string::npos);
    EXPECT_NE(file.find("\"Killer\"=\"13\"\n"), std::string::npos);
}

TEST(Store, ReadsValuesWrittenByOtherTools) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    WriteText(store.File(), "REGEDIT4\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
                            "\"Killer\"=dword:0000000c\r\n"
                            "\"Bin\"=hex:01,02\r\n"
                            "\"Multi\"=hex(7):41,00,00,00\r\n");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromNumber(12));
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Bin").IsEmpty()); // other type
    // Rewriting keeps values of other types as they were.
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Killer", "12", ValueType::Text));
    const std::string file = ReadText(store.File());
    EXPECT_NE(file.find("\"Bin\"=hex:01,02\n"), std::string::npos);
    EXPECT_NE(file.find("\"Multi\"=hex(7):41,00,00,00\n"), std::string::npos);
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromText("12"));
    // The file names only the game key; its parent, the account key, exists all the same and
    // takes the account values.
    ASSERT_TRUE(store.WriteSetting(kMachine, kAccountKey, "Login", "me", ValueType::Text));
    EXPECT_EQ(store.ReadSetting(kMachine, kAccountKey, "Login").Text(), "me");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromText("12"));
}

TEST(Store, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    ASSERT_TRUE(store.EnsureKey(kMachine, "Software\\Vesk-Soft"));
    ASSERT_TRUE(store.EnsureKey(kMachine, "SOFTWARE\\VESK-SOFT\\Tarnhold\\")); // trailing '\'
    ASSERT_TRUE(store.WriteSetting(kMachine, "software\\vesk-soft\\tarnhold", "Login", "me",
                                   ValueType::Text));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "LOGIN", "you", ValueType::Text));
    EXPECT_EQ(store.ReadSetting(kMachine, "SOFTWARE\\vesk-soft\\TARNHOLD", "login").Text(), "you");

    const registry::RegDocument document = store.Load();
    ASSERT_EQ(document.keys.size(), 4u); // root, Software, Vesk-Soft, Tarnhold
    EXPECT_EQ(document.keys[3].path, "Software\\Vesk-Soft\\Tarnhold");
    ASSERT_EQ(document.keys[3].values.size(), 1u);
    EXPECT_EQ(document.keys[3].values[0].name, "Login");
}

TEST(Store, RefusedWritesChangeNothing) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    // The key must exist first, as with the registry's open-then-set.
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "x", ValueType::Text));
    EXPECT_FALSE(std::filesystem::exists(store.File()));

    ASSERT_TRUE(store.EnsureKey(kMachine, kGameKey));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Skin", "kept", ValueType::Text));
    const std::string before = ReadText(store.File());
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "two\nlines", ValueType::Text));
    EXPECT_FALSE(
        store.WriteSetting(kMachine, kGameKey, "Skin", std::string("nul\0", 4), ValueType::Text));
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "12x", ValueType::Number));
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "4294967296", ValueType::Number));
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "", ValueType::Number));
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Skin", "1", static_cast<ValueType>(3)));
    EXPECT_FALSE(store.EnsureKey(kMachine, "Software\\\\Empty"));
    EXPECT_FALSE(store.EnsureKey(kMachine, "Soft\nware"));
    EXPECT_EQ(ReadText(store.File()), before);
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Skin").Text(), "kept");
}

TEST(Store, WritesTogetherStoreWhatEachWriteWouldAndLeaveOutTheRefusedOnes) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    ASSERT_TRUE(store.EnsureKey(kMachine, kGameKey));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Skin", "old", ValueType::Text));
    const std::vector<registry::SettingWrite> writes = {
        {kMachine, kGameKey, "SKIN", "new", ValueType::Text}, // existing value, its spelling kept
        {kMachine, kGameKey, "Killer", "12", ValueType::Number},
        {kMachine, kGameKey, "Bad", "two\nlines", ValueType::Text}, // refused
        {kMachine, "Software\\Absent", "Id", "1", ValueType::Text}, // no such key
        {kMachine, kAccountKey, "Login", "me", ValueType::Text},    // the parent key exists
        {kMachine, kGameKey, "Killer", "13", ValueType::Number},    // the later write wins
    };
    EXPECT_EQ(store.WriteSettings(writes),
              (std::vector<bool>{true, true, false, false, true, true}));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Skin").Text(), "new");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer"), Setting::FromNumber(13));
    EXPECT_EQ(store.ReadSetting(kMachine, kAccountKey, "Login").Text(), "me");
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Bad").IsEmpty());
    const std::string file = ReadText(store.File());
    EXPECT_NE(file.find("\"Skin\"=\"new\""), std::string::npos);
    EXPECT_EQ(file.find("Absent"), std::string::npos);

    // Nothing storable, or a store that cannot be read: every write false, the file as it was.
    EXPECT_EQ(store.WriteSettings(std::span(writes).subspan(2, 2)),
              (std::vector<bool>{false, false}));
    EXPECT_EQ(ReadText(store.File()), file);
    ASSERT_EQ(::mkfifo((temp.path() / "fifo.reg").c_str(), 0600), 0);
    EXPECT_EQ(Store(temp.path() / "fifo.reg").WriteSettings(writes), std::vector<bool>(6, false));
}

TEST(Store, CorruptFileKeepsWhatParsesAndSavesTheOriginal) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    const std::string corrupt = "Windows Registry Editor Version 5.00\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\n"
                                "\"Login\"=\"me\"\n"
                                "\x01\x02 binary junk \"=\n"
                                "\"Killer\"=dword:00000005\n"
                                "\"Cut\"=\"no end";
    WriteText(store.File(), corrupt);
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Login").Text(), "me");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer").Number(), 5);
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Cut").IsEmpty());

    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Skin", "1", ValueType::Text));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Login").Text(), "me");
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Killer").Number(), 5);
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Skin").Text(), "1");
    EXPECT_TRUE(store.Load().problems.empty());
    EXPECT_EQ(ReadText(temp.path() / "registry.reg.bad"), corrupt);

    // An unchanged value still rewrites a corrupt file into a clean one.
    WriteText(store.File(), corrupt);
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Login", "me", ValueType::Text));
    EXPECT_TRUE(store.Load().problems.empty());
}

TEST(Store, UnreadableFileIsEmptyAndNeverReplaced) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    std::filesystem::create_directory(store.File()); // exists, but cannot be read as a file
    WriteText(store.File() / "inside", "precious");
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Login").IsEmpty());
    EXPECT_FALSE(store.EnsureKey(kMachine, kGameKey));
    EXPECT_EQ(ReadText(store.File() / "inside"), "precious");
}

TEST(Store, ReplacementIsAtomicWhenTheWriterIsKilled) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    ASSERT_TRUE(store.EnsureKey(kMachine, kGameKey));
    // A big file makes every write long enough for a kill to land inside it.
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Filler", std::string(400000, 'f'),
                                   ValueType::Text));
    for (int round = 0; round < 16; ++round) {
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(acks[0]);
            for (int i = 1; i < 100000; ++i) {
                if (!store.WriteSetting(kMachine, kGameKey, "Counter", std::to_string(i),
                                        ValueType::Number))
                    _exit(2);
                if (write(acks[1], &i, sizeof i) != sizeof i) _exit(3);
            }
            _exit(0);
        }
        close(acks[1]);
        int confirmed = 0;
        const int stopAfter = 2 + round % 4;
        while (confirmed < stopAfter && read(acks[0], &confirmed, sizeof confirmed) > 0) {
        }
        usleep(static_cast<useconds_t>(round * 400)); // land the kill at varied points
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(acks[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer failed with status " << status;

        const registry::RegDocument document = store.Load();
        ASSERT_TRUE(document.problems.empty()) << document.problems.front();
        EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Filler").Text().size(), 400000u);
        EXPECT_GE(store.ReadSetting(kMachine, kGameKey, "Counter").Number(), confirmed);
    }
    // Left-over temporary files of killed writers do not disturb the store.
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Counter", "0", ValueType::Number));
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Counter").Number(), 0);
}

TEST(Store, EachSettingsDirectoryIsOneMachine) {
    TempDir a, b;
    {
        ScopedEnv home("TARNHOLD_HOME", (a.path() / "machine").string());
        EXPECT_EQ(registry::RegistryFile(), a.path() / "machine" / "registry.reg");
        ASSERT_TRUE(registry::EnsureKey(kMachine, kGameKey)); // creates the directory
        ASSERT_TRUE(registry::WriteSetting(kMachine, kGameKey, "Login", "alice", ValueType::Text));
    }
    {
        ScopedEnv home("TARNHOLD_HOME", b.path().string());
        EXPECT_TRUE(registry::ReadSetting(kMachine, kGameKey, "Login").IsEmpty());
        ASSERT_TRUE(registry::EnsureKey(kMachine, kGameKey));
        ASSERT_TRUE(registry::WriteSetting(kMachine, kGameKey, "Login", "bob", ValueType::Text));
    }
    ScopedEnv home("TARNHOLD_HOME", (a.path() / "machine").string());
    EXPECT_EQ(registry::ReadSetting(kMachine, kGameKey, "Login").Text(), "alice");
}

TEST(Store, AFifoOrAnOversizedFileIsRefusedKeptAsideAndNeverOverwritten) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    // A FIFO with no writer: reading it would wait for ever.
    ASSERT_EQ(::mkfifo(store.File().c_str(), 0600), 0);
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Login").IsEmpty());
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Login", "x", ValueType::Text));
    EXPECT_FALSE(store.EnsureKey(kMachine, kGameKey));
    registry::Snapshot opened = store.Open();
    EXPECT_NE(opened.Notice().find(store.File().string() + " is not used: it is not a regular "
                                                           "file"),
              std::string::npos)
        << opened.Notice();
    const auto firstAside = temp.path() / "registry.reg.bad";
    EXPECT_NE(opened.Notice().find("kept as " + firstAside.string()), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(firstAside.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    // The store starts empty and keeps what is written from now on.
    ASSERT_TRUE(store.EnsureKey(kMachine, kGameKey));
    ASSERT_TRUE(store.WriteSetting(kMachine, kGameKey, "Killer", "3", ValueType::Text));
    EXPECT_EQ(store.Open().ReadSetting(kMachine, kGameKey, "Killer").Text(), "3");

    // A file one byte over the limit, even a well-formed one, is refused the same way and kept
    // whole under the next free name, beside the first.
    std::string big = "Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\n"
                      "\"Killer\"=\"99\"\n\"Pad\"=\"";
    big += std::string(registry::kMaxFileBytes - big.size() - 2, 'p') + "\"\n";
    WriteText(store.File(), big + "\n");
    EXPECT_TRUE(store.ReadSetting(kMachine, kGameKey, "Killer").IsEmpty());
    EXPECT_FALSE(store.WriteSetting(kMachine, kGameKey, "Killer", "0", ValueType::Text));
    EXPECT_EQ(ReadText(store.File()), big + "\n");
    opened = store.Open();
    EXPECT_NE(opened.Notice().find("larger than 16 MB"), std::string::npos) << opened.Notice();
    EXPECT_TRUE(opened.ReadSetting(kMachine, kGameKey, "Killer").IsEmpty());
    EXPECT_EQ(ReadText(temp.path() / "registry.reg.bad.2"), big + "\n");
    EXPECT_FALSE(std::filesystem::exists(store.File()));
    ASSERT_EQ(::stat(firstAside.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the first file kept aside is not replaced";

    // At the limit itself the file is read (one value, whatever its length).
    WriteText(store.File(), big);
    ASSERT_EQ(std::filesystem::file_size(store.File()), registry::kMaxFileBytes);
    opened = store.Open();
    EXPECT_EQ(opened.Notice(), "");
    EXPECT_EQ(opened.ReadSetting(kMachine, kGameKey, "killer").Text(), "99");
}

TEST(Store, OpenKeepsABadFileAsideRewritesWhatParsedAndNamesTheLinesLeftOut) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
                             "\"Login\"=\"me\"\r\n"
                             "\"Killer\"=dword:fffffffff\r\n"
                             "\"Killed\"=dword:000000000c\r\n";
    WriteText(store.File(), text);
    const registry::Snapshot opened = store.Open();
    // A number too large for 32 bits is not read as 0 or cut short: it is left out, and said.
    EXPECT_TRUE(opened.ReadSetting(kMachine, kGameKey, "Killer").IsEmpty());
    EXPECT_EQ(opened.ReadSetting(kMachine, kGameKey, "Killed"), Setting::FromNumber(12));
    EXPECT_EQ(opened.ReadSetting(kMachine, kGameKey, "Login").Text(), "me");
    const std::string& notice = opened.Notice();
    EXPECT_NE(notice.find("Some settings in " + store.File().string()), std::string::npos)
        << notice;
    EXPECT_NE(notice.find("line 5: \"Killer\": dword:fffffffff does not fit in 32 bits"),
              std::string::npos)
        << notice;
    EXPECT_NE(notice.find("kept as " + (temp.path() / "registry.reg.bad").string()),
              std::string::npos)
        << notice;
    // The original text is kept aside word for word; the store itself is clean again.
    EXPECT_EQ(ReadText(temp.path() / "registry.reg.bad"), text);
    EXPECT_TRUE(store.Load().problems.empty());
    EXPECT_EQ(store.ReadSetting(kMachine, kGameKey, "Login").Text(), "me");
    EXPECT_EQ(store.Open().Notice(), "");
}

TEST(Store, AUtf16ExportIsReadAndRewrittenAsUtf8) {
    TempDir temp;
    const Store store(temp.path() / "registry.reg");
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft]\r\n"
                                u"\"Name\"=\"Zo\u00e9 \U0001F600\"\r\n"
                                u"\"Id\"=dword:0000002a\r\n";
    for (const bool bigEndian : {false, true}) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (const char16_t unit : text) {
            const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        WriteText(store.File(), bytes);
        const registry::Snapshot opened = store.Open();
        EXPECT_EQ(opened.Notice(), "") << opened.Notice();
        EXPECT_EQ(opened.ReadSetting(kMachine, kAccountKey, "Name").Text(),
                  "Zo\xC3\xA9 \xF0\x9F\x98\x80");
        EXPECT_EQ(opened.ReadSetting(kMachine, kAccountKey, "Id"), Setting::FromNumber(42));
        ASSERT_TRUE(store.WriteSetting(kMachine, kAccountKey, "Login", "me", ValueType::Text));
        EXPECT_EQ(ReadText(store.File()).rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
        EXPECT_EQ(store.ReadSetting(kMachine, kAccountKey, "Name").Text(),
                  "Zo\xC3\xA9 \xF0\x9F\x98\x80");
    }
    // A lone surrogate is a problem of the file, not a silent loss.
    WriteText(store.File(), std::string("\xFF\xFE[\0\x00\xD8]\0", 8));
    EXPECT_NE(store.Open().Notice().find("not valid UTF-16"), std::string::npos);
}
