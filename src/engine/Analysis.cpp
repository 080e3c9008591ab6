// The folder analysis: compares one local folder with one FTP folder and plans what execution
// must do, descending into the sub-folders both sides have. Nothing is changed on either side.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <utility>

#include "common/ErrorReport.h"
#include "common/MessagePump.h"
#include "engine/ConfirmDelete.h"
#include "engine/Decisions.h"
#include "engine/Synchroniser.h"

namespace {

constexpr std::size_t kConfirmLineWidth = 120;

// The delete question for one entry; true when the entry is to be deleted. Cancel stops the
// whole run, which then executes nothing.
bool confirmDelete(const std::string& caption, const std::string& text, ConfirmationFlags& flags) {
    const std::array<std::string, 4> lines = splitConfirmText(text, kConfirmLineWidth);
    const int answer = askToDelete(caption, lines[0], lines[1], lines[2], lines[3], flags);
    if (answer == kCancelRun) {
        requestStop();
    }
    return answer == kDeleteIt;
}

// The plan keeps one action per path, letters compared without their case (the order of every
// set). A second name that differs from a planned one only in case would otherwise drop out of
// the run without a word, while the server, case-sensitive like most, needs it as well.
void reportCaseClash(const char* side, const FileEntry& planned, const FileEntry& left,
                     ProblemList& problems) {
    problems.push_back(std::string("CSynchroniserDlg::analyseDirectory (") + side +
                       "): Name differs only in letter case: " + left.fullPath());
    setLastError("Not synchronised: " + planned.fullPath() +
                 " has the same name when letter case is ignored");
    problems.push_back(lastErrorText());
}

// Plans `pair` with its target's action, unless a name that differs only in letter case holds
// the place already: then the first keeps it and the clash is reported.
void planPair(ActionPairMap& planned, ActionPair pair, EntryAction action, ProblemList& problems) {
    const FileEntryPtr source = pair.source;
    const auto [at, inserted] = planned.emplace(source, std::move(pair));
    if (inserted) {
        at->second.target->action = action;
    } else {
        reportCaseClash("src", *at->first, *source, problems);
    }
}

void planDelete(EntrySet& planned, const FileEntryPtr& target, ProblemList& problems) {
    const auto [at, inserted] = planned.insert(target);
    if (inserted) {
        target->action = EntryAction::Delete;
    } else {
        reportCaseClash("dst", **at, *target, problems);
    }
}

}  // namespace

bool Synchroniser::refusedFolderLink(const FileEntry& folder) {
    if (!source_.leadsBackUp(folder)) {
        return false;
    }
    // Still matched by name, like an excluded folder, so that its server copy is not deleted.
    problemList.push_back("CSynchroniserDlg::analyseDirectory (src): Folder link not followed: " +
                          folder.fullPath());
    problemList.push_back(lastErrorText());
    return true;
}

void Synchroniser::prepareLocations() {
    source_.setExclusions(&profile.exclusions, &profile.exclusions);
    target_.setExclusions(&profile.exclusions, &profile.ftp_exclusions);
    target_.setConnection(selectedConnection);
}

std::vector<AheadFolder> Synchroniser::foldersToEnter(
    const std::vector<FileEntryPtr>& sourceFolders, const std::vector<FileEntryPtr>& targetFolders,
    const NameMatch& folders) const {
    std::vector<std::pair<std::uint32_t, AheadFolder>> found;
    for (std::size_t i = 0; i < sourceFolders.size(); ++i) {
        if (folders.targetOf[i] == NameMatch::kNone) {
            continue;
        }
        const FileEntryPtr& target = targetFolders[folders.targetOf[i]];
        if (!target_.isExcludedByFirst(*sourceFolders[i]) && !target_.isExcludedBySecond(*target)) {
            found.push_back({sourceFolders[i]->subFolders,
                             {target->childFolderPath(), sourceFolders[i]->childFolderPath()}});
        }
    }
    // Folders with more below them first: the levels under them can only be asked for once they
    // are in, and the walk's own order stands among equals.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<AheadFolder> ahead;
    ahead.reserve(found.size());
    for (auto& [subFolders, folder] : found) {
        ahead.push_back(std::move(folder));
    }
    return ahead;
}

std::vector<AheadFolder> Synchroniser::foldersBelow(
    const std::string& sourceFolder, const std::vector<FileEntryPtr>& targetEntries) {
    // Looked at ahead of the walk, which reports what goes wrong here when it gets here itself;
    // the reason of the walk's own last failure stays as it was.
    const std::string reason = lastErrorText();
    std::vector<FileEntryPtr> sourceFiles;
    std::vector<FileEntryPtr> sourceFolders;
    std::vector<AheadFolder> ahead;
    if (source_.listFolder(sourceFolder, sourceFiles, sourceFolders)) {
        std::vector<FileEntryPtr> targetFiles;
        std::vector<FileEntryPtr> targetFolders;
        SyncLocation::splitListing(targetEntries, targetFiles, targetFolders);
        // A folder the walk will not enter (a link back up) has nothing fetched below it either:
        // on a server that follows links as well, that would never end.
        std::erase_if(sourceFolders,
                      [this](const FileEntryPtr& folder) { return source_.leadsBackUp(*folder); });
        ahead =
            foldersToEnter(sourceFolders, targetFolders, matchByName(sourceFolders, targetFolders));
    }
    setLastError(reason);
    return ahead;
}

bool Synchroniser::analyseDirectory(const std::string& sourceFolder,
                                    const std::string& targetFolder) {
    if (!source_.isReady() || !target_.isReady()) {
        return false;
    }

    struct stat status {};
    if (::stat(sourceFolder.c_str(), &status) != 0) {
        const int error = errno;
        problemList.push_back(
            "CSynchroniserDlg::analyseDirectory (src): Could not access folder: " + sourceFolder);
        setLastErrorFromCode(error);
        problemList.push_back(lastErrorText());
        return false;
    }

    std::vector<FileEntryPtr> sourceFiles;
    std::vector<FileEntryPtr> sourceFolders;
    if (!source_.listFolder(sourceFolder, sourceFiles, sourceFolders)) {
        // The local listing has left the system's reason in lastErrorText.
        problemList.push_back("CSynchroniserDlg::analyseDirectory (src): Could not read folder: " +
                              sourceFolder);
        problemList.push_back(lastErrorText());
        return false;
    }

    std::vector<FileEntryPtr> targetFiles;
    std::vector<FileEntryPtr> targetFolders;
    if (!target_.listFolder(targetFolder, targetFiles, targetFolders)) {
        problemList.push_back("CSynchroniserDlg::analyseDirectory (dst): Could not read folder: " +
                              targetFolder);
        // Only the server's own word makes a folder missing; a listing that timed out or was
        // cut off keeps its reason.
        if (target_.listingFoundNoFolder()) {
            setLastError("Folder not found");
        }
        problemList.push_back(lastErrorText());
        return false;
    }

    // The sub-folders the walk will enter below, fetched ahead on the extra logins while this
    // folder's files are compared and its first sub-folders walked.
    const NameMatch folders = matchByName(sourceFolders, targetFolders);
    if (options.checkSubFolders && target_.pool() != nullptr) {
        target_.listAhead(foldersToEnter(sourceFolders, targetFolders, folders));
    }

    const bool targetIsRemote = target_.isRemote();
    // The folder of the entries to be added. A location typed without its closing separator
    // ("FTP:site/www") must not make "/www" + "index.html" into "/wwwindex.html".
    std::string addFolder = targetFolder;
    const char targetSeparator = targetIsRemote ? kFtpSeparator : kLocalSeparator;
    if (addFolder.empty() || addFolder.back() != targetSeparator) {
        addFolder.push_back(targetSeparator);
    }

    // Files found on both sides are compared, files only in the source are added.
    const NameMatch files = matchByName(sourceFiles, targetFiles);
    for (std::size_t i = 0; i < sourceFiles.size() && !stopRequested; ++i) {
        const FileEntryPtr& file = sourceFiles[i];
        setStatus("Checking file: " + file->fullPath());
        if (files.targetOf[i] != NameMatch::kNone) {
            const FileEntryPtr& target = targetFiles[files.targetOf[i]];
            if ((target_.hasUnfinishedUpload(*target) ||
                 needsOverwrite(*file, *target, profile.compare_on_time, profile.adjust_time_hours,
                                profile.adjust_time_mins)) &&
                !target_.isExcludedByFirst(*file) && !target_.isExcludedBySecond(*target)) {
                planPair(lists.overwriteFiles, ActionPair{file, target}, EntryAction::Overwrite,
                         problemList);
            }
        } else if (options.addMissing && !source_.isExcludedByFirst(*file)) {
            planPair(lists.addFiles,
                     ActionPair{file, file->copyForOtherSide(addFolder, targetIsRemote)},
                     EntryAction::Add, problemList);
        }
    }

    // Files only on the server. A matched target file is never among them, whether or not it
    // was overwritten and whether or not its source is excluded.
    if (options.deleteMissing) {
        for (const std::size_t index : files.unmatchedTargets) {
            if (stopRequested) {
                break;
            }
            const FileEntryPtr& target = targetFiles[index];
            if (target_.isExcludedBySecond(*target)) {
                continue;
            }
            messagePump().pumpOnce();
            if (options.confirmDeletes &&
                !confirmDelete("Delete File", "Delete file: " + target->fullPath(),
                               fileConfirmation)) {
                continue;
            }
            planDelete(lists.deleteFiles, target, problemList);
        }
    }

    if (!options.checkSubFolders) {
        return true;
    }

    // Folders on both sides are analysed at once, depth first; folders only in the source are
    // added whole at execution and need no analysis.
    for (std::size_t i = 0; i < sourceFolders.size() && !stopRequested; ++i) {
        const FileEntryPtr& folder = sourceFolders[i];
        setStatus("Checking folder: " + folder->fullPath());
        if (folders.targetOf[i] != NameMatch::kNone) {
            const FileEntryPtr& target = targetFolders[folders.targetOf[i]];
            if (!target_.isExcludedByFirst(*folder) && !target_.isExcludedBySecond(*target) &&
                !refusedFolderLink(*folder)) {
                // A sub-folder that fails has recorded its problem lines; the others go on.
                analyseDirectory(folder->childFolderPath(), target->childFolderPath());
            }
        } else if (options.addMissing && !source_.isExcludedByFirst(*folder) &&
                   !refusedFolderLink(*folder)) {
            planPair(lists.addFolders,
                     ActionPair{folder, folder->copyForOtherSide(addFolder, targetIsRemote)},
                     EntryAction::Add, problemList);
        }
    }

    if (options.deleteMissing) {
        for (const std::size_t index : folders.unmatchedTargets) {
            if (stopRequested) {
                break;
            }
            const FileEntryPtr& target = targetFolders[index];
            if (target_.isExcludedBySecond(*target)) {
                continue;
            }
            messagePump().pumpOnce();
            if (options.confirmDeletes &&
                !confirmDelete("Delete Sub-Folder", "Delete sub-folder: " + target->fullPath(),
                               folderConfirmation)) {
                continue;
            }
            planDelete(lists.deleteFolders, target, problemList);
        }
    }
    return true;
}
