// Compile-time checks of the exported interface: signatures, inheritance and object sizes of
// the message and endpoint classes. scripts/legs/abi.sh compiles this file with the host
// compiler and with the PowerPC cross compiler; a failed static_assert fails the leg.
#include "LxIpcFifoSession.h"
#include "LxIpcMsgBuffer.h"
#include "LxIpcSession.h"
#include "LxTarvexDetectedMacMsg.h"
#include "LxTarvexMuxMsg.h"
#include "LxTarvexMuxMsgClient.h"
#include "LxTarvexMuxMsgServer.h"

#include <bitset>
#include <cstddef>
#include <type_traits>

namespace {

using Image = std::bitset<128>;
using Msg = LxTarvexDetectedMacMsg;
using Server = LxTarvexMuxMsgServer;
using Client = LxTarvexMuxMsgClient;

constexpr bool kIlp32 = sizeof(void*) == 4;

// Statuses and integer fields are 32-bit ints on both architectures.
static_assert(sizeof(int) == 4);

// --- messages ---
static_assert(std::is_polymorphic_v<LxTarvexMuxMsg> &&
              std::has_virtual_destructor_v<LxTarvexMuxMsg>);
static_assert(sizeof(LxTarvexMuxMsg) == sizeof(void*), "the base holds the vptr and nothing else");
static_assert(std::is_default_constructible_v<LxTarvexMuxMsg>);

// The base is there but not accessible from outside: a message never converts to it.
static_assert(std::is_base_of_v<LxTarvexMuxMsg, Msg>);
static_assert(!std::is_convertible_v<Msg*, LxTarvexMuxMsg*>);
static_assert(std::has_virtual_destructor_v<Msg>);
// A copy would leave two messages owning one image.
static_assert(!std::is_copy_constructible_v<Msg> && !std::is_copy_assignable_v<Msg>);

static_assert(std::is_constructible_v<Msg, unsigned short, Image*>);
static_assert(std::is_same_v<decltype(&Msg::GetActiveMacImage), Image* (Msg::*)() const>);
static_assert(std::is_same_v<decltype(&Msg::GetNetworkNumber), unsigned short (Msg::*)() const>);
static_assert(std::is_same_v<decltype(&Msg::Serialize), LxIpcMsgBuffer* (Msg::*)() const>);
static_assert(std::is_same_v<decltype(&Msg::DeSerialize), Msg* (*)(const unsigned char*, int)>);

// --- endpoints: singletons, constructed only through GetInstance ---
static_assert(std::has_virtual_destructor_v<Server> && std::has_virtual_destructor_v<Client>);
static_assert(!std::is_default_constructible_v<Server> && !std::is_copy_constructible_v<Server>);
static_assert(!std::is_default_constructible_v<Client> && !std::is_copy_constructible_v<Client>);

static_assert(std::is_same_v<decltype(&Server::GetInstance), Server* (*)()>);
static_assert(std::is_same_v<decltype(&Server::InitTarvexMuxMsgServer), bool (Server::*)()>);
static_assert(std::is_same_v<decltype(&Server::ReadFromClient), Msg* (Server::*)()>);
static_assert(std::is_same_v<decltype(&Server::SendToClient), int (Server::*)(Msg*)>);

static_assert(std::is_same_v<decltype(Client::s_readTimeout), int>);
static_assert(std::is_same_v<decltype(&Client::GetInstance), Client* (*)()>);
static_assert(std::is_same_v<decltype(&Client::InitTarvexMuxIpc), bool (Client::*)()>);
static_assert(std::is_same_v<decltype(&Client::SendRequest), int (Client::*)(Msg*)>);
static_assert(std::is_same_v<decltype(&Client::ReadResponse), Msg* (Client::*)()>);

// --- the IPC session operations the endpoints call through the vtable ---
static_assert(std::is_base_of_v<LxIpcSession, LxIpcFifoSession>);
static_assert(std::has_virtual_destructor_v<LxIpcSession>);
static_assert(std::is_same_v<decltype(&LxIpcSession::ReadData),
                             int (LxIpcSession::*)(unsigned char*, int, int*, int, int)>);
static_assert(std::is_same_v<decltype(&LxIpcSession::WriteData),
                             int (LxIpcSession::*)(const unsigned char*, int)>);

// --- object sizes against layout-compatible mirrors (the vptr first, then the members) ---
// The member order itself is checked from the debug information (abi/layout.ppc.expected).
struct MsgMirror {
    const void* vptr;
    unsigned short networkNumber;
    Image* activeMacImage;
};
struct ServerMirror {
    const void* vptr;
    Server::ReadState readState;
    unsigned char* rxBuffer;
    unsigned char* rxCursor;
    int bytesRemaining;
    LxIpcFifoSession* session;
};
struct ClientMirror {
    const void* vptr;
    bool ipcReady;
    LxIpcFifoSession* session;
};

static_assert(sizeof(Msg) == sizeof(MsgMirror) && alignof(Msg) == alignof(MsgMirror));
static_assert(sizeof(Server) == sizeof(ServerMirror) && alignof(Server) == alignof(ServerMirror));
static_assert(sizeof(Client) == sizeof(ClientMirror) && alignof(Client) == alignof(ClientMirror));
static_assert(sizeof(Server::ReadState) == 4);

// On the 32-bit target: the sizes and offsets the board's applications are built against.
static_assert(!kIlp32 || (sizeof(Msg) == 12 && offsetof(MsgMirror, networkNumber) == 4 &&
                          offsetof(MsgMirror, activeMacImage) == 8));
static_assert(!kIlp32 ||
              (sizeof(Server) == 24 && offsetof(ServerMirror, readState) == 4 &&
               offsetof(ServerMirror, rxBuffer) == 8 && offsetof(ServerMirror, rxCursor) == 12 &&
               offsetof(ServerMirror, bytesRemaining) == 16 &&
               offsetof(ServerMirror, session) == 20));
static_assert(!kIlp32 || (sizeof(Client) == 12 && offsetof(ClientMirror, ipcReady) == 4 &&
                          offsetof(ClientMirror, session) == 8));

} // namespace
