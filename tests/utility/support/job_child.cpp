// A utility job in a process of its own, for a test to kill mid-job: logs in
// to the chosen device as the utility does (VTBOX_HTTP_PORT, VTBOX_FTP_PORT
// and the state folder come from the environment) and backs every box up
// into the file given, through the utility's job thread.
//
//   utility_job_child BACKUP_FILE
#include <QCoreApplication>
#include <cstdio>

#include "app_state.hpp"
#include "device_session.hpp"
#include "job_files.hpp"

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: utility_job_child BACKUP_FILE\n");
        return 2;
    }
    vtutil::AppState state;
    state.deviceAddress = "127.0.0.1";
    vtutil::DeviceSession session(state);
    session.SetPassword("admin");
    session.ConnectDevice(vtutil::ConnectReason::Connect);
    if (!session.Connected()) {
        std::fprintf(stderr, "utility_job_child: cannot log in (%u)\n", session.LastResult());
        return 1;
    }
    vtutil::JobRequest request;
    request.target = argv[1];
    for (uint32_t i = 0; i < session.BoxCount(); ++i) request.boxes.push_back(session.BoxList()[i].BoxNo);
    const vtutil::JobOutcome outcome = vttest::RunJobWithoutWindow(session, request);
    return outcome.state == vtutil::kJobFinished ? 0 : 1;
}
