#include "boxcalls/box_call.hpp"

#include "session/result.hpp"

namespace vtbox {

BoxReply CallBox(VTMFPSESSION *session, const std::string &path) {
    BoxReply reply;
    reply.buffer.reset(SendBoxRequest(session, path));
    if (!reply.buffer) RaiseLastError();
    std::string why;
    reply.doc = LoadReplyDocument(reply.buffer.get(), &why);
    if (!reply.doc) Raise(vt::Code::INVALID_DATA, "the reply to " + RequestForDetail(path) + " is refused: " + why);
    std::string result;
    try {
        result = NodeText(*reply.doc, "BoxNwLib/Message/Result");
        CheckBoxResult(result);
    } catch (const BoxError &e) {
        AddFailureContext(e.code(), "the reply to " + RequestForDetail(path));
        throw;
    }
    return reply;
}

}  // namespace vtbox
