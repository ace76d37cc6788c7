// A rename through a held folder, with the folder swapped for another of the same name between
// the moment it was held and the rename: the file either lands where the held folder really is
// (a platform that renames through handles) or the rename is refused; the folder now at the path
// never changes.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/held_folder.h"
#include "fs/link_guard.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using tavro::FileHandle;
using tavro::HeldFolder;
using tavro::LinkRefused;
using tavro::test::writeFile;

// The file's bytes, read beside handles of ours that hold it with DELETE access.
std::string readFile(const fs::path& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(64, '\0');
    DWORD read = 0;
    if (!file ||
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return "(cannot read " + path.string() + ")";
    }
    bytes.resize(read);
    return bytes;
}

struct Swapped {
    fs::path held;   // where the held folder is now
    fs::path decoy;  // the folder now at its old path
};

// folder is held, with "part" in it; then folder is renamed away by path and a decoy of the same
// name takes its place, holding decoyFiles (name -> content).
Swapped swapAway(const fs::path& folder,
                 const std::initializer_list<std::pair<std::wstring, std::string>>& decoyFiles) {
    const fs::path away = folder.parent_path() / L"held-now-here";
    EXPECT_TRUE(MoveFileW(folder.c_str(), away.c_str())) << GetLastError();
    for (const auto& [name, content] : decoyFiles) {
        writeFile(folder / name, content);
    }
    return {away, folder};
}

class HeldRename : public ::testing::Test {
  protected:
    tavro::test::ScratchFolder scratch;
    fs::path folder() const { return scratch.path() / L"tmp"; }
};

TEST_F(HeldRename, ASwappedFolderNeverReceivesTheRenameNorLosesAFileOfEitherName) {
    // The decoy holds a file of the source's name and one of the target's (what a rename by path
    // would take or replace), or only the source's (where it would create the target). The
    // rename by the file's handle alone, the move that also names the file's folder, and the
    // moves by name alone (the commit's).
    for (const char* way : {"rename", "moveHere", "moveEntryHere", "moveStagedEntryHere"}) {
        const bool naming = std::string(way) != "rename";
        for (const bool decoyHasTarget : {true, false}) {
            SCOPED_TRACE(std::string(way) + ", " +
                         (decoyHasTarget ? "decoy holds both names" : "decoy holds the source's"));
            fs::remove_all(scratch.path() / L"held-now-here");
            fs::remove_all(folder());
            writeFile(folder() / L"pkg.zip.temp.part0", "ours");
            const HeldFolder held = HeldFolder::open(folder(), false);
            FileHandle part = held.openFile(L"pkg.zip.temp.part0", DELETE | FILE_READ_ATTRIBUTES);
            ASSERT_TRUE(part);
            const Swapped swapped =
                decoyHasTarget ? swapAway(folder(), {{L"pkg.zip.temp.part0", "decoy part"},
                                                     {L"pkg.zip.temp", "decoy merge"}})
                               : swapAway(folder(), {{L"pkg.zip.temp.part0", "decoy part"}});
            bool refused = false;
            try {
                const std::string chosen = way;
                if (chosen == "rename") {
                    held.rename(part.get(), L"pkg.zip.temp", false);
                } else if (chosen == "moveHere") {
                    held.moveHere(held, L"pkg.zip.temp.part0", part.get(), L"pkg.zip.temp");
                } else if (chosen == "moveEntryHere") {
                    EXPECT_TRUE(held.moveEntryHere(held, L"pkg.zip.temp.part0", L"pkg.zip.temp"));
                } else {
                    EXPECT_TRUE(
                        held.moveStagedEntryHere(held, L"pkg.zip.temp.part0", L"pkg.zip.temp"));
                }
            } catch (const LinkRefused&) {
                refused = true;
            }
            part.reset();
            EXPECT_EQ(readFile(swapped.decoy / L"pkg.zip.temp.part0"), "decoy part");
            if (decoyHasTarget) {
                EXPECT_EQ(readFile(swapped.decoy / L"pkg.zip.temp"), "decoy merge");
            } else {
                EXPECT_FALSE(fs::exists(swapped.decoy / L"pkg.zip.temp"));
            }
            EXPECT_EQ(
                std::distance(fs::directory_iterator(swapped.decoy), fs::directory_iterator()),
                decoyHasTarget ? 2 : 1);
            // Ours is whole, under one of its two names, where the held folder is; the move that
            // names the folder never needs to refuse.
            EXPECT_EQ(readFile(swapped.held / (refused ? L"pkg.zip.temp.part0" : L"pkg.zip.temp")),
                      "ours");
            EXPECT_FALSE(naming && refused);
        }
    }
}

// The same swap before a deletion by name (a backup's, a leftover's): the decoy's file of that
// name stays; ours goes, or the deletion is refused.
TEST_F(HeldRename, ADeletionNeverReachesTheFolderSwappedIn) {
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed ? "removeListed" : "remove");
        fs::remove_all(scratch.path() / L"held-now-here");
        fs::remove_all(folder());
        writeFile(folder() / L"backup.bin", "ours");
        const HeldFolder held = HeldFolder::open(folder(), false);
        const std::vector<HeldFolder::Entry> entries = held.entries();
        ASSERT_EQ(entries.size(), 1u);
        const Swapped swapped = swapAway(folder(), {{L"backup.bin", "decoy"}});
        bool refused = false;
        try {
            EXPECT_TRUE(listed ? held.removeListed(entries[0]) : held.remove(L"backup.bin"));
        } catch (const LinkRefused&) {
            refused = true;
        }
        EXPECT_EQ(readFile(swapped.decoy / L"backup.bin"), "decoy");
        EXPECT_EQ(fs::exists(swapped.held / L"backup.bin"), refused);
    }
}

TEST_F(HeldRename, AMoveWhoseSourceNameWasTakenMeanwhileIsRefusedAndPutBack) {
    // The file opened as "a" is renamed away and another takes its name before the move: what the
    // folder holds under "a" then is not the file opened, and must stay where it is.
    writeFile(folder() / L"a", "ours");
    const HeldFolder held = HeldFolder::open(folder(), false);
    const HeldFolder to = held.folder(L"to", true);
    const FileHandle a = held.openFile(L"a", DELETE | FILE_READ_ATTRIBUTES);
    ASSERT_TRUE(MoveFileW((folder() / L"a").c_str(), (folder() / L"ours-now").c_str()));
    writeFile(folder() / L"a", "another's");
    bool refused = false;
    try {
        to.moveHere(held, L"a", a.get(), L"b");
    } catch (const LinkRefused&) {
        refused = true;  // a host that renames by name: the other file went back
    }
    // Windows moves the file opened; a host that renames by name must not move the other one.
    EXPECT_EQ(readFile(folder() / L"a"), "another's");
    if (refused) {
        EXPECT_FALSE(fs::exists(folder() / L"to" / L"b"));
    } else {
        EXPECT_EQ(readFile(folder() / L"to" / L"b"), "ours");
    }
}

TEST_F(HeldRename, ATakenNameIsNotReplacedUnlessAskedAndTheRenameSucceedsInPlace) {
    writeFile(folder() / L"a", "new");
    writeFile(folder() / L"b", "old");
    const HeldFolder held = HeldFolder::open(folder(), false);
    const FileHandle a = held.openFile(L"a", DELETE | FILE_READ_ATTRIBUTES);
    try {
        held.rename(a.get(), L"b", false);
        ADD_FAILURE() << "a taken name was replaced";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(readFile(folder() / L"b"), "old");
    held.rename(a.get(), L"c", false);
    EXPECT_EQ(readFile(folder() / L"c"), "new");
    {
        // An open target is never replaced, as Windows never replaces a running program's file.
        const FileHandle open(CreateFileW((folder() / L"b").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open);
        EXPECT_THROW(held.rename(a.get(), L"b", true), fs::filesystem_error);
        EXPECT_EQ(readFile(folder() / L"b"), "old");
    }
    held.rename(a.get(), L"b", true);
    EXPECT_EQ(readFile(folder() / L"b"), "new");
    EXPECT_FALSE(fs::exists(folder() / L"a"));
    EXPECT_FALSE(fs::exists(folder() / L"c"));
}

}  // namespace
