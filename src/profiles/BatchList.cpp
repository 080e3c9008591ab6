#include "profiles/BatchList.h"

#include "common/ErrorReport.h"
#include "profiles/AtomicFile.h"
#include "profiles/Profile.h"

namespace {

constexpr const char* kCheckContext = "BatchDlg::checkProfile";

}  // namespace

std::ostream& BatchList::write(std::ostream& out) {
    out << "file_type=Kelvane_batch" << kLineEnd;
    out << "kelvane_version=" << formatVersion(CurrentFormatVersion) << kLineEnd;
    out << "profiles=" << kLineEnd;
    for (const std::string& path : profilePaths) {
        out << path << kLineEnd;
    }
    out << "end_profiles" << kLineEnd;
    out.flush();
    modified = false;
    return out;
}

std::istream& BatchList::read(std::istream& in) {
    profilePaths.clear();
    valid = false;
    modified = false;

    // The file type must come first and the version right after it; the rest may come in any
    // order.
    std::string key;
    std::string word;
    if (readKey(in, key) && key == "file_type" && (in >> word) && word == "Kelvane_batch") {
        bool haveKey = readKey(in, key);
        while (haveKey) {
            if (key == "kelvane_version") {
                double version = 0;
                if (in >> version) {
                    fileFormatVersion = version;
                    valid = true;
                }
            } else if (key == "profiles") {
                in >> std::ws;
                std::string line;
                while (readLineValue(in, line) && line != "end_profiles") {
                    profilePaths.push_back(line);
                }
            }
            if (!valid) {
                break;
            }
            haveKey = readKey(in, key);
        }
    }
    if (!valid) {
        profilePaths.clear();
    }
    return in;
}

bool BatchList::loadFromFile(const std::filesystem::path& path) {
    return loadRecordFromFile(*this, path);
}

bool BatchList::saveToFile(const std::filesystem::path& path, std::string* error) {
    return saveEditedRecord(*this, path, error);
}

bool BatchList::checkProfile(const std::string& path) {
    Profile profile;
    if (!profile.loadFromFile(path)) {
        return false;
    }
    if (!profile.valid) {
        reportError(kCheckContext, path + " is not a valid Kelvane profile", false);
        return false;
    }
    if (profile.auto_start == 0) {
        reportError(kCheckContext,
                    "The profile " + path +
                        "\n must have Auto Start selected to be used as a batch profile",
                    false);
        return false;
    }
    return true;
}
