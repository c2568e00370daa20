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

void exec(vm::Module& m) {
    vm::numpy::import();
    register_codec(m);
    register_encode(m);
    register_decode(m);
    register_sockio(m);
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
