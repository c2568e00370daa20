// velmoro.tframe.comm._wirecodec: the terminal link's frames and the msgpack
// coding of its messages, as the wire module configures them at import, and
// the channel the callers of one connection share.
#include "channel.hpp"
#include "codec.hpp"
#include "decode.hpp"
#include "encode.hpp"
#include "reader.hpp"
#include "seal.hpp"
#include "sockio.hpp"
#include "waiter.hpp"

#include "vm/module.hpp"
#include "vm/numpy.hpp"

namespace wirecodec {
namespace {

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(configure, "namespace, extensions",
                "Hands the codec the wire module's globals (read at call time: _default, _DECODERS, FrameError, "
                "MAX_FRAME) and its extension types: tuples (class, code, rule[, detail]). Numeric arrays are "
                "coded natively while the globals _default, _array and _DECODERS[_ARRAY] are the "
                "_default, _array and _decode_array given now."),
    VM_FUNCTION(encode, "value", "The msgpack body of a value (TypeError for a value the wire does not carry)."),
    VM_FUNCTION(frame, "message", "One frame (length prefix and body) holding `message`."),
    VM_FUNCTION(decode, "body", "The value of a msgpack body; FrameError when it is not one."),
    VM_FUNCTION(thread_waiter, "",
                "This thread's Waiter, its reply cleared. A thread waiting on the link sleeps on it until woken, "
                "for what it waits for (set as its reply) or for its turn to read. Each thread keeps one, reset "
                "for every wait: a wake given before it sleeps, or left from a wait that ended, is kept, and a "
                "sleeper woken for nothing only looks again."),
    VM_FUNCTION(send, "sock, data",
                "Writes all of `data` to `sock` (a socket or its descriptor); what the socket takes at once with "
                "the GIL held, the rest as the socket's own sendall does (a descriptor: with the GIL let go, "
                "bounded by its send time-out). BlockingIOError when a time-out passes (part of `data` may have "
                "left), OSError when the write fails."),
};

void exec(vm::Module& m) {
    vm::numpy::import();
    m.add(kFunctions);
    register_frame_reader(m);
    register_waiter(m);
    register_channel(m);
    register_seal(m);
}

}  // namespace
}  // namespace wirecodec

VM_MODULE(_wirecodec,
          "Frames and msgpack coding of the terminal link's messages; the channel of a connection and the seal "
          "of its frames.",
          wirecodec::exec)
