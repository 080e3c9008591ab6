// How long one small upload takes on loopback: the latency the engine pays per file, since it
// runs one FTP operation at a time. Starts pyftpdlib on 127.0.0.1 through the test launcher,
// uploads a small file many times over one logged-in connection and prints the distribution,
// first through the bare protocol client, then through ConnectionDetails::uploadFile, the path
// a synchronisation takes (a timed command on a worker thread with its wait and retry loop),
// without and with the record of unfinished uploads that kelvane-cli keeps, in alternation so
// that both meet the same state of the loopback's ports.
//
//   bench_small_upload [--count N] [--size BYTES] [--seconds LIMIT]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ErrorReport.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/ftp/FtpConnection.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    int count = 1000;
    std::size_t size = 1024;
    int seconds = 300;  // per measurement; a run that takes longer stops early and says so
};

struct Measurement {
    std::vector<double> millis;
    int failures = 0;
    std::string lastFailure;
    std::uint64_t commands = 0;
    bool cutShort = false;
};

double percentile(std::vector<double> sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    std::size_t index =
        static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Runs `upload(i)` up to settings.count times within the time limit, timing each call.
Measurement measure(const Settings& settings,
                    const std::function<bool(int, std::string&)>& upload) {
    Measurement result;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(settings.seconds);
    for (int i = 0; i < settings.count; ++i) {
        if (Clock::now() > deadline) {
            result.cutShort = true;
            break;
        }
        std::string failure;
        const Clock::time_point start = Clock::now();
        const bool ok = upload(i, failure);
        const double millis =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!ok) {
            ++result.failures;
            result.lastFailure = failure;
            continue;
        }
        result.millis.push_back(millis);
    }
    return result;
}

void print(const char* label, Measurement measurement) {
    std::vector<double>& m = measurement.millis;
    std::sort(m.begin(), m.end());
    double total = 0;
    for (double value : m) {
        total += value;
    }
    const double perUpload =
        m.empty() ? 0 : static_cast<double>(measurement.commands) / static_cast<double>(m.size());
    std::printf(
        "%-30s n=%zu  median %.3f ms  p10 %.3f ms  p90 %.3f ms  mean %.3f ms  "
        "commands/upload %.2f\n",
        label, m.size(), percentile(m, 0.5), percentile(m, 0.1), percentile(m, 0.9),
        m.empty() ? 0 : total / static_cast<double>(m.size()), perUpload);
    if (measurement.failures > 0) {
        std::printf("%-30s %d uploads failed, the last: %s\n", "", measurement.failures,
                    measurement.lastFailure.c_str());
    }
    if (measurement.cutShort) {
        std::printf("%-30s stopped early at the time limit\n", "");
    }
}

bool parse(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--count") == 0 && value > 0 && value <= 100'000) {
            settings.count = static_cast<int>(value);
        } else if (std::strcmp(argv[i], "--size") == 0 && value >= 0 && value <= 64 << 20) {
            settings.size = static_cast<std::size_t>(value);
        } else if (std::strcmp(argv[i], "--seconds") == 0 && value > 0 && value <= 3600) {
            settings.seconds = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

std::string remoteName(const char* prefix, int i) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%05d.html", prefix, i);
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: %s [--count N] [--size BYTES] [--seconds LIMIT]\n", argv[0]);
        return 2;
    }
    testsupport::PyFtpdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "pyftpdlib did not start: %s\n", server.error().c_str());
        return 1;
    }
    testsupport::TempFolder local("kelvane-bench");
    const std::filesystem::path file = local.path() / "small.html";
    testsupport::writeFile(file, std::string(settings.size, 'k'));
    std::printf("%d uploads of %zu bytes each to pyftpdlib on 127.0.0.1:%u, one connection\n",
                settings.count, settings.size, static_cast<unsigned>(server.port()));

    int status = 0;
    {
        ftp::FtpConnection connection;
        ftp::FtpResult login = connection.connect(server.host(), server.port(), server.user(),
                                                  server.password(), true);
        if (!login) {
            std::fprintf(stderr, "login failed: %s\n", login.text.c_str());
            return 1;
        }
        const std::uint64_t before = connection.commandCount();
        Measurement direct = measure(settings, [&](int i, std::string& failure) {
            ftp::FtpResult result = connection.upload(file, remoteName("direct", i));
            failure = result.text;
            return result.ok();
        });
        direct.commands = connection.commandCount() - before;
        print("FtpConnection::upload", direct);
        status |= direct.failures > 0 ? 1 : 0;
        connection.close();
    }
    {
        auto details = std::make_shared<ConnectionDetails>();
        details->name = "bench";
        details->server = server.host();
        details->port = server.port();
        details->user = server.user();
        details->password = server.password();
        details->passive = true;
        if (!details->connectFtp()) {
            std::fprintf(stderr, "connectFtp failed: %s\n", lastErrorText().c_str());
            return 1;
        }
        const std::uint64_t before = details->ftp->commandCount();
        const std::string localPath = file.string();
        UnfinishedUploads record(local.path() / "settings" / kUnfinishedUploadsFileName);
        Settings both = settings;
        both.count = settings.count * 2;
        Measurement timed;
        Measurement recorded;
        const Measurement all = measure(both, [&](int i, std::string& failure) {
            const bool withRecord = i % 2 == 1;
            setUnfinishedUploads(withRecord ? &record : nullptr);
            const Clock::time_point start = Clock::now();
            const bool ok = details->uploadFile(localPath, remoteName("timed", i));
            const double millis =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            Measurement& mine = withRecord ? recorded : timed;
            if (!ok) {
                failure = lastErrorText();
                ++mine.failures;
                mine.lastFailure = failure;
            } else {
                mine.millis.push_back(millis);
            }
            return ok;
        });
        setUnfinishedUploads(nullptr);
        timed.commands = details->ftp ? (details->ftp->commandCount() - before) / 2 : 0;
        recorded.commands = timed.commands;
        timed.cutShort = recorded.cutShort = all.cutShort;
        print("ConnectionDetails::uploadFile", timed);
        print("  with UnfinishedUploads", recorded);
        status |= all.failures > 0 ? 1 : 0;
        details->disconnectFtp();
    }
    return status;
}
