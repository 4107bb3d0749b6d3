#include "session_close.hpp"

#include "deadline.hpp"
#include "vthandles.hpp"

namespace vtjobs {

bool CloseSession(VTMFPSESSION *session, std::chrono::seconds bound, HANDLE stop) {
    if (session->ConnectHandle == nullptr && session->SessionId == 0) return true;
    vt::OwnedHandle own;
    if (!stop) {
        own = vt::NewEvent(true);
        stop = own.get();
    }
    {
        Deadline deadline(stop, bound);
        vtBoxSetRequestCancelEvent(session, stop);
        vtBoxCloseConnection(session);
    }
    return WaitForSingleObject(stop, 0) != WAIT_OBJECT_0;
}

}  // namespace vtjobs
