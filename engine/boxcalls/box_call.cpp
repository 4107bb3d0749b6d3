#include "boxcalls/box_call.hpp"

#include "session/result.hpp"

namespace vtbox {

BoxReply CallBox(VTMFPSESSION *session, const std::string &path) {
    BoxReply reply;
    reply.buffer.reset(SendBoxRequest(session, path));
    if (!reply.buffer) RaiseLastError();
    reply.doc = LoadReplyDocument(reply.buffer.get());
    if (!reply.doc) Raise(vt::Code::InvalidData);
    CheckBoxResult(NodeText(*reply.doc, "BoxNwLib/Message/Result"));
    return reply;
}

}  // namespace vtbox
