#include "install/file_transaction.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/text_convert.h"
#include "core/win_handles.h"
#include "fs/held_folder.h"
#include "fs/host_rename.h"
#include "fs/install_paths.h"
#include "fs/link_guard.h"
#include "install/directory_copy.h"
#include "install/file_holders.h"
#include "install/install_record.h"
#include "install/transaction_follow_up.h"
#include "install/transaction_journal.h"

namespace tavro {

namespace {

constexpr wchar_t kJournalName[] = L"TavroInstall.journal";
constexpr wchar_t kJournalTemporaryName[] = L"TavroInstall.journal.temp";
constexpr wchar_t kNewFiles[] = L"new";
// Logged once the record holds the new files (the commit point), before the follow-up.
constexpr char kCommittedLine[] = "The install record holds the new files.";
constexpr wchar_t kBackups[] = L"old";
constexpr std::size_t kLongestJournal = 64u << 20;
// What the journal, the record and the folders need beside the files, and a cluster per file.
constexpr std::uint64_t kSpareBytes = 1u << 20;
constexpr std::uint64_t kClusterBytes = 4096;
// The access that renames and deletes a file; reading its attributes lets it be checked.
constexpr ACCESS_MASK kMoveAccess = DELETE | FILE_READ_ATTRIBUTES;

// text, ended as a sentence, and then more (the platform's messages end with a full stop).
std::string thenSentence(const std::string& text, const std::string& more) {
    return text + (!text.empty() && text.back() == '.' ? " " : ". ") + more;
}

void say(const LogCallback& log, const std::string& line) {
    if (log) {
        log(line);
    }
}

std::wstring newStageName() {
    std::random_device source;
    wchar_t text[40];
    swprintf(text, 40, L"TavroInstall.txn.%08x%08x", source(), source());
    return text;
}

// A record path ("a/b.txt") as the platform's relative path.
std::filesystem::path relativeOf(const std::string& recordPath) {
    std::wstring wide = toWide(recordPath);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return std::filesystem::path(wide);
}

// The held folders below one top folder, opened once each.
class FolderCache {
  public:
    explicit FolderCache(const HeldFolder& top) : top_(top) {}

    // The folder at relative below the top; nullptr when it is absent and create is not set.
    const HeldFolder* at(const std::filesystem::path& relative, bool create) {
        if (!top_) {
            return nullptr;
        }
        if (relative.empty()) {
            return &top_;
        }
        const auto found = folders_.find(relative.native());
        if (found != folders_.end()) {
            return &found->second;
        }
        HeldFolder folder;
        try {
            folder = create ? top_.folder(relative, true) : top_.existingFolder(relative);
        } catch (const LinkRefused&) {
            // The path checks name a link the clearest way ("... is a link or junction").
            refuseLinks(std::filesystem::path(top_.path()) / relative);
            throw;
        }
        if (!folder) {
            return nullptr;
        }
        return &(folders_[relative.native()] = std::move(folder));
    }

  private:
    const HeldFolder& top_;
    std::unordered_map<std::wstring, HeldFolder> folders_;
};

bool isBusy(const std::filesystem::filesystem_error& e) {
    const int code = e.code().value();
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Raised when a file stays held by another program longer than the retries wait.
struct FileInUse : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string inUseText(const std::wstring& path, const std::filesystem::filesystem_error& e) {
    std::string text = pathToAnsi(path) + " is in use by another program (" +
                       std::system_category().message(e.code().value()) + ")";
    const std::string holders = programsHolding(path);
    if (!holders.empty()) {
        text += "; held by " + holders;
    }
    return text;
}

std::wstring lowerCase(std::wstring text) {
    if (!text.empty()) {
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    }
    return text;
}

// Which names (of files, links or folders) the folders below a top folder hold, each folder
// listed through its held handle when a name in it is first asked for (names compared without
// case, as the platform opens them). Only the last folder's names are kept: the files come folder
// by folder, and a folder asked for again is listed again (as it is then).
class ListedFiles {
  public:
    explicit ListedFiles(const HeldFolder& top) : folders_(top) {}

    bool has(const std::filesystem::path& relative) {
        const std::wstring parent = relative.parent_path().native();
        if (!listed_ || parent != folder_) {
            names_.clear();
            if (const HeldFolder* folder = folders_.at(parent, false)) {
                for (const HeldFolder::Entry& entry : folder->entries()) {
                    names_.insert(lowerCase(entry.name));
                }
            }
            folder_ = parent;
            listed_ = true;
        }
        return names_.count(lowerCase(relative.filename().native())) != 0;
    }

  private:
    FolderCache folders_;
    bool listed_ = false;
    std::wstring folder_;
    std::unordered_set<std::wstring> names_;
};

// What one pass over the files (the commit, or undoing it) works with.
struct Pass {
    const HeldFolder& root;
    FolderCache targets;
    FolderCache newFiles;
    FolderCache backups;
    BusyRetry& retry;
    const LogCallback& log;
    // What the staging folder holds (listed a folder at a time): a file is committed once a pass,
    // so its entry is still there when the pass reaches it.
    ListedFiles staged;
};

// Runs step, trying again while the file at path is held by another program.
template <typename Step>
void whileBusyRetry(Pass& pass, const std::wstring& path, Step step) {
    pass.retry.startFile();
    for (;;) {
        try {
            step();
            return;
        } catch (const std::filesystem::filesystem_error& e) {
            if (!isBusy(e)) {
                throw;
            }
            const auto wait = pass.retry.nextWait();
            if (!wait) {
                throw FileInUse(inUseText(path, e));
            }
            say(pass.log, "In use, trying again in " + std::to_string(wait->count()) +
                              " ms: " + pathToAnsi(path));
            std::this_thread::sleep_for(*wait);
        }
    }
}

// Moves the file name of from into to (same name), or deletes it when to already has one (a
// commit or undo run again after an interruption); nothing when from has none.
void moveAside(const HeldFolder& from, const HeldFolder& to, const std::wstring& name) {
    try {
        to.moveEntryHere(from, name, name);
    } catch (const std::filesystem::filesystem_error& e) {
        if (e.code().value() != ERROR_ALREADY_EXISTS) {
            throw;
        }
        from.remove(name);
    }
}

// Puts the new file of relative in place, the file it replaces moved aside first. Does nothing
// when it is in place already, so that it can be run again after an interruption. Every folder
// on the way was opened and checked once (the caches); the files are moved by name within them,
// a link moved itself, never followed.
void commitFile(Pass& pass, const std::filesystem::path& relative) {
    const std::filesystem::path parent = relative.parent_path();
    const std::wstring name = relative.filename().native();
    const HeldFolder* staged = pass.newFiles.at(parent, false);
    if (!staged || !pass.staged.has(relative)) {
        return;  // in place already
    }
    const HeldFolder& target = *pass.targets.at(parent, true);
    whileBusyRetry(pass, target.childPath(name), [&] {
        moveAside(target, *pass.backups.at(parent, true), name);
        target.moveStagedEntryHere(*staged, name, name);
    });
}

// Puts the earlier file of relative back (or takes the new one away when there was none). Does
// nothing when that is done already.
void undoFile(Pass& pass, const std::filesystem::path& relative, bool existed) {
    const std::filesystem::path parent = relative.parent_path();
    const std::wstring name = relative.filename().native();
    const HeldFolder* target = pass.targets.at(parent, false);
    if (target == nullptr) {
        return;  // never made: nothing of this file was committed
    }
    const HeldFolder* backups = pass.backups.at(parent, false);
    FileHandle earlier = backups ? backups->openFile(name, kMoveAccess) : FileHandle();
    if (!earlier) {
        const HeldFolder* staged = pass.newFiles.at(parent, false);
        if (existed || (staged && staged->openFile(name, FILE_READ_ATTRIBUTES))) {
            return;  // the earlier file never left, or the new one never came
        }
    }
    whileBusyRetry(pass, target->childPath(name), [&] {
        moveAside(*target, *pass.newFiles.at(parent, true), name);
        if (earlier) {
            target->moveHere(*backups, name, earlier.get(), name);
        }
    });
}

std::string readJournalText(const HANDLE file) {
    std::string text;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof(buffer), &got, nullptr)) {
            throw std::runtime_error("Cannot read the transaction journal: error " +
                                     std::to_string(GetLastError()));
        }
        if (got == 0 || text.size() > kLongestJournal) {
            return text;
        }
        text.append(buffer, got);
    }
}

void writeJournal(const HeldFolder& root, const TransactionJournal& journal) {
    const std::string text = formatJournal(journal);
    root.remove(kJournalTemporaryName);  // a leftover of a write that did not finish
    const FileHandle file = root.createFile(kJournalTemporaryName, GENERIC_WRITE);
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        throw std::runtime_error("Cannot write the transaction journal " +
                                 pathToAnsi(root.childPath(kJournalTemporaryName)) + ": error " +
                                 std::to_string(GetLastError()));
    }
    flushToDisk(file.get(), "the transaction journal");
    root.moveHere(root, kJournalTemporaryName, file.get(), kJournalName);
    FlushFileBuffers(root.get());  // the name on the disk too, where the platform allows it
}

// Removes name below parent with everything in it, through held handles. What cannot go (a file
// still in use) stays; true when everything went.
bool removeHeldTree(const HeldFolder& parent, const std::wstring& name) {
    bool all = true;
    try {
        {
            const HeldFolder folder = parent.existingFolder(name);
            if (!folder) {
                return true;
            }
            for (const HeldFolder::Entry& entry : folder.entries()) {
                const bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                      !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
                if (isFolder) {
                    all = removeHeldTree(folder, entry.name) && all;
                    continue;
                }
                try {
                    folder.removeListed(entry);
                } catch (const std::exception&) {
                    all = false;
                }
            }
        }
        if (all) {
            parent.remove(name);
        }
    } catch (const std::exception&) {
        all = false;
    }
    return all;
}

// Removes staging folders of finished transactions (backups that were still in use); the open
// transaction's own stays.
void removeFinishedStages(const HeldFolder& root, const std::wstring& keep,
                          const LogCallback& log) {
    for (const HeldFolder::Entry& entry : root.entries()) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && isStageName(entry.name) &&
            entry.name != keep && !removeHeldTree(root, entry.name)) {
            say(log,
                "Still in use, removed by a later run: " + pathToAnsi(root.childPath(entry.name)));
        }
    }
}

void undoAll(Pass& pass, const TransactionJournal& journal) {
    for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
        undoFile(pass, relativeOf(it->entry.path), it->existed);
    }
}

void commitAll(Pass& pass, const TransactionJournal& journal) {
    for (const JournalFile& file : journal.files) {
        commitFile(pass, relativeOf(file.entry.path));
    }
}

// Ends the transaction: the journal goes first, so that a staging folder without it is only
// ever removed, then the staging folder.
void closeTransaction(const HeldFolder& root, const std::wstring& stage, const LogCallback& log) {
    root.remove(kJournalName);
    FlushFileBuffers(root.get());
    if (!removeHeldTree(root, stage)) {
        say(log, "Still in use, removed by a later run: " + pathToAnsi(root.childPath(stage)));
    }
}

// The bytes the files under folder take on the disk, with room for the journal and record.
std::uint64_t bytesNeeded(const std::filesystem::path& folder) {
    std::uint64_t bytes = kSpareBytes;
    for (const std::filesystem::path& relative : regularFilesUnder(folder)) {
        const std::uint64_t size = std::filesystem::file_size(folder / relative);
        bytes += (size + kClusterBytes - 1) / kClusterBytes * kClusterBytes + kClusterBytes;
    }
    return bytes;
}

void refuseWithoutRoom(const std::filesystem::path& source, const std::filesystem::path& root) {
    const std::uint64_t needed = bytesNeeded(source);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) {
        return;  // cannot tell: a full disk still fails the staging copy, before any rename
    }
    if (available.QuadPart < needed) {
        throw std::runtime_error("Not enough free space on the drive of " + pathToAnsi(root) +
                                 ": the new files need " + std::to_string(needed >> 20) + " MiB, " +
                                 std::to_string(available.QuadPart >> 20) +
                                 " MiB are free. Nothing was changed.");
    }
}

// Adds to made every folder below staged (the new files' tree) that existing does not hold, as a
// record path below prefix: the folders the commit will make. A folder that cannot be told absent
// (a link there, one that cannot be opened) counts as there: it is never the transaction's.
void listFoldersToMake(const HeldFolder& staged, const HeldFolder& existing,
                       const std::string& prefix, std::vector<std::string>& made) {
    for (const HeldFolder::Entry& entry : staged.entries()) {
        if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            continue;
        }
        const std::string relative = prefix + toUtf8(entry.name);
        HeldFolder there;
        if (existing) {
            try {
                there = existing.existingFolder(entry.name);
                if (!there) {
                    made.push_back(relative);
                }
            } catch (const std::exception&) {
                continue;
            }
        } else {
            made.push_back(relative);  // below a folder that is made: made too
        }
        listFoldersToMake(staged.folder(entry.name, false), there, relative + "/", made);
    }
}

// After an undo: removes each folder the commit made that is empty again, deepest first, through
// the held folder above it. One that holds anything, a link, or a file of that name stays; so
// does every folder the journal does not list (whatever was there before the transaction).
void removeMadeFolders(const HeldFolder& root, const TransactionJournal& journal) {
    std::vector<std::filesystem::path> folders;
    for (const std::string& folder : journal.madeFolders) {
        folders.push_back(relativeOf(folder));
    }
    const auto depth = [](const std::filesystem::path& path) {
        return std::distance(path.begin(), path.end());
    };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const auto& a, const auto& b) { return depth(a) > depth(b); });
    for (const std::filesystem::path& folder : folders) {
        try {
            HeldFolder above;
            const HeldFolder* parent = &root;
            if (folder.has_parent_path()) {
                above = root.existingFolder(folder.parent_path());
                parent = &above;
            }
            const std::wstring name = folder.filename().native();
            if (!*parent) {
                continue;
            }
            if (const HeldFolder made = parent->existingFolder(name);
                !made || !made.entries().empty()) {
                continue;
            }
            parent->remove(name);
        } catch (const std::exception&) {
            // a link, a file of that name, or in use: it stays
        }
    }
}

std::optional<TransactionJournal> readJournal(const HeldFolder& root, const LogCallback& log) {
    const FileHandle file = root.openFile(kJournalName, GENERIC_READ);
    if (!file) {
        return std::nullopt;
    }
    std::optional<TransactionJournal> journal = parseJournal(readJournalText(file.get()));
    if (!journal) {
        // Only this program writes it, whole and flushed before the rename: anything else was
        // planted or damaged, and names nothing this program may act on.
        say(log, "The transaction journal " + pathToAnsi(root.childPath(kJournalName)) +
                     " is not one this program wrote; removed.");
        HeldFolder::removeOpened(file.get(), root.childPath(kJournalName));
    }
    return journal;
}

// Makes every folder below from (one that only folders are left in) below to as well.
void mirrorFolders(const HeldFolder& from, const HeldFolder& to) {
    for (const HeldFolder::Entry& entry : from.entries()) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            mirrorFolders(from.folder(entry.name, false), to.folder(entry.name, true));
        }
    }
}

// Finishes the journal's transaction when the record holds its files (true), else undoes it.
// The staging folder's handles are closed again on return.
bool finishOrUndo(const HeldFolder& root, const TransactionJournal& journal,
                  const std::vector<RecordEntry>& record, const LogCallback& log) {
    // Made again when someone removed it: undoing then still takes new files out of the way.
    const HeldFolder stage = root.folder(journal.stage, true);
    const HeldFolder stageNew = stage.folder(kNewFiles, true);
    const HeldFolder stageOld = stage.folder(kBackups, true);
    BusyRetry retry;
    Pass pass{root, FolderCache(root),    FolderCache(stageNew), FolderCache(stageOld), retry,
              log,  ListedFiles(stageNew)};
    const std::string count = std::to_string(journal.files.size());
    if (recordHoldsJournal(record, journal)) {
        say(log, "Finishing the interrupted update of " + count + " files.");
        commitAll(pass, journal);
        mirrorFolders(stageNew, root);
        return true;
    }
    say(log, "Undoing the interrupted update of " + count + " files.");
    undoAll(pass, journal);
    return false;
}

void recover(const HeldFolder& root, const LogCallback& log) {
    root.remove(kJournalTemporaryName);
    const std::optional<TransactionJournal> journal = readJournal(root, log);
    if (journal) {
        ParsedRecord record;
        std::string error;
        if (!readInstallRecord(record, error)) {
            throw std::runtime_error(error);
        }
        if (finishOrUndo(root, *journal, record.entries, log)) {
            finishFollowUp(journal->after, log);  // what the killed run wrote after the record
        } else {
            removeMadeFolders(root, *journal);
        }
        closeTransaction(root, journal->stage, log);
    }
    removeFinishedStages(root, std::wstring(), log);
}

// after as the journal carries it: one whose values are not of the journal's forms is left out.
JournalFollowUp wellFormedFollowUp(const JournalFollowUp& after, const LogCallback& log) {
    if (isWellFormed(after)) {
        return after;
    }
    // Not echoed: the values came from the server and are not of a form the log may carry.
    say(log,
        "The release's version or build number is not of the form the journal carries: a "
        "kill after the commit point leaves the registry values and Apps & features to the "
        "next install.");
    return JournalFollowUp();
}

// The host's write of the filesystem that holds folder to the disk; throws when it fails.
void writeToDiskOnHost(const HeldFolder& folder) {
    const std::optional<int> hostError = syncFilesystemOnHost(folder.get());
    if (!hostError || *hostError != 0) {
        throw std::runtime_error(
            "Cannot write the new files in " + pathToAnsi(folder.path()) + " to the disk: error " +
            std::to_string(hostError ? windowsErrorOfHost(*hostError) : ERROR_GEN_FAILURE));
    }
}

// Copies the files under source into a new staging folder, hashing them, and lists them in
// journal with whether each replaces a file. Every handle inside the staging folder is closed
// again on return (a folder with an open handle below it cannot be removed). false with error
// after a failure, the staging folder removed.
bool stageFiles(const HeldFolder& root, const std::filesystem::path& source,
                const InstallCallback& progress, std::int32_t total, std::int32_t& copied,
                TransactionJournal& journal, std::string& error) {
    std::vector<RecordEntry> staged;
    bool copiedAll = false;
    {
        const HeldFolder stage = root.folder(journal.stage, true);
        stage.folder(kBackups, true);
        const HeldFolder stageNew = stage.folder(kNewFiles, true);
        // The staged files become the product by renames alone: they must be on the disk before
        // the journal lets the first rename happen, or a power cut after the commit leaves files
        // the record vouches for with the disk's old blocks in them. Each is flushed as it is
        // written; where that is a separate fsync each (Wine), the host writes them all at once.
        const bool hostWritesAll = hostCanBeAsked();
        copiedAll = copyDirectoryTree(source, stageNew.path(), progress, nullptr, total, copied,
                                      error, refuseLinks, &staged, !hostWritesAll);
        try {
            if (copiedAll && hostWritesAll) {
                writeToDiskOnHost(stageNew);
            }
            if (copiedAll) {
                listFoldersToMake(stageNew, root, std::string(), journal.madeFolders);
            }
        } catch (const std::exception& e) {
            error = e.what();  // nothing is committed without knowing what an undo removes
            copiedAll = false;
        }
    }
    if (!copiedAll) {
        removeHeldTree(root, journal.stage);
        error = thenSentence(error, "Nothing was changed.");
        return false;
    }
    // Whether each replaces a file decides only how it is put back; the commit renames aside
    // whatever it finds in the new file's place.
    ListedFiles existing(root);
    for (RecordEntry& entry : staged) {
        const bool existed = existing.has(relativeOf(entry.path));
        journal.files.push_back({std::move(entry), existed});
    }
    return true;
}

// Commits the journal's files and writes the record (the commit point); failure says why not,
// and then every file has been put back. Throws when putting them back fails too.
void commitOrUndo(const HeldFolder& root, const TransactionJournal& journal, BusyRetry retry,
                  const LogCallback& log, std::string& failure) {
    const BusyRetry unspent = retry;
    const HeldFolder stage = root.folder(journal.stage, false);
    const HeldFolder stageNew = stage.folder(kNewFiles, false);
    const HeldFolder stageOld = stage.folder(kBackups, false);
    Pass pass{root, FolderCache(root),    FolderCache(stageNew), FolderCache(stageOld), retry,
              log,  ListedFiles(stageNew)};
    try {
        commitAll(pass, journal);
        mirrorFolders(stageNew, root);  // the release's empty folders
        std::vector<const RecordEntry*> installed;
        installed.reserve(journal.files.size());
        for (const JournalFile& file : journal.files) {
            installed.push_back(&file.entry);
        }
        // The commit point: from here on the new files stay.
        std::string error;
        if (!recordInstalledFiles(installed, log, error)) {
            throw std::runtime_error(error);
        }
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    say(log, "Undoing: " + failure);
    retry = unspent;  // putting back gets time of its own, also after a run of retries
    undoAll(pass, journal);
}

}  // namespace

bool recoverInterruptedTransaction(const LogCallback& log) {
    try {
        HeldFolder root;
        try {
            root = HeldFolder::open(installRoot(), false);
        } catch (const std::filesystem::filesystem_error& e) {
            const int code = e.code().value();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
                return true;  // nothing installed: nothing to finish
            }
            throw;
        }
        recover(root, log);
        return true;
    } catch (const std::exception& e) {
        say(log, std::string("The interrupted update could not be finished yet: ") + e.what());
        return false;
    }
}

bool installFilesAsOne(const std::filesystem::path& source, InstallCallback progress,
                       LogCallback log, std::int32_t total, std::int32_t& copied,
                       std::string& error, BusyRetry retry) {
    return installFilesAsOne(source, JournalFollowUp(), std::move(progress), std::move(log), total,
                             copied, error, retry);
}

bool installFilesAsOne(const std::filesystem::path& source, const JournalFollowUp& after,
                       InstallCallback progress, LogCallback log, std::int32_t total,
                       std::int32_t& copied, std::string& error, BusyRetry retry) {
    const InstallCallback progressSink = std::move(progress);
    const LogCallback logSink = std::move(log);
    try {
        const HeldFolder root = HeldFolder::open(installRoot(), true);
        recover(root, logSink);
        refuseWithoutRoom(source, installRoot());

        TransactionJournal journal{newStageName(), {}};
        journal.after = wellFormedFollowUp(after, logSink);
        if (!stageFiles(root, source, progressSink, total, copied, journal, error)) {
            return false;
        }
        say(logSink, "Putting " + std::to_string(journal.files.size()) + " files in place...");
        writeJournal(root, journal);
        std::string failure;
        try {
            commitOrUndo(root, journal, retry, logSink, failure);
        } catch (const std::exception& e) {
            // The journal stays: the next run finishes the undo.
            error = thenSentence(
                failure, std::string("Putting the earlier files back failed too (") + e.what() +
                             "); the next start of this program finishes it.");
            return false;
        }
        if (failure.empty()) {
            // While the journal stays, a kill from here on is finished by the next start.
            say(logSink, kCommittedLine);
            writeFollowUp(journal.after, logSink);
            const auto replaced =
                std::count_if(journal.files.begin(), journal.files.end(),
                              [](const JournalFile& file) { return file.existed; });
            if (replaced > 0) {
                say(logSink, "Removing the " + std::to_string(replaced) + " replaced files...");
            }
        } else {
            removeMadeFolders(root, journal);
        }
        closeTransaction(root, journal.stage, logSink);
        if (!failure.empty()) {
            error = thenSentence(failure, "The earlier files were put back; nothing was changed.");
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace tavro
