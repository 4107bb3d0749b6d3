#include "jobs/long_job.hpp"

#include <string>

#include "ftp/ftp_session.hpp"
#include "session/result.hpp"

namespace vtbox {

LongJob::LongJob(const char *name, VTPROGRESSINFO *record, HANDLE progressEvent, HANDLE cancelEvent)
    : cancelScope_(cancelEvent), name_(name), progress_(record, progressEvent, cancelEvent) {}

void LongJob::Start(const VTMFPSESSION *session) {
    OutputDebugStringA(("\n " + std::string(name_) + " STARTS").c_str());
    ResetDownloadedBytes();
    if (session && !keepAlive_.Start(session)) Raise(vt::Code::INTERNAL_ERROR);
}

void LongJob::Finish() {
    progress_.SetPercent(100);
    progress_.SetPhase(VTPHASE_FINISHED);
    progress_.Signal();
    keepAlive_.Stop();
    OutputDebugStringA((std::string(name_) + " Complete... \n").c_str());
}

void LongJob::MarkFailed() {
    progress_.SetPhase(VTPHASE_FAILED);
    progress_.Signal();
}

}  // namespace vtbox

extern "C" uint64_t vtBoxGetDownloadedBytes(void) { return vtbox::DownloadedBytes(); }
