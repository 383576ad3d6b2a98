// SPDX-License-Identifier: MIT
// Aliases as CORVALEN_IO_ALIASES spells them.
#include <gtest/gtest.h>

#include "corvalenlib/core/aliases.h"
#include "corvalenlib/core/errors.h"

namespace {

using CorvalenLib::lookupAlias;

TEST(Aliases, MatchesAResourceAliasInAnySpellingAndANameWithoutCase) {
    const std::string aliases = " bench=ASRL/dev/ttyUSB0::INSTR ;GPIB0::9::INSTR = TCPIP::127.0.0.1::5025::SOCKET;;";
    EXPECT_EQ(lookupAlias(aliases, "GPIB0::9::INSTR"), "TCPIP::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(lookupAlias(aliases, "gpib::9"), "TCPIP::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(lookupAlias(aliases, "Bench"), "ASRL/dev/ttyUSB0::INSTR");
    EXPECT_EQ(lookupAlias(aliases, "GPIB0::10::INSTR"), std::nullopt);
    EXPECT_EQ(lookupAlias(aliases, "bench2"), std::nullopt);
    EXPECT_EQ(lookupAlias("", "GPIB0::9::INSTR"), std::nullopt);
}

TEST(Aliases, ResolvesOnceAndTakesTheFirstMatch) {
    const std::string aliases = "a=b;b=GPIB0::3::INSTR;a=GPIB0::4::INSTR";
    EXPECT_EQ(lookupAlias(aliases, "a"), "b");
}

TEST(Aliases, RefusesAnEntryWithoutAliasAndResource) {
    EXPECT_THROW((void)lookupAlias("GPIB0::9::INSTR", "x"), CorvalenLib::IoError);
    EXPECT_THROW((void)lookupAlias("ok=GPIB0::1::INSTR;=TCPIP::h::1::SOCKET", "x"), CorvalenLib::IoError);
}

}  // namespace

// The aliases file as the library reads it, and the variable beside it.
#include <sys/stat.h>

#include <sstream>

#include "config_dir.h"
#include "corvalenlib/core/alias_file.h"

namespace {

struct FileCase {
    const char* name;
    const char* variable;  // nullptr: unset
    std::string file;      // written as is; "<none>": no file; "<unreadable>": a directory in its place
    std::vector<std::pair<std::string, std::string>> aliases;  // name, resource, in lookup order
    std::string problems;  // "{F}" stands for the file's path
};

std::ostream& operator<<(std::ostream& out, const FileCase& row) { return out << row.name; }

class AliasFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(AliasFile, GivesTheVariablesEntriesFirstThenTheFilesAndReportsWhatItSkips) {
    const auto& row = GetParam();
    peers::ConfigDir config;
    if (row.file == "<unreadable>") {
        std::filesystem::create_directories(config.file());
    } else if (row.file != "<none>") {
        config.write(row.file);
    }
    if (row.variable != nullptr) ::setenv("CORVALEN_IO_ALIASES", row.variable, 1);
    const auto loaded = CorvalenLib::loadAliases();
    ::unsetenv("CORVALEN_IO_ALIASES");
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& alias : loaded.aliases) found.emplace_back(alias.name, alias.resource);
    std::ostringstream problems;  // as the control prints them at Run
    for (const auto& problem : loaded.problems) problems << "corvalen-io: " << problem << '\n';
    EXPECT_EQ(found, row.aliases);
    auto expected = row.problems;
    for (auto at = expected.find("{F}"); at != std::string::npos; at = expected.find("{F}")) {
        expected.replace(at, 3, config.file().string());
    }
    EXPECT_EQ(problems.str(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AliasFile,
    ::testing::Values(
        FileCase{"MissingFileHoldsNone", nullptr, "<none>", {}, ""},
        FileCase{"UnreadableFileIsOneLine", nullptr, "<unreadable>", {},
                 "corvalen-io: cannot read {F}: not a regular file; its aliases are not used\n"},
        FileCase{"CommentsBlankLinesAndCrLf", nullptr,
                 "# the bench\n\n   # indented comment\r\nGPIB0::INTFC = PRLGX-ASRL/dev/ttyUSB0::INTFC\r\n\tbench=ASRL1\n",
                 {{"GPIB0::INTFC", "PRLGX-ASRL/dev/ttyUSB0::INTFC"}, {"bench", "ASRL1"}}, ""},
        FileCase{"MalformedLinesNamedByFileAndLine", nullptr,
                 "ok=GPIB0::1::INSTR\nno equals sign\n=GPIB0::2::INSTR\nx=\nbell\a=ASRL1\n" +
                     std::string(5000, 'a') + "=b\nlast=ASRL2",
                 {{"ok", "GPIB0::1::INSTR"}, {"last", "ASRL2"}},
                 "corvalen-io: {F}:2: \"no equals sign\" is not alias=resource; skipped\n"
                 "corvalen-io: {F}:3: \"=GPIB0::2::INSTR\" is not alias=resource; skipped\n"
                 "corvalen-io: {F}:4: \"x=\" is not alias=resource; skipped\n"
                 "corvalen-io: {F}:5: contains a control character; skipped\n"
                 "corvalen-io: {F}:6: longer than 4096 characters; skipped\n"},
        FileCase{"VariableComesFirstAndReportsItsEntries", "GPIB0::INTFC=PRLGX-TCPIP::a::INTFC;oops",
                 "GPIB0::INTFC=PRLGX-TCPIP::b::INTFC\n",
                 {{"GPIB0::INTFC", "PRLGX-TCPIP::a::INTFC"}, {"GPIB0::INTFC", "PRLGX-TCPIP::b::INTFC"}},
                 "corvalen-io: CORVALEN_IO_ALIASES: entry 2: \"oops\" is not alias=resource; skipped\n"},
        FileCase{"OverLongFileIsIgnoredWhole", nullptr, std::string(1024 * 1024 + 1, '#'), {},
                 "corvalen-io: {F} is larger than 1 MiB; its aliases are not used\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(AliasBinding, FindsABoardInAnySpellingAndNeverAsAnInstrumentAlias) {
    std::vector<CorvalenLib::AliasProblem> problems;
    const auto aliases = CorvalenLib::parseAliasVariable(
        "gpib::intfc=PRLGX-TCPIP::a::INTFC;GPIB1::INTFC=PRLGX-ASRL1::INTFC;GPIB0::INTFC=x", problems);
    ASSERT_NE(CorvalenLib::findBoardBinding(aliases, 0), nullptr);
    EXPECT_EQ(CorvalenLib::findBoardBinding(aliases, 0)->resource, "PRLGX-TCPIP::a::INTFC");
    EXPECT_EQ(CorvalenLib::findBoardBinding(aliases, 1)->resource, "PRLGX-ASRL1::INTFC");
    EXPECT_EQ(CorvalenLib::findBoardBinding(aliases, 2), nullptr);
    EXPECT_EQ(CorvalenLib::findAlias(aliases, "GPIB0::INTFC"), nullptr);
}

TEST(AliasBinding, SavingReplacesTheBoardsLineKeepsTheRestAndWritesAtomically) {
    using CorvalenLib::withBoardBinding;
    const std::string text = "# bench\nGPIB1::INTFC=PRLGX-ASRL1::INTFC\ngpib0::intfc=old\nbench=ASRL1\nGPIB::INTFC=dup";
    EXPECT_EQ(withBoardBinding(text, 0, "PRLGX-TCPIP::h::1234::INTFC"),
              "# bench\nGPIB1::INTFC=PRLGX-ASRL1::INTFC\nGPIB0::INTFC=PRLGX-TCPIP::h::1234::INTFC\nbench=ASRL1\n");
    EXPECT_EQ(withBoardBinding(text, 0, ""), "# bench\nGPIB1::INTFC=PRLGX-ASRL1::INTFC\nbench=ASRL1\n");
    EXPECT_EQ(withBoardBinding("# only\n", 2, "TCPIP::g::gpib0::INTFC"), "# only\nGPIB2::INTFC=TCPIP::g::gpib0::INTFC\n");

    peers::ConfigDir config;
    CorvalenLib::saveBoardBinding(0, "PRLGX-ASRL/dev/ttyUSB0::INTFC");
    EXPECT_EQ(config.read(), "GPIB0::INTFC=PRLGX-ASRL/dev/ttyUSB0::INTFC\n");
    CorvalenLib::saveBoardBinding(0, "PRLGX-TCPIP::lab::1234::INTFC");
    EXPECT_EQ(config.read(), "GPIB0::INTFC=PRLGX-TCPIP::lab::1234::INTFC\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config.file().parent_path()), {}), 1)
        << "a temporary file was left behind";
    if (::geteuid() != 0) {  // root writes anywhere
        std::filesystem::permissions(config.file().parent_path(), std::filesystem::perms::owner_read |
                                                                      std::filesystem::perms::owner_exec);
        EXPECT_THROW(CorvalenLib::saveBoardBinding(0, "PRLGX-ASRL1::INTFC"), CorvalenLib::IoError);
        EXPECT_EQ(config.read(), "GPIB0::INTFC=PRLGX-TCPIP::lab::1234::INTFC\n");
    }
}

// An aliases file kept as a link (dotfiles in a repository): saving writes
// the link's target, the link stays, and the target keeps a mode stricter
// than 0600 (a looser one becomes 0600).
struct LinkCase {
    const char* name;
    const char* link;        // what aliases.conf points to, relative to the config root's "dotfiles"
    bool absolute;           // the link names its target by absolute path
    std::filesystem::perms targetMode;  // none: the target does not exist yet
    std::filesystem::perms savedMode;
};

TEST(AliasBinding, SavingThroughASymbolicLinkRewritesItsTargetAndKeepsTheLink) {
    using P = std::filesystem::perms;
    for (const LinkCase& row : {
             LinkCase{"relative, 0644 becomes 0600", "aliases.conf", false,
                      P::owner_read | P::owner_write | P::group_read | P::others_read,
                      P::owner_read | P::owner_write},
             LinkCase{"absolute, read-only kept", "aliases.conf", true, P::owner_read, P::owner_read},
             LinkCase{"through a second link", "second-link", false,
                      P::owner_read | P::owner_write, P::owner_read | P::owner_write},
             LinkCase{"dangling: the target is made", "aliases.conf", false, P::none,
                      P::owner_read | P::owner_write},
         }) {
        SCOPED_TRACE(row.name);
        peers::ConfigDir config;
        const auto dotfiles = config.file().parent_path().parent_path() / "dotfiles";
        const auto target = dotfiles / "aliases.conf";
        std::filesystem::create_directories(dotfiles);
        std::filesystem::create_directories(config.file().parent_path());
        if (row.targetMode != P::none) {
            std::ofstream(target) << "# kept in git\nbench=ASRL1::INSTR\n";
            std::filesystem::permissions(target, row.targetMode);
        }
        if (std::string(row.link) == "second-link") {
            std::filesystem::create_symlink("aliases.conf", dotfiles / "second-link");
        }
        const auto pointsTo = row.absolute ? dotfiles / row.link
                                           : std::filesystem::path("../dotfiles") / row.link;
        std::filesystem::create_symlink(pointsTo, config.file());

        CorvalenLib::saveBoardBinding(0, "PRLGX-TCPIP::lab::1234::INTFC");

        EXPECT_TRUE(std::filesystem::is_symlink(config.file()));
        EXPECT_EQ(std::filesystem::read_symlink(config.file()), pointsTo);
        std::ifstream in(target, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text, row.targetMode != P::none
                            ? "# kept in git\nbench=ASRL1::INSTR\nGPIB0::INTFC=PRLGX-TCPIP::lab::1234::INTFC\n"
                            : "GPIB0::INTFC=PRLGX-TCPIP::lab::1234::INTFC\n");
        EXPECT_EQ(std::filesystem::status(target).permissions(), row.savedMode);
        const auto entries = [](const std::filesystem::path& dir) {
            return std::distance(std::filesystem::directory_iterator(dir), {});
        };
        EXPECT_EQ(entries(dotfiles), std::string(row.link) == "second-link" ? 2 : 1) << "a temporary file left";
        EXPECT_EQ(entries(config.file().parent_path()), 1) << "a temporary file left";
    }
}

}  // namespace
