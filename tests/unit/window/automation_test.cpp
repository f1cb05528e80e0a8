// The automation script format: what parses, and what is refused with the line named.
#include "platform/window/automation.h"
#include "platform/window/window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

using automation::Op;

TEST(AutomationScript, ParsesEveryCommand) {
    const automation::Script script =
        automation::ParseScript("# a comment\n"
                                "\n"
                                "frame 5\r\n"
                                "WAIT 2\n"
                                "sleep 250\n"
                                "waitscreen \"main menu\"\n"
                                "waitfile /tmp/go\n"
                                "key down 200\n"
                                "key UP 200\n"
                                "key press 1\n"
                                "mouse move 400 300\n"
                                "mouse motion -12 7\n"
                                "mouse down left\n"
                                "mouse up Right\n"
                                "answer \"Tarnhold\" yes\n"
                                "answer * OK\n"
                                "input \"Name?\" \"Jo \\\"the\\\" \\\\ one\"\n"
                                "cancel *\n"
                                "press \"LET'S FIGHT\"\n"
                                "type Chat \"\" ENTER\n"
                                "type Login bob\n"
                                "screenshot \"/tmp/a b.bmp\"\n"
                                "log \"hello there\"\n"
                                "  quit  \n",
                                "run.txt");
    ASSERT_EQ(script.source, "run.txt");
    const auto& c = script.commands;
    ASSERT_EQ(c.size(), 22u);
    EXPECT_EQ(c[0].op, Op::Frame);
    EXPECT_EQ(c[0].number, 5);
    EXPECT_EQ(c[0].line, 3);
    EXPECT_EQ(c[1].op, Op::Wait);
    EXPECT_EQ(c[2].op, Op::Sleep);
    EXPECT_EQ(c[2].number, 250);
    EXPECT_EQ(c[3].op, Op::WaitScreen);
    EXPECT_EQ(c[3].text, "main menu");
    EXPECT_EQ(c[4].op, Op::WaitFile);
    EXPECT_EQ(c[5].op, Op::KeyDown);
    EXPECT_EQ(c[5].number, 200);
    EXPECT_EQ(c[6].op, Op::KeyUp);
    EXPECT_EQ(c[7].op, Op::KeyPress);
    EXPECT_EQ(c[8].op, Op::MouseMove);
    EXPECT_EQ(c[8].number2, 300);
    EXPECT_EQ(c[9].op, Op::MouseMotion);
    EXPECT_EQ(c[9].number, -12);
    EXPECT_EQ(c[10].op, Op::MouseDown);
    EXPECT_EQ(c[11].op, Op::MouseUp);
    EXPECT_EQ(c[11].number, 1); // right
    EXPECT_EQ(c[12].op, Op::Answer);
    EXPECT_EQ(c[12].text, "Tarnhold");
    EXPECT_EQ(c[12].number, static_cast<int>(window::Answer::Yes));
    EXPECT_EQ(c[13].text, "*");
    EXPECT_EQ(c[14].op, Op::InputText);
    EXPECT_EQ(c[14].text2, "Jo \"the\" \\ one");
    EXPECT_EQ(c[15].op, Op::InputCancel);
    EXPECT_EQ(c[16].op, Op::Press);
    EXPECT_EQ(c[16].text, "LET'S FIGHT");
    EXPECT_EQ(c[17].op, Op::Type);
    EXPECT_EQ(c[17].text2, "");
    EXPECT_TRUE(c[17].flag);
    EXPECT_FALSE(c[18].flag);
    EXPECT_EQ(c[19].text, "/tmp/a b.bmp");
    EXPECT_EQ(c[20].text, "hello there");
    EXPECT_EQ(c[21].op, Op::Quit);
    EXPECT_EQ(c[21].line, 24);
}

TEST(AutomationScript, BadLinesAreRefusedWithTheirLineNumber) {
    const std::pair<const char*, const char*> bad[] = {
        {"jump 3", "unknown command 'jump'"},
        {"frame", "expected: frame N"},
        {"frame -1", "frame must be a whole number"},
        {"wait 2x", "not '2x'"},
        {"key down 0", "key code must be a whole number from 1 to 255"},
        {"key down 256", "key code"},
        {"key hold 200", "key action must be down, up or press"},
        {"mouse down thumb", "mouse button must be left, right or middle"},
        {"mouse fly 1 2", "mouse action"},
        {"mouse move 1", "expected: mouse move X Y"},
        {"answer Tarnhold MAYBE", "answer must be OK, CANCEL, YES or NO"},
        {"press \"Quit", "unterminated quoted text"},
        {"press \"Quit\"now", "missing blank after quoted text"},
        {"select Maps", "select LABEL N"},
        {"select Maps two", "entry"},
        {"check Box maybe", "check takes on or off"},
        {"type Chat hi THEN", "must be ENTER"},
        {"quit now", "expected: quit"},
        {"sleep 99999999999999999999", "milliseconds"},
    };
    for (const auto& [line, reason] : bad) {
        const std::string text = std::string("wait 1\n# fine so far\n") + line + "\nquit\n";
        try {
            automation::ParseScript(text, "demo.txt");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const automation::ScriptError& error) {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind("demo.txt:3: ", 0), 0u) << what;
            EXPECT_NE(what.find(reason), std::string::npos) << what;
        }
    }
}

TEST(AutomationScript, FilesAndSeedsComeFromTheEnvironment) {
    EXPECT_THROW(automation::LoadScriptFile("/nonexistent/run.txt"), automation::ScriptError);

    const std::string path = ::testing::TempDir() + "automation_seed_script.txt";
    std::ofstream(path) << "log hi\n";
    EXPECT_EQ(automation::LoadScriptFile(path).commands.size(), 1u);

    ::unsetenv("TARNHOLD_SEED");
    EXPECT_FALSE(automation::SeedFromEnvironment().has_value());
    ::setenv("TARNHOLD_SEED", "4294967295", 1);
    EXPECT_EQ(automation::SeedFromEnvironment(), 4294967295u);
    EXPECT_EQ(automation::RandomSeed(), 4294967295u);
    ::setenv("TARNHOLD_SEED", "4294967296", 1);
    EXPECT_THROW(automation::SeedFromEnvironment(), automation::ScriptError);
    ::setenv("TARNHOLD_SEED", "12abc", 1);
    EXPECT_THROW(automation::SeedFromEnvironment(), automation::ScriptError);
    ::unsetenv("TARNHOLD_SEED");
}

} // namespace
