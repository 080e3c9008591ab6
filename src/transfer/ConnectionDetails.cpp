#include "transfer/ConnectionDetails.h"

namespace {

std::string shifted(std::string_view text, int by) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(static_cast<unsigned char>(c) + by);
    }
    return result;
}

}  // namespace

std::string scramblePassword(std::string_view password) {
    return shifted(password, 64);
}

std::string unscramblePassword(std::string_view scrambled) {
    return shifted(scrambled, -64);
}

std::ostream& ConnectionDetails::write(std::ostream& out) {
    if (name.empty()) {
        return out;
    }
    out << "ConnectionName=" << name << kLineEnd;
    out << "ServerName=" << server << kLineEnd;
    out << "UserName=" << user << kLineEnd;
    out << "Password=" << scramblePassword(password) << kLineEnd;
    out << "Email=" << email << kLineEnd;
    out << "PortNumber=" << port << kLineEnd;
    out << "PassiveMode=" << (passive ? '1' : '0') << kLineEnd;
    out << "EndRecord=" << kLineEnd;
    return out;
}

std::istream& ConnectionDetails::read(std::istream& in) {
    std::string key;
    while (readKey(in, key)) {
        if (key == "KelvaneVersion") {
            double version = 0;
            if (in >> version) {
                fileFormatVersion = version;
            }
        } else if (key == "ConnectionName") {
            readLineValue(in, name);
        } else if (key == "ServerName") {
            readLineValue(in, server);
        } else if (key == "UserName") {
            readLineValue(in, user);
        } else if (key == "Email") {
            readLineValue(in, email);
        } else if (key == "Password") {
            std::string scrambled;
            readLineValue(in, scrambled);
            password = unscramblePassword(scrambled);
        } else if (key == "PortNumber") {
            in >> port;
        } else if (key == "PassiveMode") {
            in >> passive;
        } else if (key == "EndRecord") {
            break;
        }
    }
    return in;
}
