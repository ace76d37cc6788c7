#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace tavro {

// The installer runs elevated but writes below a folder that normal users may write to. Before
// it writes, deletes or renames anything there it makes sure that no element of the path, from
// guardedTop() down to the path itself, is a link or junction, so that nothing planted there can
// send a write elsewhere. Paths outside guardedTop() are not looked at.

// "C:/Quendrel", the folder that holds the install root.
std::filesystem::path guardedTop();

// Empty when path may be written: every existing element from guardedTop() down to path is an
// ordinary folder or file (no reparse point), and when path is an existing file, its open handle
// really is where the path says (the platform does not report it elsewhere) and it has no second
// hard link. Otherwise the reason, naming the path. Elements that do not exist yet are fine.
std::string linkProblem(const std::filesystem::path& path);

// Why an open handle to path is not the plain file or folder path names: a reparse point, a place
// other than path (the platform followed a link to open it) or a file with a second hard link.
// Empty when it is.
std::string openedFileProblem(void* handle, const std::filesystem::path& path);

// What an open handle must be for openedProblem: a file also must not be a folder; a folder is
// not asked about hard links.
enum class OpenedAs { Anything, File, Folder };

// Whether openedProblem asks the platform where the handle is, or the caller knows it already
// (it has the host's word that the handle is the entry of a held folder).
enum class OpenedPlace { Ask, Known };

// openedFileProblem for what the handle was opened as.
std::string openedProblem(void* handle, const std::wstring& path, OpenedAs expected,
                          OpenedPlace place = OpenedPlace::Ask);

// Thrown for a refused path; what() is "Refusing to write through a link: " + the reason.
class LinkRefused : public std::runtime_error {
  public:
    explicit LinkRefused(const std::string& problem);

    // The reason alone, naming the path.
    const std::string& problem() const noexcept { return problem_; }

  private:
    std::string problem_;
};

// Throws LinkRefused when linkProblem(path) is not empty.
void refuseLinks(const std::filesystem::path& path);

// A check run on a path before it is written; throws to refuse it.
using PathCheck = std::function<void(const std::filesystem::path&)>;

// Makes folder and any missing folder above it after refuseLinks, each one through a held handle
// to the folder above it (HeldFolder::open with create). Throws LinkRefused or
// std::filesystem::filesystem_error.
void createDirectoriesRefusingLinks(const std::filesystem::path& folder);

// Removes folder and everything in it with a walk that never follows a link: each entry is
// opened without following a link at its name, and deleted through that handle, so a link is
// deleted itself and never descended into. An entry that the platform can only open by
// following it (it reports the handle elsewhere) is neither deleted nor entered: the walk stops
// and returns the reason. Other failures are ignored (what cannot be deleted stays); a folder
// that cannot be opened for deletion (another process holds it) is still emptied. Empty when
// nothing was refused; a missing folder is fine.
std::string removeTreeWithoutFollowing(const std::filesystem::path& folder);

}  // namespace tavro
