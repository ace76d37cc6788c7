#pragma once

#include <string>

namespace tavro {

// The long operations, each on a thread of its own that nobody waits for. Each start throws
// std::system_error when the thread cannot be started. Workers report only by posting messages
// to the main window (and by message boxes of their own); no exception leaves a worker.

// Chooses the API server; MSG_SERVER_OK, or a message box and MSG_TASK_FAILED.
void startServerCheckWorker();
// Asks for the latest release and downloads it; MSG_DOWNLOAD_DONE, or a box and MSG_TASK_FAILED.
void startDownloadWorker(std::string email);
// Moves the install bar on while the real install has not reported (up to 92).
void startInstallPulseWorker();
// Installs the downloaded package; MSG_INSTALL_DONE, or a box and MSG_TASK_FAILED.
void startInstallWorker();
// Applies the prepared update; MSG_UPDATE_DONE or MSG_UPDATE_FAILED with the error.
void startUpdateWorker();
// Uninstalls; MSG_UNINSTALL_DONE with what was kept, or MSG_UNINSTALL_FAILED with the error.
void startUninstallWorker();

}  // namespace tavro
