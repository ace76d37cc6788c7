// Links planted below C:/Quendrel, where normal users may write, must never carry an elevated
// write elsewhere. These tests run only through cmake/plant-links.sh: it plants the links named
// in tests/install/CMakeLists.txt (the Nth link points at C:/LinkTargets/N) before this binary
// starts, checks afterwards that every target is unchanged, byte for byte, and removes them.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/installer_core.h"
#include "download/package_fetch.h"
#include "fs/install_paths.h"
#include "install/directory_copy.h"
#include "install/install_test_support.h"
#include "install/log_file.h"
#include "install/zip_writer.h"
#include "support/test_http_server.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using test::Reply;
using test::TestHttpServer;

const fs::path kFirstTarget = L"C:/LinkTargets/0";
constexpr char kRefusal[] = "Refusing to write through a link: ";
constexpr char kDownloadRefusal[] = "Download failed: refusing to write through a link: ";

class LinkRefusal : public ::testing::Test {
  protected:
    // Installs a package holding the product and its companion; the error text (empty when it
    // succeeded, which only a test that expects it allows).
    std::string installError(bool expectFailure = true) {
        test::ZipWriter zip;
        zip.addFile("Tavro.exe", "the product");
        zip.addFile("Ostrilan/Ostrilan.exe", "the companion");
        const fs::path package = scratch_.path() / L"Tavro-V2.4.1-812.zip";
        zip.save(package);
        std::string error;
        EXPECT_EQ(installerCore.installPackage(package, "812", false, {}, {}, error),
                  !expectFailure);
        return error;
    }

    // Downloads a package of size bytes served with byte ranges; the exception's text.
    std::string downloadError(std::size_t size) {
        Reply reply = Reply::text(200, std::string(size, 'p'));
        reply.honourRanges = true;
        reply.headers.emplace_back("Accept-Ranges", "bytes");
        server_.on("/pkg.zip", reply);
        try {
            installerCore.downloadPackage({server_.url("/pkg.zip"), "2.4.1", "812"}, {}, {});
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no exception";
    }

    std::size_t rangeRequests() {
        const auto requests = server_.requests();
        return static_cast<std::size_t>(
            std::count_if(requests.begin(), requests.end(),
                          [](const auto& request) { return request.method == "GET"; }));
    }

    test::ScratchFolder scratch_;
    TestHttpServer server_;
};

// plant-links.sh dir:Quendrel/Tavro
TEST_F(LinkRefusal, InstallRootThatIsALinkStopsTheInstallAtOnce) {
    EXPECT_EQ(installError(), std::string(kRefusal) +
                                  "C:/Quendrel/Tavro is a link or junction "
                                  "(reparse point)");
    EXPECT_FALSE(fs::exists(kFirstTarget / L"tmp"));
}

// plant-links.sh dir:Quendrel/Tavro/tmp/InstallUnpacked
TEST_F(LinkRefusal, OldScratchFolderThatIsALinkIsNeitherEmptiedNorExpandedInto) {
    // The package is expanded into a fresh folder only administrators can write; a link at the
    // old place below the install root is not touched (plant-links.sh checks its target).
    EXPECT_EQ(installError(false), "");
    EXPECT_EQ(test::readFile(installRoot() / L"Ostrilan" / L"Ostrilan.exe"), "the companion");
}

// plant-links.sh dir:Quendrel/Tavro/tmp/InstallUnpacked/Ostrilan
TEST_F(LinkRefusal, LinkInsideTheOldScratchFolderIsNeverEntered) {
    EXPECT_EQ(installError(false), "");
    EXPECT_EQ(test::readFile(installRoot() / L"Tavro.exe"), "the product");
}

// plant-links.sh dir:Quendrel/Tavro/Ostrilan
TEST_F(LinkRefusal, FolderLinkInsideTheInstallRootStopsTheCopy) {
    EXPECT_EQ(installError(), std::string(kRefusal) +
                                  "C:/Quendrel/Tavro\\Ostrilan is a link or junction "
                                  "(reparse point)");
    EXPECT_EQ(test::readFile(kFirstTarget / L"Ostrilan.exe"), "not a program of the package\n");
}

// plant-links.sh hard:Quendrel/Tavro/Tavro.exe
TEST_F(LinkRefusal, HardLinkedFileInTheInstallRootIsNotOverwritten) {
    // The commit renames the earlier entry aside and the new file into place: the other link's
    // file keeps its bytes (plant-links.sh compares them), the root gets a file of its own.
    EXPECT_EQ(installError(false), "");
    EXPECT_EQ(test::readFile(installRoot() / L"Tavro.exe"), "the product");
    EXPECT_NE(test::readFile(kFirstTarget), "the product");
}

// The update folder as updater mode copies it (no checks) and as installer mode would (every
// path checked): the counted files, the result and the copied tree.
struct UpdateCopy {
    std::int32_t counted = 0;
    bool copied = false;
    std::int32_t copiedFiles = 0;
    std::string error;
};

UpdateCopy copyUpdate(bool checked) {
    const fs::path source = installRoot() / L"Update" / L"Unpacked";
    test::writeFile(source / L"Tavro.exe", "the new product");
    UpdateCopy result;
    countFiles(source, result.counted);
    result.copied =
        copyDirectoryTree(source, installRoot(), {}, {}, result.counted, result.copiedFiles,
                          result.error, checked ? PathCheck(refuseLinks) : PathCheck());
    return result;
}

// plant-links.sh dir:Quendrel/Tavro/Update/Unpacked/Linked
TEST_F(LinkRefusal, FolderLinkInTheUpdateIsCopiedAsAnEmptyFolderOrRefused) {
    const UpdateCopy unchecked = copyUpdate(false);
    EXPECT_EQ(unchecked.counted, 1);
    EXPECT_TRUE(unchecked.copied) << unchecked.error;
    EXPECT_EQ(unchecked.copiedFiles, 1);
    EXPECT_TRUE(fs::is_directory(installRoot() / L"Linked"));
    EXPECT_TRUE(fs::is_empty(installRoot() / L"Linked"));
    EXPECT_EQ(test::readFile(installRoot() / L"Tavro.exe"), "the new product");

    const UpdateCopy checked = copyUpdate(true);
    EXPECT_FALSE(checked.copied);
    EXPECT_EQ(checked.error, std::string(kRefusal) +
                                 "C:/Quendrel/Tavro\\Update\\Unpacked\\Linked is a link or "
                                 "junction (reparse point)");
}

// plant-links.sh up:Quendrel/Tavro/Update/Unpacked/sub/Loop (a link to its own folder's parent)
TEST_F(LinkRefusal, LinkBackUpTheUpdateTreeIsNotWalked) {
    const UpdateCopy unchecked = copyUpdate(false);
    EXPECT_EQ(unchecked.counted, 1);
    EXPECT_TRUE(unchecked.copied) << unchecked.error;
    EXPECT_TRUE(fs::is_directory(installRoot() / L"sub" / L"Loop"));
    EXPECT_TRUE(fs::is_empty(installRoot() / L"sub" / L"Loop"));
    EXPECT_FALSE(copyUpdate(true).copied);
}

// plant-links.sh dir:Quendrel/Tavro/Logs
TEST_F(LinkRefusal, LogFolderThatIsALinkIsNotWrittenThrough) {
    LogFile log(logFilePath());
    log.write("never written through the link");
    EXPECT_EQ(log.failure(), std::string(kRefusal) +
                                 "C:/Quendrel/Tavro\\Logs is a link or junction (reparse point)");
    EXPECT_FALSE(fs::exists(kFirstTarget / L"TavroInstaller.log"));
}

// plant-links.sh dir:Quendrel/Tavro/tmp
TEST_F(LinkRefusal, DownloadFolderThatIsALinkStopsTheDownloadBeforeAnyRequest) {
    EXPECT_EQ(downloadError(1000), std::string(kDownloadRefusal) +
                                       "C:/Quendrel/Tavro\\tmp is a link or junction "
                                       "(reparse point)");
    EXPECT_TRUE(server_.requests().empty());
}

// plant-links.sh file:Quendrel/Tavro/tmp/Tavro-V2.4.1-812.zip.temp
TEST_F(LinkRefusal, TemporaryFileLinkStopsTheDownloadBeforeTheTransfer) {
    // Wine shows a link to a file as a plain file; where its handle really is gives it away.
    EXPECT_EQ(downloadError(1000), std::string(kDownloadRefusal) +
                                       "C:/Quendrel/Tavro\\tmp\\Tavro-V2.4.1-812.zip.temp leads "
                                       "through a link to C:\\LinkTargets\\0");
    EXPECT_EQ(rangeRequests(), 0u);
}

// plant-links.sh file:Quendrel/Tavro/tmp/Tavro-V2.4.1-812.zip.temp.part2
TEST_F(LinkRefusal, PartFileLinkStopsTheDownloadAndTheStartedParts) {
    EXPECT_EQ(downloadError(4 * 1048576),
              std::string(kDownloadRefusal) +
                  "C:/Quendrel/Tavro\\tmp\\Tavro-V2.4.1-812.zip.temp.part2 leads through a link "
                  "to C:\\LinkTargets\\0");
    EXPECT_LE(rangeRequests(), 2u);  // parts 0 and 1 were started, then stopped
    EXPECT_FALSE(fs::exists(downloadFolder() / L"Tavro-V2.4.1-812.zip"));
}

}  // namespace
}  // namespace tavro
