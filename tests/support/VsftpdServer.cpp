#include "support/VsftpdServer.h"

#include <fstream>

namespace testsupport {

namespace {

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr int kPassivePorts = 40;

}  // namespace

VsftpdServer::VsftpdServer() = default;  // user_ and password_ empty: anonymous

bool VsftpdServer::start() {
    // The control port is chosen before vsftpd binds it, so another process may take it in
    // between; a second port is tried then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce()) {
            return true;
        }
    }
    return false;
}

bool VsftpdServer::restart() {
    process_.kill();
    return startOn(port_);
}

bool VsftpdServer::startOnce() {
    const std::uint16_t port = freeLocalPort();
    if (port == 0) {
        fail("no free port");
        return false;
    }
    return startOn(port);
}

bool VsftpdServer::startOn(std::uint16_t port) {
    const std::uint16_t passive = freePortRange(kPassivePorts);
    if (passive == 0) {
        fail("no free port");
        return false;
    }
    writeConfiguration(port, passive);
    if (!process_.start({kVsftpd, (work_.path() / "vsftpd.conf").string()}, logFile_, false)) {
        fail(process_.error());
        return false;
    }
    if (!waitForListener(port, std::chrono::seconds(10)) || !process_.running()) {
        fail("the server does not accept connections on port " + std::to_string(port));
        return false;
    }
    port_ = port;
    return true;
}

void VsftpdServer::writeConfiguration(std::uint16_t port, std::uint16_t passiveFirst) {
    const std::filesystem::path empty = work_.path() / "empty";
    std::filesystem::create_directories(empty);
    std::ofstream conf(work_.path() / "vsftpd.conf", std::ios::trunc);
    // Standalone in the foreground, on loopback only, on our own ports: a system vsftpd on
    // port 21 and its /etc/vsftpd.conf play no part.
    conf << "listen=YES\n"
            "listen_ipv6=NO\n"
            "listen_address=127.0.0.1\n"
         << "listen_port=" << port << "\n"
         << "background=NO\n"
         // Runs every session as the user who started the tests (root in CI, anyone on a
         // developer's machine), with no switch to the ftp account, so the temporary root needs
         // no special owner. What was tried first and does not work: an anonymous chroot into
         // the temporary root. vsftpd 3.0.3 refuses a writable chroot for anonymous sessions
         // ("500 OOPS: vsftpd: refusing to run with writable root inside chroot()", whatever
         // allow_writeable_chroot says), and a folder is always writable for root. Without the
         // chroot the session sees the whole file system with the rights of the test process,
         // so the server listens on loopback only, on a random port, for one test. This
         // setting also rules out logins of named users, hence anonymous login with uploads,
         // folders, deletes and renames.
         << "run_as_launching_user=YES\n"
            "anonymous_enable=YES\n"
            "no_anon_password=YES\n"
         << "anon_root=" << root_.string() << "\n"
         << "write_enable=YES\n"
            "anon_upload_enable=YES\n"
            "anon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\n"
            "anon_umask=022\n"
         << "anon_max_rate=" << uploadRate_ << "\n"
         << "max_per_ip=" << sessionsPerAddress_
         << "\n"
            // Named users are looked up and refused, which gives a real failed login.
            "local_enable=YES\n"
            "allow_writeable_chroot=YES\n"
         << "secure_chroot_dir=" << empty.string() << "\n"
         << "seccomp_sandbox=NO\n"
            "pasv_enable=YES\n"
         << "pasv_min_port=" << passiveFirst << "\n"
         << "pasv_max_port=" << passiveFirst + kPassivePorts - 1 << "\n"
         << "port_enable=YES\n"
            "connect_from_port_20=NO\n"
            // A refused login answers at once instead of after the default second.
            "delay_failed_login=0\n"
            // Listings in the machine's local time, which the tests compare with.
            "use_localtime=YES\n"
            // Dot files stay hidden from plain LIST, as on a default installation: the client
            // must ask for them itself.
            "log_ftp_protocol=YES\n"
            "xferlog_enable=YES\n"
         << "vsftpd_log_file=" << logFile_.string() << "\n";
    if (tlsEnabled()) {
        // Explicit FTPS as shared hosting sets it up: encrypted logins and data connections,
        // each data connection resuming the control connection's session. The tests log in
        // anonymously, so the anonymous settings say the same as the local ones.
        const char* forced = tlsRequired_ ? "YES" : "NO";
        conf << "ssl_enable=YES\n"
             << "rsa_cert_file=" << certificateFile_.string() << "\n"
             << "rsa_private_key_file=" << keyFile_.string() << "\n"
             << "allow_anon_ssl=YES\n"
             << "force_local_logins_ssl=" << forced << "\n"
             << "force_local_data_ssl=" << forced << "\n"
             << "force_anon_logins_ssl=" << forced << "\n"
             << "force_anon_data_ssl=" << forced << "\n"
             << "require_ssl_reuse=YES\n"
             << "ssl_ciphers=HIGH\n"
             << "debug_ssl=YES\n";
    }
}

}  // namespace testsupport
