// tarnhold-inspect model: stable text of a loaded model, and errors with file and line.
#include "tests/support/command.h"
#include "tests/unit/model/model_files.h"

#include <gtest/gtest.h>

namespace {

using ToolRun = testsupport::CommandRun;

ToolRun Inspect(const std::string& args) {
    return testsupport::RunCommand(std::string(TARNHOLD_INSTALL_DIR) + "/tarnhold-inspect " + args +
                                   " 2>&1");
}

} // namespace

TEST(Inspect, PrintsTheModelAsStableText) {
    modeltest::ModelDir dir;
    dir.WriteBmp("skin.bmp");
    dir.Write("ref.smd", "nodes\n0 \"Bip01\" -1\n1 \"Bip01 R Hand\" 0\nend\ntime 0\n"
                         "0 0 0 0 0 0 0\n1 1 2 3 0 0 0\nend\ntriangles\nskin.bmp\n"
                         "0 1 2 3 0 0 1 0 0\n0 2 2 3 0 0 1 1 0\n1 1 0 10 0 0 1 0 1\n"
                         "skin.bmp\n1 1 2 3 0 0 1 0 0\n1 2 2 3 0 0 1 1 0\n1 1 0 10 0 0 1 0 1\n"
                         "end\n");
    dir.Write("idle.smd", "nodes\n0 \"Bip01\" -1\nend\ntime 0\n0 0 0 0 0 0 0\ntime 4\n"
                          "0 0 0 0 0 0 0\nend\n");
    dir.Write("rifle_awp.QC", "$hbox 0 \"Bip01 R Hand\" -1.0 -2.0 -3.0  4.0 5.0 6.0\n"
                              "$bodygroup b\n{\nstudio \"ref\"\n}\n$sequence \"idle\"\n");
    const ToolRun run = Inspect("model " + dir.Path() + "/rifle_awp.QC");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "model \"rifle_awp.QC\" weapon\n"
              "weapon class \"rifle\" name \"awp\" magazine 1 power 100 rank 4 scope yes\n"
              "bones 2\n"
              "  bone 0 \"Bip01\" parent -1 position (0.0000, 0.0000, 0.0000) direction "
              "(0.0000, 0.0000, 1.0000) up (0.0000, 1.0000, 0.0000)\n"
              "  bone 1 \"Bip01_R_Hand\" parent 0 position (2.0000, 1.0000, 3.0000) direction "
              "(0.0000, 0.0000, 1.0000) up (0.0000, 1.0000, 0.0000)\n"
              "hitboxes 1\n"
              "  hitbox \"Bip01_R_Hand\" min (-2.0000, -1.0000, -3.0000) max (5.0000, 4.0000, "
              "6.0000)\n"
              "skingroups 1\n"
              "  group 0 vertices 3 faces 1 links 2 skinned\n"
              "    link \"Bip01_R_Hand\" vertices 1\n"
              "    link \"Bip01\" vertices 2\n"
              "bonemeshes 1\n"
              "  bonemesh 1 \"Bip01_R_Hand\" vertices 3 faces 1\n"
              "animations 1\n"
              "  animation 0 \"idle\" last 4 bones 1\n"
              "Main \"Bip01_R_Hand\"\n"
              "tete none\n");
}

TEST(Inspect, ReportsErrorsWithFileAndLineAndStatusOne) {
    modeltest::ModelDir dir;
    dir.Write("ref.smd", "nodes\n0 \"Bip01\" -1\nend\ntime 0\n0 0 0 0 0 0\nend\n");
    dir.Write("terror.qc", "$bodygroup b\n{\nstudio \"ref\"\n}\n");
    const ToolRun run = Inspect("model " + dir.Path() + "/terror.qc");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("error: "), std::string::npos);
    EXPECT_NE(run.out.find("ref.smd:5: "), std::string::npos) << run.out;
    EXPECT_EQ(Inspect("").status, 2);
    EXPECT_EQ(Inspect("model").status, 2);
}
