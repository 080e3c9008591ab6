#include "profiles/ExclusionSet.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "profiles/WildcardMatch.h"

namespace {

constexpr double kLastVersionWithoutWildcards = 1.01;
constexpr std::string_view kWildcardKey = "wildcard_exclusions";

bool sameEntry(const FileEntry& a, const FileEntry& b) {
    return compareEntryPaths(a, b) == 0;
}

void sortList(std::vector<FileEntryPtr>& list) {
    std::stable_sort(list.begin(), list.end(), EntryPathOrder{});
    list.shrink_to_fit();
}

bool wildcardApplies(const FileEntry& wildcard, const FileEntry& entry) {
    // A wildcard bound to a folder covers that folder and every folder below it. The folder is
    // compared with its letter case, unlike the exact entries.
    if (!wildcard.folder.empty() && !entry.folder.starts_with(wildcard.folder)) {
        return false;
    }
    return wildcardMatch(wildcard.name, entry.name);
}

}  // namespace

void ExclusionSet::clear() {
    exact_.clear();
    wildcards_.clear();
}

void ExclusionSet::sort() {
    sortList(exact_);
    sortList(wildcards_);
}

std::vector<FileEntryPtr>::const_iterator ExclusionSet::lowerBound(const FileEntry& entry) const {
    return std::lower_bound(exact_.begin(), exact_.end(), entry,
                            [](const FileEntryPtr& held, const FileEntry& wanted) {
                                return compareEntryPaths(*held, wanted) < 0;
                            });
}

bool ExclusionSet::isExcluded(const FileEntry& entry) const {
    const auto found = lowerBound(entry);
    if (found != exact_.end() && sameEntry(**found, entry)) {
        return true;
    }
    return std::any_of(wildcards_.begin(), wildcards_.end(), [&](const FileEntryPtr& wildcard) {
        return wildcardApplies(*wildcard, entry);
    });
}

void ExclusionSet::addEntry(const FileEntryPtr& entry) {
    // Inserted in order rather than appended, so that the bisection of the next isExcluded
    // sees every entry even before the caller's sort().
    if (!isExcluded(*entry)) {
        exact_.insert(lowerBound(*entry), entry);
    }
}

void ExclusionSet::addPath(std::string_view pathText) {
    addEntry(FileEntry::fromPath(pathText));
}

void ExclusionSet::addWildcard(std::string_view wildcardText) {
    FileEntryPtr wildcard = FileEntry::fromPath(wildcardText);
    const bool present =
        std::any_of(wildcards_.begin(), wildcards_.end(),
                    [&](const FileEntryPtr& held) { return sameEntry(*held, *wildcard); });
    if (!present) {
        wildcards_.push_back(std::move(wildcard));
    }
}

void ExclusionSet::removeEntry(const FileEntry& entry) {
    std::erase_if(exact_, [&](const FileEntryPtr& held) { return sameEntry(*held, entry); });
}

std::ostream& ExclusionSet::write(std::ostream& out) {
    for (const FileEntryPtr& entry : exact_) {
        out << displayPath(*entry) << kLineEnd;
    }
    out << "end_exclusions" << kLineEnd;
    out << "wildcard_exclusions=" << kLineEnd;
    for (const FileEntryPtr& wildcard : wildcards_) {
        out << wildcard->fullPath() << kLineEnd;
    }
    out << "end_wildcard_exclusions" << kLineEnd;
    return out;
}

std::istream& ExclusionSet::read(std::istream& in) {
    // Entries read before the end of a cut-short stream stay; readComplete_ tells the caller.
    readComplete_ = false;
    in >> std::ws;
    std::string line;
    bool ended = false;
    while (!ended && readLineValue(in, line)) {
        ended = line == "end_exclusions" || line == "end_ftp_exclusions";
        if (!ended) {
            exact_.push_back(FileEntry::fromPath(line));
        }
    }
    sortList(exact_);
    if (!ended) {
        return in;
    }

    if (fileFormatVersion > kLastVersionWithoutWildcards) {
        // No whitespace is forgiven here: anything but the exact key on the very next line is
        // consumed and lost, and the profile reader carries on after its "=".
        std::string key;
        const int found = readToDelimiter(in, key, "=", 1023);
        if (found == kReadFailed && !key.empty() &&
            std::string_view(kWildcardKey).starts_with(key)) {
            return in;  // the stream ends inside the key of the wildcard section
        }
        if (found == kReadFoundDelimiter && key == kWildcardKey) {
            in >> std::ws;
            ended = false;
            while (!ended && readLineValue(in, line)) {
                ended = line == "end_wildcard_exclusions";
                if (!ended) {
                    wildcards_.push_back(FileEntry::fromPath(line));
                }
            }
            sortList(wildcards_);
            if (!ended) {
                return in;
            }
        }
    }
    // A section that ends without its wildcard key (an older writer) is complete.
    readComplete_ = true;
    return in;
}
