// Setting up without the desktop program: `connections add|edit|remove` on the real connections
// file, `profile new|show`, and a whole deploy made only of kelvane-cli calls against a real
// server.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "profiles/Profile.h"
#include "support/CliProcess.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionsFile.h"

namespace fs = std::filesystem;
using testsupport::CliProcess;
using testsupport::CliResult;
using testsupport::readFile;
using testsupport::TempFolder;
using testsupport::writeFile;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

unsigned modeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777u : 0u;
}

void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    writeFile(path, bytes);
}

std::map<std::string, std::string> tree(const fs::path& top) {
    return testsupport::treeOf(top);
}

// A settings folder of its own; every call names it with --config-dir.
class CliSetupTest : public ::testing::Test {
  protected:
    CliResult cli(std::vector<std::string> args,
                  const std::optional<std::string>& input = std::nullopt) const {
        args.insert(args.begin(), {"--config-dir", config().string()});
        CliProcess process(args, temp_.path(), -1, input);
        return process.finish();
    }
    fs::path config() const { return temp_.path() / "config"; }
    fs::path connectionsFile() const { return config() / "KelvaneConnections.txt"; }
    fs::path at(const std::string& name) const { return temp_.path() / name; }

    TempFolder temp_;
};

}  // namespace

TEST_F(CliSetupTest, RefusedConnectionChangesSayWhyAndLeaveTheFileAsItWas) {
    ASSERT_EQ(
        cli({"connections", "add", "site", "--server", "ftp.site.example", "--user", "web"}).status,
        0);
    const std::string before = readFile(connectionsFile());
    ASSERT_EQ(modeOf(connectionsFile()), 0600u);

    const std::string duplicate =
        "That connection name has already been used, please enter an alternative";
    const std::string anonymous =
        "An empty user name means Kelvane will login anonymously\n"
        "and this requires an email address to be provided";
    const std::string noServer = "A server address must be provided eg. \"ftp.example.com\"";
    const std::string port = "The port must be a number from 0 to 65535";
    const std::string byte202 = "The password contains a character (byte 202)";
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> input;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"add", "site", "--server", "other.example", "--user", "web"}, {}, duplicate},
        // The dialog's order: the name is checked before the login and the server.
        {{"add", "site"}, {}, duplicate},
        {{"add", "new", "--server", "h"}, {}, anonymous},
        {{"add", "new", "--user", "web"}, {}, noServer},
        {{"add", "", "--server", "h", "--user", "web"},
         {},
         "A name for this connection must be provided eg. \"My Connection\""},
        {{"add", "new", "--server", "h", "--user", "u", "--port", "65536"}, {}, port},
        {{"add", "new", "--server", "h", "--user", "u", "--port", "-1"}, {}, port},
        {{"add", "new", "--server", "h", "--user", "u", "--port", "21x"}, {}, port},
        {{"add", "new", "--server", "h", "--user", "u", "--password-stdin"},
         "ab\xca"
         "cd\n",
         byte202},
        {{"add", "new", "--server", "h", "--user", "u", "--password-stdin"},
         "",
         "No password on standard input"},
        {{"add", "a/b", "--server", "h", "--user", "u"}, {}, "cannot contain \"/\""},
        {{"add", "new", "--server", "h\nEndRecord=", "--user", "u"},
         {},
         "The server address contains a line break"},
        {{"add", "new", "--server", "h", "--user", "u", "--active", "--passive"}, {}, "excludes"},
        {{"edit", "missing", "--server", "h"},
         {},
         "No connection named \"missing\" in " + connectionsFile().string()},
        {{"edit", "site"}, {}, "Nothing to change"},
        {{"edit", "site", "--server", ""}, {}, noServer},
        {{"edit", "site", "--user", ""}, {}, anonymous},
        {{"edit", "site", "--port", "99999"}, {}, port},
        {{"edit", "site", "--password-stdin"}, "\xca\n", byte202},
        {{"remove", "missing"}, {}, "No connection named \"missing\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"connections"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult result = cli(args, c.input);
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " ...: " + result.err);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(contains(result.err, c.message)) << c.message;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(readFile(connectionsFile()), before);
        EXPECT_EQ(modeOf(connectionsFile()), 0600u);
        // A refused password is never echoed.
        EXPECT_FALSE(contains(result.err, "ab\xca")) << "the password was shown";
    }
}

TEST_F(CliSetupTest, AddEditAndRemoveGoThroughTheConnectionsFile) {
    // The settings folder does not exist yet: the first add makes it.
    const CliResult added =
        cli({"connections", "add", "alpha", "--server", "ftp.alpha.example", "--user", "web",
             "--email", "ops@example.org", "--port", "2121", "--password-stdin"},
            "s3cret!\r\n");
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "Added connection \"alpha\" to " + connectionsFile().string() + "\n");
    EXPECT_FALSE(contains(added.out + added.err, "s3cret")) << "the password was shown";
    ASSERT_EQ(cli({"connections", "add", "beta", "--server", "192.0.2.7", "--email",
                   "ops@example.org", "--active"})
                  .status,
              0);
    // The desktop program's record format, CR LF and all; the password scrambled.
    EXPECT_EQ(readFile(connectionsFile()),
              "KelvaneVersion=1.06\r\n"
              "ConnectionName=alpha\r\nServerName=ftp.alpha.example\r\nUserName=web\r\n"
              "Password=\xb3s\xa3\xb2\xa5\xb4"
              "a\r\nEmail=ops@example.org\r\nPortNumber=2121\r\n"
              "PassiveMode=1\r\nEndRecord=\r\n"
              "ConnectionName=beta\r\nServerName=192.0.2.7\r\nUserName=\r\nPassword=\r\n"
              "Email=ops@example.org\r\nPortNumber=0\r\nPassiveMode=0\r\nEndRecord=\r\n");
    EXPECT_EQ(modeOf(connectionsFile()), 0600u);

    // A new connection requires TLS, kept beside the file; the mode is one of three words.
    EXPECT_EQ(loadConnections(connectionsFile())[0]->tlsMode, ftp::TlsMode::Required);
    EXPECT_NE(readFile(tlsSettingsPath(connectionsFile())).find("TlsMode=required"),
              std::string::npos);
    const CliResult badMode = cli({"connections", "edit", "beta", "--tls", "sometimes"});
    EXPECT_EQ(badMode.status, 2);
    EXPECT_TRUE(contains(badMode.err, "The TLS mode must be off, required or offered"))
        << badMode.err;

    // Only what is given changes.
    ASSERT_EQ(
        cli({"connections", "edit", "alpha", "--server", "ftp.new.example", "--active"}).status, 0);
    ConnectionList list = loadConnections(connectionsFile());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->server, "ftp.new.example");
    EXPECT_FALSE(list[0]->passive);
    EXPECT_EQ(list[0]->password, "s3cret!");
    EXPECT_EQ(list[0]->user, "web");
    EXPECT_EQ(list[0]->port, 2121);
    EXPECT_EQ(list[1]->server, "192.0.2.7");

    // An empty line is an empty password; the other connection stays as it was.
    ASSERT_EQ(
        cli({"connections", "edit", "alpha", "--password-stdin", "--passive", "--port", "0"}, "\n")
            .status,
        0);
    list = loadConnections(connectionsFile());
    EXPECT_EQ(list[0]->password, "");
    EXPECT_TRUE(list[0]->passive);
    EXPECT_EQ(list[0]->port, 0);
    EXPECT_EQ(list[1]->email, "ops@example.org");

    const CliResult removed = cli({"connections", "remove", "alpha"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(removed.out,
              "Removed connection \"alpha\" from " + connectionsFile().string() + "\n");
    list = loadConnections(connectionsFile());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->name, "beta");
    ASSERT_EQ(cli({"connections", "remove", "beta"}).status, 0);
    EXPECT_EQ(readFile(connectionsFile()), "KelvaneVersion=1.06\r\n");

    // The ConnectionsFileName setting names the file; --connections overrides it for one call.
    put(config() / "Kelvane.conf", "ConnectionsFileName=sz:" + at("sites.txt").string() + "\n");
    ASSERT_EQ(cli({"connections", "add", "gamma", "--server", "h", "--user", "u"}).status, 0);
    ASSERT_EQ(cli({"connections", "add", "delta", "--server", "h", "--user", "u", "--connections",
                   at("once.txt").string()})
                  .status,
              0);
    EXPECT_EQ(loadConnections(at("sites.txt")).at(0)->name, "gamma");
    EXPECT_EQ(loadConnections(at("once.txt")).at(0)->name, "delta");
    EXPECT_EQ(readFile(connectionsFile()), "KelvaneVersion=1.06\r\n");
}

TEST_F(CliSetupTest, ProfileNewWritesWhatTheDesktopProgramReadsAndShowPrintsIt) {
    const fs::path site = at("site");
    fs::create_directories(site / "drafts");
    const fs::path file = at("deploy.kvp");
    const CliResult made = cli({"profile",
                                "new",
                                file.string(),
                                "--local",
                                site.string(),
                                "--ftp",
                                "FTP:web/www/",
                                "--delete",
                                "--no-sub-folders",
                                "--compare",
                                "size",
                                "--adjust",
                                "-1:30",
                                "--log",
                                at("run.log").string(),
                                "--log-append",
                                "--exclude-local",
                                "drafts",
                                "--exclude-local",
                                "notes.txt",
                                "--exclude-local",
                                "*.tmp",
                                "--exclude-local",
                                "img/*.psd",
                                "--exclude-ftp",
                                "stats/",
                                "--exclude-ftp",
                                "/www/keep.txt",
                                "--silent",
                                "--auto-start"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "Wrote profile " + file.string() + "\n");
    // The connection may be added afterwards: a warning, not a failure.
    EXPECT_TRUE(contains(made.err, "Warning: no connection named \"web\"")) << made.err;

    Profile profile;
    ASSERT_TRUE(profile.loadFromFile(file));
    ASSERT_TRUE(profile.valid);
    EXPECT_EQ(profile.location1, site.string());
    EXPECT_EQ(profile.location2, "FTP:web/www/");
    EXPECT_TRUE(profile.delete_files);
    EXPECT_TRUE(profile.add_files);
    EXPECT_FALSE(profile.check_sub_folders);
    EXPECT_FALSE(profile.compare_on_time);
    EXPECT_EQ(profile.adjust_time_hours, -1);
    EXPECT_EQ(profile.adjust_time_mins, -30);
    EXPECT_TRUE(profile.log_file_on);
    EXPECT_TRUE(profile.log_file_append);
    EXPECT_EQ(profile.log_file_path, at("run.log").string());
    EXPECT_TRUE(profile.silent_mode);
    EXPECT_EQ(profile.auto_start, 1);
    // What a new profile of the desktop program starts with.
    EXPECT_FALSE(profile.confirm_deletes);
    EXPECT_TRUE(profile.check_actions);
    EXPECT_FALSE(profile.exit_on_completion);
    // Written by the profile's own writer: writing what was read gives the same bytes.
    std::ostringstream again(std::ios::binary);
    profile.write(again);
    EXPECT_EQ(again.str(), readFile(file));

    // The exclusions hold full paths, a folder as a folder; a wildcard without a folder stays.
    std::string expected = R"(Local location:     SITE
FTP location:       FTP:web/www/
Add new files:      yes
Delete missing:     yes
Sub-folders:        no
Compare on:         size
Time adjustment:    -1:30
Confirm deletes:    no
Check actions:      yes
Silent mode:        yes
Auto start:         yes
Exit on completion: no
Log file:           TOP/run.log (append)
Local exclusions:   SITE/drafts/
                    SITE/notes.txt
Local wildcards:    *.tmp
                    SITE/img/*.psd
FTP exclusions:     /www/keep.txt
                    /www/stats/
)";
    for (const auto& [word, path] : {std::pair{"SITE", site}, std::pair{"TOP", temp_.path()}}) {
        for (std::size_t pos; (pos = expected.find(word)) != std::string::npos;) {
            expected.replace(pos, std::string(word).size(), path.string());
        }
    }
    const CliResult shown = cli({"profile", "show", file.string()});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, expected);

    // Without options: the desktop program's new profile, deleting off; hours and minutes of
    // different signs are shown as the correction they make together.
    ASSERT_EQ(cli({"profile", "new", file.string(), "--local", site.string(), "--ftp", "FTP:web/",
                   "--force"})
                  .status,
              0);
    ASSERT_TRUE(profile.loadFromFile(file));
    EXPECT_FALSE(profile.delete_files);
    EXPECT_TRUE(profile.add_files && profile.check_sub_folders && profile.compare_on_time);
    EXPECT_FALSE(profile.log_file_on || profile.silent_mode || profile.auto_start != 0);
    profile.adjust_time_hours = 1;
    profile.adjust_time_mins = -45;
    ASSERT_TRUE(profile.saveToFile(file));
    const std::vector<std::string> brief =
        testsupport::lines(cli({"profile", "show", file.string()}).out);
    ASSERT_EQ(brief.size(), 16u);
    EXPECT_EQ(brief[6], "Time adjustment:    +0:15");
    EXPECT_EQ(brief[12], "Log file:           off");
    EXPECT_EQ(brief[13], "Local exclusions:   none");
}

TEST_F(CliSetupTest, RefusedProfilesSayWhyAndWriteNothing) {
    const fs::path site = at("site");
    fs::create_directories(site);
    put(at("file.txt"), "not a folder");
    put(at("kept.kvp"), "kelvane_version=1.06\r\n");
    const std::string kvp = at("new.kvp").string();
    const std::vector<std::string> good{"--local", site.string(), "--ftp", "FTP:web/"};
    const std::string notFtp = "(expected FTP:NAME/PATH)";
    const std::string badAdjust = "The time adjustment must be [-]H:MM";
    struct Case {
        std::string file;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {at("new.KVP").string(), good, "must end in \".kvp\""},
        {at("kept.kvp").string(), good, "already exists (--force replaces it)"},
        {kvp, {"--local", at("nowhere").string(), "--ftp", "FTP:web/"}, "is not a folder"},
        {kvp, {"--local", at("file.txt").string(), "--ftp", "FTP:web/"}, "is not a folder"},
        {kvp, {"--local", site.string(), "--ftp", "web/www"}, notFtp},
        {kvp, {"--local", site.string(), "--ftp", "FTP:web"}, notFtp},
        {kvp, {"--local", site.string(), "--ftp", "FTP:/www"}, notFtp},
        {kvp, {"--adjust", "13:00"}, badAdjust},
        {kvp, {"--adjust", "1:60"}, badAdjust},
        {kvp, {"--adjust", "1:5"}, badAdjust},
        {kvp, {"--adjust", "90"}, badAdjust},
        {kvp, {"--exclude-local", "../elsewhere"}, "does not name a place inside"},
        {kvp, {"--exclude-ftp", "."}, "does not name a place inside"},
        {kvp, {"--compare", "date"}, "--compare"},
        {kvp, {"--log-append"}, "--log-append requires --log"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"profile", "new", c.file};
        // A case that names its own locations is given only those.
        if (c.args[0] != "--local") {
            args.insert(args.end(), good.begin(), good.end());
        }
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult result = cli(args);
        SCOPED_TRACE(c.args.back() + ": " + result.err);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(contains(result.err, c.message)) << c.message;
        EXPECT_FALSE(fs::exists(kvp));
        EXPECT_FALSE(fs::exists(at("new.KVP")));
        EXPECT_EQ(readFile(at("kept.kvp")), "kelvane_version=1.06\r\n");
    }

    put(at("broken.kvp"), "location1=/site\r\n");
    const CliResult broken = cli({"profile", "show", at("broken.kvp").string()});
    EXPECT_EQ(broken.status, 2);
    EXPECT_EQ(broken.err, at("broken.kvp").string() + " is not a valid Kelvane profile\n");
    EXPECT_EQ(broken.out, "");
    EXPECT_EQ(cli({"profile", "show", at("missing.kvp").string()}).status, 2);
}

TEST_F(CliSetupTest, ADeployMadeOnlyOfCliCallsLeavesTheServerLikeTheLocalTree) {
    testsupport::PyFtpdServer server;
    ASSERT_TRUE(server.start()) << server.error();
    put(config() / "Kelvane.conf", "CommandTimeout=dword:10\nMaxCommandRetries=dword:0\n");

    // The password reaches the server only through standard input.
    const CliResult added = cli({"connections", "add", "site", "--server", server.host(), "--port",
                                 std::to_string(server.port()), "--user", server.user(),
                                 "--password-stdin", "--tls", "off"},
                                server.password() + "\n");
    ASSERT_EQ(added.status, 0) << added.err;
    const CliResult wrong =
        cli({"connections", "edit", "site", "--password-stdin"}, server.rejectedPassword() + "\n");
    ASSERT_EQ(wrong.status, 0) << wrong.err;
    EXPECT_EQ(cli({"ls", "FTP:site/"}).status, 2);
    ASSERT_EQ(
        cli({"connections", "edit", "site", "--password-stdin"}, server.password() + "\n").status,
        0);
    const CliResult listed = cli({"ls", "FTP:site/"});
    EXPECT_EQ(listed.status, 0) << listed.err;

    const fs::path site = at("site");
    put(site / "index.html", "<html>home</html>\n");
    put(site / "css" / "style.css", "body { margin: 0 }\n");
    put(site / "notes.tmp", "excluded by a wildcard");
    put(site / "drafts" / "next.html", "excluded with its folder");
    put(server.root() / "old.html", "gone from the site");
    put(server.root() / "stats" / "today.log", "kept by an FTP exclusion");
    const fs::path file = at("site.kvp");
    const CliResult made = cli({"profile", "new", file.string(), "--local", site.string(), "--ftp",
                                "FTP:site/", "--delete", "--exclude-local", "drafts",
                                "--exclude-local", "*.tmp", "--exclude-ftp", "stats"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");

    const CliResult run = cli({"run", file.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::map<std::string, std::string> expected = tree(site);
    expected.erase("notes.tmp");
    expected.erase("drafts/");
    expected.erase("drafts/next.html");
    expected["stats/"] = "";
    expected["stats/today.log"] = "kept by an FTP exclusion";
    EXPECT_EQ(tree(server.root()), expected);
}
