// The two FIFOs between the server and its clients. Every client shares the one reply FIFO.
#ifndef TARVEX_FIFOS_H
#define TARVEX_FIFOS_H

namespace zam::endpoint {

constexpr const char* kServerFifoName = "TarMuxMsgServerIpc"; // requests, read by the server
constexpr const char* kClientFifoName = "TarMuxMsgClientIpc"; // replies, read by the client

} // namespace zam::endpoint

#endif
