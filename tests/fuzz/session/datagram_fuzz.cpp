// Fuzz target: session and discovery datagram decoders, and message field reads.
// Whatever decodes must re-encode to the same bytes (the encoding is canonical).
#include "platform/session/wire.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace wire = session::wire;
    const std::span<const uint8_t> in(data, size);
    if (auto p = wire::Decode(in)) {
        std::vector<uint8_t> again;
        wire::Encode(*p, again);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
        // An application body is read field by field as a receiver would.
        if (auto* d = std::get_if<wire::Data>(&*p)) {
            session::Message m(std::vector<uint8_t>(d->body.begin(), d->body.end()));
            try {
                while (m.Remaining() > 0) {
                    switch (m.ReadByte() % 4) {
                    case 0:
                        m.ReadLong();
                        break;
                    case 1:
                        m.ReadDouble();
                        break;
                    case 2:
                        m.ReadString();
                        break;
                    default:
                        break;
                    }
                }
            } catch (const session::MessageReadError&) {
            }
        }
    }
    if (auto q = wire::DecodeEnumRequest(in)) {
        std::vector<uint8_t> again;
        wire::EncodeEnumRequest(*q, again);
        if (again.size() != size) std::abort();
    }
    if (auto r = wire::DecodeEnumReply(in)) {
        std::vector<uint8_t> again;
        wire::EncodeEnumReply(*r, again);
        if (again.size() != size) std::abort();
    }
    return 0;
}
